// libFuzzer target: the configuration text as a server may send it, and the
// tokenizer under any delimiter. Whatever the bytes, nothing but an http(s)
// address shorter than 2,048 characters is ever to be opened, and the fields
// give back the text they were cut from.
#include "app/Configuration.h"
#include "app/util/StringTokenizer.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckSplit(const std::string& text, const std::string& delimiter)
{
    const StringTokenizer tok(text, delimiter);
    std::string joined;
    for (int i = 0; i < tok.GetCount(); ++i) {
        const std::string field = tok.GetToken(static_cast<unsigned>(i));
        if (!delimiter.empty() && field.find(delimiter) != std::string::npos)
            std::abort();  // a field holds the delimiter
        joined += (i > 0 ? delimiter : "") + field;
    }
    if (joined != text && joined + delimiter != text)
        std::abort();  // the fields do not give back the text
}

bool WebAddress(const QString& a)
{
    return a.size() < 2048 && (a.startsWith("http://", Qt::CaseInsensitive) || a.startsWith("https://", Qt::CaseInsensitive));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string text = body.substr(0, body.find('\0'));
    CheckSplit(text, "|");
    const ConfigurationDecision d = DecideConfiguration(body);
    for (const QString* opened : {&d.homepageToOpen, &d.pageToOpen})
        if (!opened->isEmpty() && !WebAddress(*opened))
            std::abort();  // something other than a web address would be opened
    if (size > 0) {
        const std::size_t length = std::min<std::size_t>(data[0] & 3u, size - 1);
        CheckSplit(body.substr(1 + length), body.substr(1, length));
    }
    return 0;
}
