#include "app/util/ShellUtil.h"
#include "app/util/StringTokenizer.h"

#include <QByteArray>
#include <QString>

#include <cstring>
#include <string>

namespace {

bool KeptAsIs(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != '\0' && std::strchr("=%+;:@$,!*'()~-._", c) != nullptr;
}

// Escapes every byte of a UTF-8 segment that is not kept as it is.
std::string EscapeSegment(const std::string& segment)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(segment.size() * 3);
    for (unsigned char c : segment) {
        if (KeptAsIs(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

} // namespace

bool EscapeUrlQuery(char16_t* buffer)
{
    if (buffer == nullptr)
        return false;
    std::size_t length = 0;
    while (length < kShellTextCapacity && buffer[length] != u'\0')
        ++length;
    if (length == kShellTextCapacity)
        return false; // not a NUL-terminated text of this buffer's size

    const QByteArray narrow =
        QString::fromUtf16(buffer, static_cast<qsizetype>(length)).toUtf8();
    const StringTokenizer tokens(std::string(narrow.constData(), narrow.size()), "?");
    if (tokens.GetCount() < 2)
        return true;

    const std::string escaped = EscapeSegment(tokens.GetToken(1));
    const std::string base = tokens.GetToken(0);
    const QString result = QString::fromUtf8(base.data(), static_cast<qsizetype>(base.size()))
                           + QLatin1Char('?')
                           + QString::fromLatin1(escaped.data(), static_cast<qsizetype>(escaped.size()));
    if (static_cast<std::size_t>(result.size()) + 1 > kShellTextCapacity)
        return false;

    std::memcpy(buffer, result.utf16(), static_cast<std::size_t>(result.size()) * sizeof(char16_t));
    buffer[result.size()] = u'\0';
    return true;
}
