#include "framework/Utf8Locale.h"

#include <cstdlib>
#include <string>
#include <string_view>

void AfxUseUtf8Locale()
{
    const char* lang = std::getenv("LANG");
    const std::string_view value = lang != nullptr ? lang : "";
    constexpr std::string_view utf8 = ".UTF-8";
    if (value.ends_with(utf8)) return;
    std::string_view language = value.substr(0, value.find_first_of(".@"));
    if (language.empty() || language == "POSIX") language = "C";
    std::string result(language);
    result.append(utf8);
    ::setenv("LANG", result.c_str(), 1);
}
