#include "framework/Utf8Locale.h"

#include <cstdlib>
#include <string>

void AfxUseUtf8Locale()
{
    const char* lang = std::getenv("LANG");
    std::string value = lang != nullptr ? lang : "";
    const std::string utf8 = ".UTF-8";
    if (value.size() >= utf8.size() && value.compare(value.size() - utf8.size(), utf8.size(), utf8) == 0) return;
    if (const auto cut = value.find_first_of(".@"); cut != std::string::npos) value.erase(cut);
    if (value.empty() || value == "POSIX") value = "C";
    ::setenv("LANG", (value + utf8).c_str(), 1);
}
