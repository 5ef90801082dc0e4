// Fuzz target: the configuration text as it arrives from the server, split
// at "|" and read field by field, and the tokenizer with any delimiter.
//
// The input is the body of the configuration reply. The first byte also
// picks an arbitrary delimiter for a second split (its low bits give the
// length, the bytes after it the delimiter), so the tokenizer's search is
// exercised with multi-byte and self-overlapping delimiters too.
#include "app/util/StringTokenizer.h"

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

// What the start routine decides from a configuration text: which question
// or message, which fields it opens or fetches. Returns a small code so the
// optimiser cannot drop the reads.
int Decide(const std::string& text)
{
    const StringTokenizer fields(text, "|");
    const int count = fields.GetCount();
    if (count < 2)
        return 2;                                  // message (2)
    const std::string version = fields.GetToken(0);
    if (version != "7")
        return version == "-1" ? 10 : 11;          // retire / update question
    int code = 0;
    if (!fields.GetToken(2).empty()) code |= 0x100;  // notice box
    if (!fields.GetToken(3).empty()) code |= 0x200;  // page opened
    if (fields.GetToken(4).empty())
        return code | 3;                           // message (3)
    const std::string webSeed = count >= 6 ? fields.GetToken(5) : std::string();
    if (webSeed.size() > 12) code |= 0x400;        // web seed added
    return code;
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
    volatile int decision = Decide(text);
    (void)decision;

    if (size > 0) {
        const std::size_t delimLen = std::min<std::size_t>(data[0] & 3u, size - 1);
        const std::string delimiter = body.substr(1, delimLen);
        CheckSplit(body.substr(1 + delimLen), delimiter);
    }
    return 0;
}
