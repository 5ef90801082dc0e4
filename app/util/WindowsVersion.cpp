#include "app/util/ShellUtil.h"

#include <string>

namespace {

// Stand-in for the Windows version query. This system is not Windows, so
// the query fails, as GetVersionExW does when it cannot answer.
bool QueryWindowsVersion(unsigned& major, unsigned& minor, std::u16string& servicePack)
{
    major = 0;
    minor = 0;
    servicePack.clear();
    return false;
}

} // namespace

int ClassifyWindowsVersion(unsigned major, unsigned minor, const char16_t* servicePack)
{
    const unsigned code = major * 10 + minor;
    if (code < 51)
        return 0;
    if (code == 51) {
        const std::u16string pack = servicePack != nullptr ? servicePack : u"";
        if (pack == u"Service Pack 1")
            return 0;
        return pack.empty() ? 0 : 1;
    }
    if (code == 52)
        return 0;
    return 2;
}

int GetWindowsVersionClass()
{
    unsigned major = 0;
    unsigned minor = 0;
    std::u16string servicePack;
    if (!QueryWindowsVersion(major, minor, servicePack))
        return 0;
    return ClassifyWindowsVersion(major, minor, servicePack.c_str());
}
