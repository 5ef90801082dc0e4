// The naming of dump files (pure functions) and the writer's inert set-up.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "crashdump/CrashDumpNaming.h"
#include "crashdump/CrashDumpWriter.h"

using namespace CrashDumpNaming;
namespace fs = std::filesystem;

namespace {

SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME t{};
    t.wYear = static_cast<unsigned short>(year);
    t.wMonth = static_cast<unsigned short>(month);
    t.wDay = static_cast<unsigned short>(day);
    t.wHour = static_cast<unsigned short>(hour);
    t.wMinute = static_cast<unsigned short>(minute);
    t.wSecond = static_cast<unsigned short>(second);
    return t;
}

std::string DumpPath(const char* prefix, const char* base, const SYSTEMTIME& t, bool* complete = nullptr)
{
    char path[kMaxPath];
    std::memset(path, 'Z', sizeof path);
    bool ok = FormatDumpPath(path, kMaxPath, prefix, base, t);
    if (complete != nullptr)
        *complete = ok;
    return path;
}

TEST(CrashDumpNaming, FormatsNameFromPrefixBaseAndLocalTime)
{
    struct Case {
        const char* prefix;
        const char* base;
        SYSTEMTIME time;
        const char* expected;
    } cases[] = {
        {"", "app", Time(2011, 3, 7, 14, 3, 7), "app_2011-03-07_14-03-07.DMP"},
        {"dumps/", "app", Time(2011, 3, 7, 14, 3, 7), "dumps/app_2011-03-07_14-03-07.DMP"},
        {"", "corvane", Time(999, 1, 2, 0, 0, 0), "corvane_0999-01-02_00-00-00.DMP"},
        {"/tmp/x/", "", Time(2026, 12, 31, 23, 59, 59), "/tmp/x/_2026-12-31_23-59-59.DMP"},
        {"", "a", Time(30827, 12, 31, 9, 8, 1), "a_30827-12-31_09-08-01.DMP"},
    };
    for (const Case& c : cases) {
        bool complete = false;
        EXPECT_EQ(DumpPath(c.prefix, c.base, c.time, &complete), c.expected);
        EXPECT_TRUE(complete);
    }
}

TEST(CrashDumpNaming, TwoCrashesInOneSecondShareTheName)
{
    SYSTEMTIME first = SystemTimeFromUnix(1299506587, 0, 10);
    SYSTEMTIME second = SystemTimeFromUnix(1299506587, 0, 990);
    EXPECT_EQ(DumpPath("", "app", first), DumpPath("", "app", second));
}

TEST(CrashDumpNaming, PathIsCutAt259Characters)
{
    const SYSTEMTIME t = Time(2011, 3, 7, 14, 3, 7);
    const std::string suffix = "_2011-03-07_14-03-07.DMP"; // 24 characters
    for (size_t baseLength : {size_t{234}, size_t{235}, size_t{236}, size_t{260}}) {
        std::string base(baseLength, 'b');
        std::string full = base + suffix;
        bool complete = true;
        std::string path = DumpPath("", base.c_str(), t, &complete);
        EXPECT_EQ(path, full.substr(0, 259)) << baseLength;
        EXPECT_EQ(complete, full.size() <= 259) << baseLength;
    }
    // The prefix counts too.
    std::string prefix(250, 'd');
    prefix += "/";
    EXPECT_EQ(DumpPath(prefix.c_str(), "app", t), (prefix + "app_2011-03-07_14-03-07.DMP").substr(0, 259));
}

TEST(CrashDumpNaming, BaseNameIsCutAt260Characters)
{
    char dst[kMaxPath + 1];
    std::memset(dst, 'Z', sizeof dst);
    std::string longName(300, 'n');
    CopyTruncated(dst, sizeof dst, longName.c_str(), kMaxPath);
    EXPECT_EQ(std::string(dst), longName.substr(0, 260));

    CopyTruncated(dst, sizeof dst, "app", kMaxPath);
    EXPECT_STREQ(dst, "app");
    CopyTruncated(dst, sizeof dst, "", kMaxPath);
    EXPECT_STREQ(dst, "");
}

