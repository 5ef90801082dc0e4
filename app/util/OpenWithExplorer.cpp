#include "app/util/ShellUtil.h"
#include "app/util/ProcessLauncher.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>

bool OpenWithExplorer(const char16_t* text)
{
    if (text == nullptr)
        return false;
    std::size_t length = 0;
    while (length < kShellTextCapacity && text[length] != u'\0')
        ++length;
    if (length >= kShellTextCapacity)
        return false; // too long for the copy: refuse rather than cut it

    std::array<char16_t, kShellTextCapacity> copy{};
    std::copy(text, text + length + 1, copy.begin());
    // Only a URL has a query to escape. A local folder is passed as it is:
    // unlike on other systems, a "?" may be part of a folder's name here.
    const bool localPath = copy[0] == u'/';
    if (!localPath && !EscapeUrlQuery(copy.data()))
        return false;

    // One argument, no shell: blanks, quotes and the like reach the handler
    // as they are. Whether it could be started is not reported.
    LaunchDetached(QStringLiteral("xdg-open"), QStringList{QString::fromUtf16(copy.data())});
    return true;
}
