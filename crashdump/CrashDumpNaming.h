#pragma once
// Naming of crash-dump files: the pure, allocation-free text work behind
// CCrashDumpWriter. Everything here is async-signal-safe (no heap, no locks,
// no stdio), because the file name is built inside the fatal-signal handler.

#include <cstddef>
#include <cstdint>

namespace CrashDumpNaming {

// MAX_PATH of the original program: the path buffers hold 260 characters.
constexpr std::size_t kMaxPath = 260;

// Broken-down local time, as the handler reads it (the fields of SYSTEMTIME
// that the file name uses).
struct SYSTEMTIME {
    unsigned short wYear;
    unsigned short wMonth;
    unsigned short wDayOfWeek;
    unsigned short wDay;
    unsigned short wHour;
    unsigned short wMinute;
    unsigned short wSecond;
    unsigned short wMilliseconds;
};

// strncpy_s(dst, dstSize, src, count) for the case the writer uses
// (count < dstSize): copies at most `count` characters and always ends the
// text with NUL.
void CopyTruncated(char* dst, std::size_t dstSize, const char* src, std::size_t count);

// The directory prefix: "%s/" formatted with a capacity of `capacity`
// characters including the NUL, so at most capacity - 1 characters are kept;
// a longer result is cut. Returns false when it was cut.
bool FormatDirPrefix(char* dst, std::size_t capacity, const char* directory);

// The dump path "%s%s_%04d-%02d-%02d_%02d-%02d-%02d.DMP" (prefix, base name,
// year, month, day, hour, minute, second), cut to capacity - 1 characters.
// Returns false when it was cut (the cut path is still used).
bool FormatDumpPath(char* dst, std::size_t capacity, const char* dirPrefix,
                    const char* baseName, const SYSTEMTIME& time);

// The executable's file name without directory and extension, from its full
// path: "/opt/corvane/corvane" gives "corvane", "/x/app.exe" gives "app".
// dst holds kMaxPath + 1 characters.
void BaseNameFromModulePath(char (&dst)[kMaxPath + 1], const char* modulePath);

// Civil time from seconds since the epoch plus a fixed offset from UTC (in
// seconds, east positive), by pure arithmetic (proleptic Gregorian calendar).
SYSTEMTIME SystemTimeFromUnix(std::int64_t unixSeconds, long utcOffsetSeconds,
                              int milliseconds = 0);

} // namespace CrashDumpNaming