TEST(CrashDumpNaming, DirectoryPrefixEndsInSlashAndIsCutAt259)
{
    char dst[kMaxPath + 1];
    struct Case {
        std::string directory;
        std::string expected;
        bool complete;
    } cases[] = {
        {"dumps", "dumps/", true},
        {"/var/tmp/dumps", "/var/tmp/dumps/", true},
        {std::string(258, 'd'), std::string(258, 'd') + "/", true},
        {std::string(259, 'd'), std::string(259, 'd'), false},
        {std::string(300, 'd'), std::string(259, 'd'), false},
    };
    for (const Case& c : cases) {
        std::memset(dst, 'Z', sizeof dst);
        EXPECT_EQ(FormatDirPrefix(dst, kMaxPath, c.directory.c_str()), c.complete) << c.directory.size();
        EXPECT_EQ(std::string(dst), c.expected) << c.directory.size();
    }
}

TEST(CrashDumpNaming, DefaultBaseNameIsExecutableFileNameWithoutExtension)
{
    struct Case {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/opt/corvane/corvane", "corvane"},
        {"/x/Setup/app.exe", "app"},
        {"/x/app.tar.exe", "app"},
        {"/home/u/.local/bin/corvane", "corvane"}, // a dot in a directory
        {"/home/u/v1.2/corvane", "corvane"},
        {"corvane", "corvane"},
        {"/", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        char dst[kMaxPath + 1];
        std::memset(dst, 'Z', sizeof dst);
        BaseNameFromModulePath(dst, c.path);
        EXPECT_STREQ(dst, c.expected) << c.path;
    }
}

TEST(CrashDumpNaming, LocalTimeArithmeticMatchesTheCLibrary)
{
    const std::int64_t instants[] = {0, 59, 86399, 86400, 951782400 /* 2000-02-29 */,
                                     1299506587, 1709164800 /* 2024-02-29 */, 4107542400 /* 2100-03-01 */,
                                     1798761599, 253402300799 /* 9999-12-31 */};
    const long offsets[] = {0, 3600, -5 * 3600, 9 * 3600 + 1800, 14 * 3600, -12 * 3600};
    for (std::int64_t instant : instants) {
        for (long offset : offsets) {
            time_t shifted = static_cast<time_t>(instant + offset);
            tm expected{};
            ASSERT_NE(gmtime_r(&shifted, &expected), nullptr);
            SYSTEMTIME t = SystemTimeFromUnix(instant, offset);
            SCOPED_TRACE(std::to_string(instant) + " " + std::to_string(offset));
            EXPECT_EQ(t.wYear, expected.tm_year + 1900);
            EXPECT_EQ(t.wMonth, expected.tm_mon + 1);
            EXPECT_EQ(t.wDay, expected.tm_mday);
            EXPECT_EQ(t.wDayOfWeek, expected.tm_wday);
            EXPECT_EQ(t.wHour, expected.tm_hour);
            EXPECT_EQ(t.wMinute, expected.tm_min);
            EXPECT_EQ(t.wSecond, expected.tm_sec);
        }
    }
}

// This test program has no libdbghelp.so beside it, so the writer is inert:
// the directory is still created, but no signal action changes.
TEST(CrashDumpWriter, WithoutTheLibraryCreatesTheDirectoryButInstallsNothing)
{
    if (fs::exists(fs::read_symlink("/proc/self/exe").parent_path() / CORVANE_DBGHELP_LIBRARY))
        GTEST_SKIP() << "a dump-writing library lies beside this test program";
    char tmpl[] = "/tmp/corvane-crashdump-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl;

    const int signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
    struct sigaction before[5];
    for (int i = 0; i < 5; ++i)
        sigaction(signals[i], nullptr, &before[i]);

    {
        CCrashDumpWriter writer("app", (root / "dumps").c_str());
        EXPECT_TRUE(fs::is_directory(root / "dumps"));
        CCrashDumpWriter again("app", (root / "dumps").c_str()); // exists: fine
        CCrashDumpWriter missingParent(nullptr, (root / "no" / "dumps").c_str());
        EXPECT_FALSE(fs::exists(root / "no"));
        for (int i = 0; i < 5; ++i) {
            struct sigaction now {};
            sigaction(signals[i], nullptr, &now);
            EXPECT_EQ(now.sa_handler, before[i].sa_handler) << signals[i];
            EXPECT_EQ(now.sa_flags, before[i].sa_flags) << signals[i];
        }
    }
    for (int i = 0; i < 5; ++i) {
        struct sigaction now {};
        sigaction(signals[i], nullptr, &now);
        EXPECT_EQ(now.sa_handler, before[i].sa_handler) << signals[i];
    }
    fs::remove_all(root);
}

} // namespace
