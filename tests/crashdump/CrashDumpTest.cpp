// The crash-dump writer: the naming of its files, and crashes in a child
// process with the writer armed, their dumps opened by lldb. The child and
// libdbghelp.so are copied into a fresh folder per run, so "the library
// beside the executable" is under the test's control.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sstream>
#include <vector>

#include <signal.h>
#include <sys/wait.h>

#include "crashdump/CrashDumpNaming.h"

namespace fs = std::filesystem;

namespace {

TEST(CrashDumpNaming, PathAndDefaultBaseName)
{
    const CrashDumpNaming::SYSTEMTIME t{2011, 3, 1, 7, 14, 3, 7, 0};
    const std::string longBase(240, 'b');
    char path[CrashDumpNaming::kMaxPath];
    CrashDumpNaming::FormatDumpPath(path, sizeof path, "", "app", t);
    EXPECT_STREQ(path, "app_2011-03-07_14-03-07.DMP");
    CrashDumpNaming::FormatDumpPath(path, sizeof path, "", longBase.c_str(), t);
    EXPECT_EQ(path, (longBase + "_2011-03-07_14-03-07.DMP").substr(0, 259));
    for (auto [modulePath, expected] : {std::pair{"/home/u/.local/bin/corvane", "corvane"}, {"/x/app.exe", "app"}}) {
        char base[CrashDumpNaming::kMaxPath + 1];
        CrashDumpNaming::BaseNameFromModulePath(base, modulePath);
        EXPECT_STREQ(base, expected);
    }
}

// A zone of UTC+3 that moves to UTC+5 `seconds` from now.
std::string ZoneChangingIn(int seconds)
{
    const time_t at = time(nullptr) + seconds + 3 * 3600;
    tm t{};
    gmtime_r(&at, &t);
    char rule[64];
    std::snprintf(rule, sizeof rule, "XYZ-3ABC-5,%d/%02d:%02d:%02d,%d/0", t.tm_yday, t.tm_hour, t.tm_min, t.tm_sec,
                  (t.tm_yday + 180) % 365);
    return rule;
}

class CrashDump : public ::testing::Test {
protected:
    static fs::path MakeRoot()
    {
        char tmpl[] = "/tmp/corvane-crash-XXXXXX";
        return mkdtemp(tmpl) != nullptr ? tmpl : "";
    }
    void SetUp() override
    {
        ASSERT_FALSE(m_root.empty());
        fs::create_directories(m_root / "app");
        fs::create_directories(m_work);
        fs::copy_file(CRASHDUMP_CHILD, m_exe);
        fs::copy_file(CRASHDUMP_LIBRARY, m_root / "app" / "libdbghelp.so");
    }
    void TearDown() override { fs::remove_all(m_root); }

    // Runs the child ("MODE BASE DIR") in the work folder under the zone
    // `tz`, killed after 60 s; gives its exit code, or minus its signal.
    int Run(const std::string& args, const std::string& tz)
    {
        setenv("TZ", tz.c_str(), 1); // the names are reckoned here in it too
        tzset();
        const int status = std::system(("cd '" + m_work.string() + "' && ulimit -c 0 && ASAN_OPTIONS=handle_segv=0:"
                                        "handle_abort=0 timeout -s KILL 60 '" + m_exe + "' " + args).c_str());
        const int code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        return code > 128 ? 128 - code : code;
    }

    // The dumps (files starting "MDMP") in `dir`, smaller than `below` bytes.
    std::vector<fs::path> Dumps(const fs::path& dir, std::uintmax_t below = UINTMAX_MAX) const
    {
        std::vector<fs::path> dumps;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string head(4, '\0');
            std::ifstream(entry.path(), std::ios::binary).read(head.data(), 4);
            if (head == "MDMP" && entry.file_size() < below)
                dumps.push_back(entry.path());
        }
        return dumps;
    }

    const fs::path m_root = MakeRoot();
    const fs::path m_work = m_root / "work";
    std::string m_exe = (m_root / "app" / "crashdump_child").string();
};

// Now, by the clock the writer names its dumps by. time() reads the
// kernel's coarse clock, a tick or more behind it: a crash in the first
// milliseconds of a second, in a run that ends within that lag, would seem
// to come after the run.
time_t Now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

