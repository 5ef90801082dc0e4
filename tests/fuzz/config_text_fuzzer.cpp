// Fuzz target: the configuration text as it arrives from the server, split
// at "|" and decided on as the start routine does, and the tokenizer with
// any delimiter.
//
// The input is the body of the configuration reply. The first byte also
// picks an arbitrary delimiter for a second split (its low bits give the
// length, the bytes after it the delimiter), so the tokenizer's search is
// exercised with multi-byte and self-overlapping delimiters too.
#include "app/Configuration.h"
#include "app/util/StringTokenizer.h"

#include <QLatin1String>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The longest body the program accepts: its buffer holds 512,000 bytes and
// the body must leave room for its NUL.
constexpr std::size_t kMaxBody = 511999;

[[noreturn]] void Fail(const char* what, const std::string& text)
{
    std::fprintf(stderr, "invariant broken: %s (text of %zu bytes)\n", what, text.size());
    std::abort();
}

// Every split must give back the text: the tokens joined with the delimiter
// are the text itself, or the text without one trailing delimiter; no token
// holds the delimiter; reading at or past the count gives an empty text.
void CheckSplit(const std::string& text, const std::string& delimiter)
{
    const StringTokenizer tok(text, delimiter);
    const int count = tok.GetCount();
    if (count < 0)
        Fail("negative count", text);
    if (text.empty()) {
        if (count != 0)
            Fail("an empty text has fields", text);
        return;
    }
    if (delimiter.empty()) {
        if (count != 1 || tok.GetToken(0) != text)
            Fail("an empty delimiter cut the text", text);
        return;
    }
    std::string joined;
    for (int i = 0; i < count; ++i) {
        const std::string field = tok.GetToken(static_cast<unsigned>(i));
        if (field.find(delimiter) != std::string::npos)
            Fail("a field holds the delimiter", text);
        if (i > 0)
            joined += delimiter;
        joined += field;
    }
    if (joined != text && joined + delimiter != text)
        Fail("the fields do not give back the text", text);
    if (!tok.GetToken(static_cast<unsigned>(count)).empty() ||
        !tok.GetToken(static_cast<unsigned>(count) + 1000u).empty())
        Fail("a field past the count is not empty", text);
}

bool LooksLikeWebAddress(const QString& a)
{
    return a.size() < 2048 && (a.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                               a.startsWith(QLatin1String("https://"), Qt::CaseInsensitive));
}

// What the start routine decides from a configuration text must agree with
// the text's fields: the action from field 0 and the count, a page or home
// page only when it is a web address, the web seed only from a sixth field.
void CheckDecision(const std::string& text)
{
    const ConfigurationDecision d = DecideConfiguration(text);
    const StringTokenizer fields(text, "|");
    const int count = fields.GetCount();
    using Action = ConfigurationDecision::Action;
    if (count < 2) {
        if (d.action != Action::TooFewFields)
            Fail("fewer than 2 fields must give message (2)", text);
        return;
    }
    const std::string version = fields.GetToken(0);
    const Action expected = version == "7" ? Action::Proceed : version == "-1" ? Action::Retire : Action::Update;
    if (d.action != expected)
        Fail("the action does not follow field 0", text);
    for (const QString* opened : {&d.homepageToOpen, &d.pageToOpen})
        if (!opened->isEmpty() && (!LooksLikeWebAddress(*opened) || !IsOpenableWebAddress(*opened)))
            Fail("something other than a web address would be opened", text);
    if (d.action != Action::Proceed) {
        if (!d.pageToOpen.isEmpty() || !d.webSeed.empty() || !d.torrentAddress.isEmpty())
            Fail("fields past 1 read on the question's path", text);
        return;
    }
    if (d.notice.isEmpty() != fields.GetToken(2).empty())
        Fail("the notice does not follow field 2", text);
    if (d.torrentAddress.isEmpty() != fields.GetToken(4).empty())
        Fail("the .torrent address does not follow field 4", text);
    if (d.webSeed != (count >= 6 ? fields.GetToken(5) : std::string()))
        Fail("the web seed is not field 5 byte for byte", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > kMaxBody)
        return 0;
    const std::string body(reinterpret_cast<const char*>(data), size);
    // The program reads the buffer up to its first NUL byte.
    const std::string text = body.substr(0, body.find('\0'));

    CheckSplit(text, "|");
    CheckDecision(text);

    if (size > 0) {
        const std::size_t delimLen = std::min<std::size_t>(data[0] & 3u, size - 1);
        const std::string delimiter = body.substr(1, delimLen);
        CheckSplit(body.substr(1 + delimLen), delimiter);
    }
    return 0;
}
