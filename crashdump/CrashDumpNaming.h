#pragma once
// Naming of crash-dump files: the pure, allocation-free text work behind
// CCrashDumpWriter. Everything here but BuildUtcOffsetTable is
// async-signal-safe (no heap, no locks, no stdio), because the file name is
// built inside the fatal-signal handler.

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

// The local zone's offsets from UTC (seconds, east positive) from a given
// moment on: the one in force then, and the changes (daylight saving and
// back) that follow within the span looked at. The signal handler cannot
// call localtime_r (it takes the time-zone lock), so the writer finds the
// changes in advance and the handler only looks them up. Past the last
// change found, the last offset holds.
constexpr int kMaxZoneChanges = 16;
struct UtcOffsetTable {
    long initial;
    int count;
    std::int64_t at[kMaxZoneChanges]; // first second of the new offset
    long offset[kMaxZoneChanges];
};

// Fills the table from the C library's local time (TZ), for the span from
// `now` on (two years by default). Not async-signal-safe.
void BuildUtcOffsetTable(UtcOffsetTable& table, std::int64_t now,
                         std::int64_t span = 2 * 366 * 86400);

// The offset in force at `unixSeconds`.
long UtcOffsetAt(const UtcOffsetTable& table, std::int64_t unixSeconds);

} // namespace CrashDumpNaming
