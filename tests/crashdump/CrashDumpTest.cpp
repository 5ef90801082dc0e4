// The crash-dump writer: the naming of its files, and crashes in a child
// process with the writer armed, their dumps opened by lldb. The child and
// libdbghelp.so are copied into a fresh folder per run, so "the library
// beside the executable" is under the test's control.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "crashdump/CrashDumpNaming.h"

namespace fs = std::filesystem;

namespace {

TEST(CrashDumpNaming, PathAndDefaultBaseName)
{
    const CrashDumpNaming::SYSTEMTIME t{2011, 3, 1, 7, 14, 3, 7, 0};
    const std::string longBase(240, 'b');
    const struct {
        const char* prefix;
        std::string base, expected;
    } paths[] = {
        {"", "app", "app_2011-03-07_14-03-07.DMP"},
        {"dumps/", "app", "dumps/app_2011-03-07_14-03-07.DMP"},
        {"", longBase, (longBase + "_2011-03-07_14-03-07.DMP").substr(0, 259)},
    };
    for (const auto& c : paths) {
        char path[CrashDumpNaming::kMaxPath];
        CrashDumpNaming::FormatDumpPath(path, sizeof path, c.prefix, c.base.c_str(), t);
        EXPECT_EQ(path, c.expected);
    }
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
    }
    void TearDown() override { fs::remove_all(m_root); }

    // Runs the child in the work folder under the zone `tz`; gives its exit
    // code, or minus the signal that ended it.
    int Run(const std::vector<std::string>& args, const std::string& tz)
    {
        setenv("TZ", tz.c_str(), 1); // the names are reckoned here in it too
        tzset();
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            setenv("ASAN_OPTIONS", "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0", 1);
            std::vector<char*> argv{m_exe.data()};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            if (chdir(m_work.c_str()) == 0)
                execv(m_exe.c_str(), argv.data());
            _exit(121);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the child did not end within 60 s";
                kill(pid, SIGKILL);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
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
    std::vector<std::string> args; // mode, base name, folder ("-": NULL)
    bool library;                  // libdbghelp.so beside the child
    int result;                    // minus the signal, or the exit code
    const char* dumpFolder;        // nullptr: no dump anywhere
    const char* dumpBase;
    std::vector<const char*> shown; // in lldb's backtrace of all threads
};

TEST_F(CrashDump, CrashesLeaveOneDumpNamedInLocalTimeThatLldbUnwinds)
{
    const Crash crashes[] = {
        {{"segv", "-", "-"}, true, -SIGSEGV, ".", "crashdump_child", {"signal SIGSEGV", "CrashByNullDereference"}},
        // Every thread is in the dump, not just the faulting one.
        {{"abort-thread", "-", "-"}, true, -SIGABRT, ".", "crashdump_child",
         {"signal SIGABRT", "AbortOnSecondThread", "MainThreadWaitsForWorker"}},
        {{"throw", "-", "-"}, true, -SIGABRT, ".", "crashdump_child", {"signal SIGABRT", "ThrowUncaught"}},
        // Written on the main thread's alternate signal stack.
        {{"overflow", "-", "-"}, true, -SIGSEGV, ".", "crashdump_child", {"signal SIGSEGV", "OverflowTheStack"}},
        // The zone moves to daylight saving after start-up, before the crash.
        {{"zone-change", "app", "dumps"}, true, -SIGSEGV, "dumps", "app", {"CrashByNullDereference"}},
        // Without the library nothing is installed.
        {{"segv", "-", "-"}, false, -SIGSEGV, nullptr, "", {}},
        {{"restores", "-", "-"}, true, 0, nullptr, "", {}},
    };
    for (const Crash& c : crashes) {
        SCOPED_TRACE(c.args[0] + (c.library ? "" : " without the library"));
        fs::remove_all(m_work);
        fs::create_directories(m_work);
        fs::remove(m_root / "app" / "libdbghelp.so");
        if (c.library)
            fs::copy_file(CRASHDUMP_LIBRARY, m_root / "app" / "libdbghelp.so");
        const time_t before = time(nullptr);
        EXPECT_EQ(Run(c.args, c.args[0] == "zone-change" ? ZoneChangingIn(2) : "XYZ-3"), c.result);
        const time_t after = time(nullptr);
        if (c.dumpFolder == nullptr) {
            EXPECT_TRUE(fs::is_empty(m_work));
            continue;
        }
        const std::vector<fs::path> dumps = Dumps(m_work / c.dumpFolder);
        ASSERT_EQ(dumps.size(), 1u);
        const std::vector<std::string> names = NamesBetween(c.dumpBase, before, after);
        EXPECT_NE(std::find(names.begin(), names.end(), dumps[0].filename().string()), names.end()) << dumps[0];

        // lldb names each thread's frame and unwinds it (it overflows its
        // own stack on a stack overflow's endless frames, after the list).
        std::string bt;
        FILE* pipe = popen(("timeout 120 lldb --batch -c '" + dumps[0].string() + "' -o 'thread list' -o 'thread backtrace all -c 12' '" + m_exe
                            + "' 2>&1").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        for (char buffer[4096]; size_t n = fread(buffer, 1, sizeof buffer, pipe);)
            bt.append(buffer, n);
        pclose(pipe);
        for (const char* text : c.shown)
            EXPECT_NE(bt.find(text), std::string::npos) << text << " not in:\n" << bt;
    }
}

// The dump's name is predictable and its folder may be shared: a link
// planted under it is never followed, while a dump of ours under it (two
// crashes in one second) is replaced. Staged under every name the crash
// can get.
TEST_F(CrashDump, NeverWritesThroughAPlantedLinkButReplacesItsOwnDump)
{
    fs::copy_file(CRASHDUMP_LIBRARY, m_root / "app" / "libdbghelp.so");
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
        EXPECT_EQ(Run({"segv", "-", "-"}, "XYZ-3"), -SIGSEGV);
        EXPECT_EQ(Dumps(m_work, kStaleSize).size(), planted ? 0u : 1u);
        EXPECT_EQ(fs::file_size(m_root / "target"), 8u);
    }
}

} // namespace