// The dump name of each second of [from, to], in this process's zone.
std::vector<std::string> NamesBetween(const std::string& base, time_t from, time_t to)
{
    std::vector<std::string> names;
    for (time_t t = from; t <= to; ++t) {
        tm parts{};
        localtime_r(&t, &parts);
        char text[40];
        std::strftime(text, sizeof text, "_%Y-%m-%d_%H-%M-%S.DMP", &parts);
        names.push_back(base + text);
    }
    return names;
}

struct Crash {
    const char* args;               // mode, base name, folder ("-": NULL)
    int result;                    // minus the signal, or the exit code
    const char* dumpFolder;
    const char* dumpBase;
    std::vector<const char*> shown; // in lldb's backtrace of all threads
};

TEST_F(CrashDump, CrashesLeaveOneDumpNamedInLocalTimeThatLldbUnwinds)
{
    const Crash crashes[] = {
        {"segv - -", -SIGSEGV, ".", "crashdump_child", {"signal SIGSEGV", "CrashByNullDereference"}},
        // Every thread is in the dump, not just the faulting one.
        {"abort-thread - -", -SIGABRT, ".", "crashdump_child",
         {"signal SIGABRT", "AbortOnSecondThread", "MainThreadWaitsForWorker"}},
        {"throw - -", -SIGABRT, ".", "crashdump_child", {"signal SIGABRT", "ThrowUncaught"}},
        // Written on the main thread's alternate signal stack.
        {"overflow - -", -SIGSEGV, ".", "crashdump_child", {"signal SIGSEGV", "OverflowTheStack"}},
        // The zone moves to daylight saving after start-up, before the crash.
        {"zone-change app dumps", -SIGSEGV, "dumps", "app", {"CrashByNullDereference"}},
    };
    for (const Crash& c : crashes) {
        SCOPED_TRACE(c.args);
        fs::remove_all(m_work);
        fs::create_directories(m_work);
        const time_t before = Now();
        EXPECT_EQ(Run(c.args, std::string(c.args).find("zone") == 0 ? ZoneChangingIn(2) : "XYZ-3"), c.result);
        const time_t after = Now();
        const std::vector<fs::path> dumps = Dumps(m_work / c.dumpFolder);
        ASSERT_EQ(dumps.size(), 1u);
        const std::vector<std::string> names = NamesBetween(c.dumpBase, before, after);
        EXPECT_EQ(std::count(names.begin(), names.end(), dumps[0].filename().string()), 1) << dumps[0];

        // lldb names each thread's frame and unwinds it (it overflows its
        // own stack on a stack overflow's endless frames, after the list).
        std::system(("timeout 120 lldb --batch -c '" + dumps[0].string() + "' -o 'thread list' -o 'thread backtrace "
                     "all -c 12' '" + m_exe + "' >'" + (m_root / "lldb").string() + "' 2>&1").c_str());
        std::stringstream bt;
        bt << std::ifstream(m_root / "lldb").rdbuf();
        for (const char* text : c.shown)
            EXPECT_NE(bt.str().find(text), std::string::npos) << text << " not in:\n" << bt.str();
    }
}

TEST_F(CrashDump, DestructorPutsAPreviousHandlerBack)
{
    EXPECT_EQ(Run("restores - -", "XYZ-3"), 0);
}

// The dump's name is predictable and its folder may be shared: a link
// planted under it is never followed, while a dump of ours under it (two
// crashes in one second) is replaced. Staged under every name the crash
// can get.
TEST_F(CrashDump, NeverWritesThroughAPlantedLinkButReplacesItsOwnDump)
{
    constexpr std::uintmax_t kStaleSize = 64 << 20; // larger than any dump
    for (bool planted : {true, false}) {
        SCOPED_TRACE(planted ? "planted link" : "own dump");
        fs::remove_all(m_work);
        fs::create_directories(m_work);
        std::ofstream(m_root / "target") << "precious";
        const time_t now = time(nullptr);
        for (const std::string& name : NamesBetween("crashdump_child", now - 1, now + 60)) {
            if (planted)
                fs::create_symlink(m_root / "target", m_work / name);
            else {
                std::ofstream(m_work / name) << "MDMP";
                fs::resize_file(m_work / name, kStaleSize);
            }
        }
        EXPECT_EQ(Run("segv - -", "XYZ-3"), -SIGSEGV);
        EXPECT_EQ(Dumps(m_work, kStaleSize).size(), planted ? 0u : 1u);
        EXPECT_EQ(fs::file_size(m_root / "target"), 8u);
    }
}

} // namespace
