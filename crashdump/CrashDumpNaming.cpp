#include "crashdump/CrashDumpNaming.h"

#include <ctime>

namespace CrashDumpNaming {

namespace {

// A bounded text builder with StringCchPrintfA's cut: it keeps at most
// capacity - 1 characters and always ends with NUL.
class BoundedText {
public:
    BoundedText(char* dst, std::size_t capacity) : m_dst(dst), m_capacity(capacity)
    {
        if (m_capacity > 0)
            m_dst[0] = '\0';
    }

    void Append(const char* text)
    {
        for (; text != nullptr && *text != '\0'; ++text)
            Put(*text);
    }

    // Decimal, zero-padded to at least `width` digits (printf's "%0*d").
    void AppendNumber(long value, int width)
    {
        char digits[24];
        int n = 0;
        unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value)
                                            : static_cast<unsigned long>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            Put('-');
            --width;
        }
        for (int pad = width - n; pad > 0; --pad)
            Put('0');
        while (n > 0)
            Put(digits[--n]);
    }

    bool Complete() const { return !m_cut; }

private:
    void Put(char c)
    {
        if (m_length + 1 < m_capacity) {
            m_dst[m_length++] = c;
            m_dst[m_length] = '\0';
        } else {
            m_cut = true;
        }
    }

    char* m_dst;
    std::size_t m_capacity;
    std::size_t m_length = 0;
    bool m_cut = false;
};

long LibraryUtcOffset(std::int64_t unixSeconds)
{
    const time_t t = static_cast<time_t>(unixSeconds);
    tm local{};
    return localtime_r(&t, &local) != nullptr ? local.tm_gmtoff : 0;
}

} // namespace

void CopyTruncated(char* dst, std::size_t dstSize, const char* src, std::size_t count)
{
    if (dstSize == 0)
        return;
    std::size_t limit = count < dstSize - 1 ? count : dstSize - 1;
    std::size_t i = 0;
    for (; src != nullptr && i < limit && src[i] != '\0'; ++i)
        dst[i] = src[i];
    dst[i] = '\0';
}

bool FormatDirPrefix(char* dst, std::size_t capacity, const char* directory)
{
    BoundedText text(dst, capacity);
    text.Append(directory);
    text.Append("/");
    return text.Complete();
}

bool FormatDumpPath(char* dst, std::size_t capacity, const char* dirPrefix,
                    const char* baseName, const SYSTEMTIME& time)
{
    BoundedText text(dst, capacity);
    text.Append(dirPrefix);
    text.Append(baseName);
    text.Append("_");
    text.AppendNumber(time.wYear, 4);
    text.Append("-");
    text.AppendNumber(time.wMonth, 2);
    text.Append("-");
    text.AppendNumber(time.wDay, 2);
    text.Append("_");
    text.AppendNumber(time.wHour, 2);
    text.Append("-");
    text.AppendNumber(time.wMinute, 2);
    text.Append("-");
    text.AppendNumber(time.wSecond, 2);
    text.Append(".DMP");
    return text.Complete();
}

void BaseNameFromModulePath(char (&dst)[kMaxPath + 1], const char* modulePath)
{
    // The file-name part first: Linux executables usually have no extension,
    // so cutting at the last "." of the whole path would cut inside a
    // directory name such as ".local" and leave a wrong or empty base name.
    const char* name = modulePath;
    for (const char* p = modulePath; p != nullptr && *p != '\0'; ++p) {
        if (*p == '/')
            name = p + 1;
    }
    char work[kMaxPath + 1];
    CopyTruncated(work, sizeof work, name, kMaxPath);
    // The extension is removed, and then once more as the path splitter
    // does: "app.exe" -> "app", "app.tar.exe" -> "app".
    for (int pass = 0; pass < 2; ++pass) {
        char* dot = nullptr;
        for (char* p = work; *p != '\0'; ++p) {
            if (*p == '.')
                dot = p;
        }
        if (dot != nullptr)
            *dot = '\0';
    }
    CopyTruncated(dst, kMaxPath + 1, work, kMaxPath);
}

SYSTEMTIME SystemTimeFromUnix(std::int64_t unixSeconds, long utcOffsetSeconds, int milliseconds)
{
    std::int64_t local = unixSeconds + utcOffsetSeconds;
    std::int64_t days = local / 86400;
    std::int64_t secondOfDay = local % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Days since 1970-01-01 to year/month/day (H. Hinnant's civil_from_days).
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    std::int64_t weekday = (days % 7 + 7 + 4) % 7; // 1970-01-01 was a Thursday

    SYSTEMTIME st{};
    st.wYear = static_cast<unsigned short>(year);
    st.wMonth = static_cast<unsigned short>(month);
    st.wDayOfWeek = static_cast<unsigned short>(weekday);
    st.wDay = static_cast<unsigned short>(day);
    st.wHour = static_cast<unsigned short>(secondOfDay / 3600);
    st.wMinute = static_cast<unsigned short>(secondOfDay / 60 % 60);
    st.wSecond = static_cast<unsigned short>(secondOfDay % 60);
    st.wMilliseconds = static_cast<unsigned short>(milliseconds);
    return st;
}

void BuildUtcOffsetTable(UtcOffsetTable& table, std::int64_t now, std::int64_t span)
{
    // Day by day (zones change months apart, never twice in a day), then to
    // the second by bisection: a few hundred look-ups at start-up.
    constexpr std::int64_t kStep = 86400;
    table.initial = LibraryUtcOffset(now);
    table.count = 0;
    long current = table.initial;
    for (std::int64_t from = now; from < now + span && table.count < kMaxZoneChanges; from += kStep) {
        if (LibraryUtcOffset(from + kStep) == current)
            continue;
        std::int64_t before = from; // still `current`
        std::int64_t after = from + kStep; // changed
        while (after - before > 1) {
            const std::int64_t middle = before + (after - before) / 2;
            (LibraryUtcOffset(middle) == current ? before : after) = middle;
        }
        current = LibraryUtcOffset(after);
        table.at[table.count] = after;
        table.offset[table.count] = current;
        ++table.count;
        from = after - kStep; // go on from the change
    }
}

long UtcOffsetAt(const UtcOffsetTable& table, std::int64_t unixSeconds)
{
    long offset = table.initial;
    for (int i = 0; i < table.count && unixSeconds >= table.at[i]; ++i)
        offset = table.offset[i];
    return offset;
}

} // namespace CrashDumpNaming
