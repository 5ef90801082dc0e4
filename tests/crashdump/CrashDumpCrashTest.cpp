// Crashes in a child process with the writer armed: the dump file, its name,
// its contents as lldb and obj2yaml read them, and the process's death by the
// signal. The child and libdbghelp.so are copied into a fresh folder per
// test, so "the library beside the executable" is under the test's control.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr long kChildUtcOffset = 3 * 3600;
constexpr const char* kChildTimeZone = "XYZ-3"; // UTC+3, no daylight saving

struct ChildResult {
    bool signaled = false;
    int signal = 0;
    int exitCode = -1;
    bool timedOut = false;
};

class CrashDumpCrash : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/corvane-crash-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_root = tmpl;
        m_appDir = m_root / "app";
        m_workDir = m_root / "work";
        fs::create_directories(m_appDir);
        fs::create_directories(m_workDir);
        m_exe = m_appDir / "crashdump_child";
        fs::copy_file(CRASHDUMP_CHILD, m_exe);
        fs::permissions(m_exe, fs::perms::owner_all, fs::perm_options::add);
    }

    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    void InstallLibrary() { fs::copy_file(CRASHDUMP_LIBRARY, m_appDir / "libdbghelp.so"); }

    // Runs the child in the work folder, bounded by a deadline.
    ChildResult Run(const std::vector<std::string>& args)
    {
        ChildResult result;
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(m_workDir.c_str()) != 0)
                _exit(120);
            // No core files in the work folder, whatever core_pattern says.
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            setenv("TZ", kChildTimeZone, 1);
            // Under AddressSanitizer: leave the fatal signals to the writer.
            setenv("ASAN_OPTIONS",
                   "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:detect_leaks=0", 1);
            std::vector<char*> argv;
            std::string exe = m_exe.string();
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(121);
        }
        if (pid < 0) {
            ADD_FAILURE() << "fork failed";
            return result;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        for (;;) {
            pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                result.timedOut = true;
                ADD_FAILURE() << "child did not end within 60 s";
                return result;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (WIFSIGNALED(status)) {
            result.signaled = true;
            result.signal = WTERMSIG(status);
        } else if (WIFEXITED(status)) {
            result.exitCode = WEXITSTATUS(status);
        }
        return result;
    }

    std::vector<fs::path> FilesIn(const fs::path& dir) const
    {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir))
            files.push_back(entry.path());
        return files;
    }

    fs::path m_root, m_appDir, m_workDir, m_exe;
};

// The dump name for each second of [from, to] in the child's time zone.
std::vector<std::string> NamesBetween(const std::string& base, time_t from, time_t to)
{
    std::vector<std::string> names;
    for (time_t t = from; t <= to; ++t) {
        time_t local = t + kChildUtcOffset;
        tm parts{};
        gmtime_r(&local, &parts);
        char text[64];
        std::strftime(text, sizeof text, "_%Y-%m-%d_%H-%M-%S.DMP", &parts);
        names.push_back(base + text);
    }
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    for (const std::string& n : names) {
        if (n == name)
            return true;
    }
    return false;
}

std::string ReadHead(const fs::path& file, size_t size)
{
    std::ifstream in(file, std::ios::binary);
    std::string head(size, '\0');
    in.read(head.data(), static_cast<std::streamsize>(size));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
}

bool HaveTool(const char* tool)
{
    std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Runs a shell command (bounded by timeout(1)) and returns its output.
std::string Capture(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(("timeout 180 " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    pclose(pipe);
    return output;
}

struct CrashCase {
    const char* mode;
    int signal;
    const char* faultingFunction;
    const char* stopReason;
    // lldb 14 overflows its own stack unwinding thousands of identical
    // frames: for a stack overflow only the innermost frame is checked.
    bool fullBacktrace = true;
};

class CrashDumpCrashModes : public CrashDumpCrash, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(CrashDumpCrashModes, LeavesOneNamedDumpThatLldbOpens)
{
    const CrashCase& c = GetParam();
    InstallLibrary();
    time_t before = time(nullptr);
    ChildResult result = Run({c.mode});
    time_t after = time(nullptr);

    EXPECT_TRUE(result.signaled) << "exit code " << result.exitCode;
    EXPECT_EQ(result.signal, c.signal);

    std::vector<fs::path> files = FilesIn(m_workDir);
    ASSERT_EQ(files.size(), 1u);
    const fs::path dump = files[0];
    EXPECT_TRUE(Contains(NamesBetween("crashdump_child", before, after), dump.filename().string()))
        << dump.filename();
    EXPECT_EQ(ReadHead(dump, 4), "MDMP");

    if (!HaveTool("lldb"))
        GTEST_SKIP() << "lldb is not installed: the backtrace was not checked";
    const char* command = c.fullBacktrace ? "bt" : "'thread list'";
    std::string bt = Capture("lldb --batch -c '" + dump.string() + "' -o " + command + " '" + m_exe.string() + "'");
    EXPECT_NE(bt.find(c.stopReason), std::string::npos) << bt;
    EXPECT_NE(bt.find(c.faultingFunction), std::string::npos) << bt;
    if (c.fullBacktrace) {
        EXPECT_NE(bt.find("frame #1"), std::string::npos) << "no frames beyond the first:\n" << bt;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashDumpCrashModes,
    ::testing::Values(CrashCase{"segv", SIGSEGV, "CrashByNullDereference", "signal SIGSEGV"},
                      CrashCase{"abort-thread", SIGABRT, "AbortOnSecondThread", "signal SIGABRT"},
                      CrashCase{"throw", SIGABRT, "ThrowUncaught", "signal SIGABRT"},
                      // Written on the main thread's alternate signal stack.
                      CrashCase{"overflow", SIGSEGV, "OverflowTheStack", "signal SIGSEGV", false}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
        std::string name = info.param.mode;
        for (char& ch : name) {
            if (ch == '-')
                ch = '_';
        }
        return name;
    });

TEST_F(CrashDumpCrash, DumpHoldsTheExpectedStreams)
{
    if (!HaveTool("obj2yaml"))
        GTEST_SKIP() << "obj2yaml (llvm) is not installed";
    InstallLibrary();
    ChildResult result = Run({"segv"});
    EXPECT_EQ(result.signal, SIGSEGV);
    std::vector<fs::path> files = FilesIn(m_workDir);
    ASSERT_EQ(files.size(), 1u);

    std::string yaml = Capture("obj2yaml '" + files[0].string() + "'");
    for (const char* expected :
         {"--- !minidump", "Type:            SystemInfo", "Processor Arch:  AMD64", "Platform ID:     Linux",
          "Type:            MiscInfo", "Type:            ThreadList", "Type:            MemoryList",
          "Type:            Exception", "Exception Code:  0xB", "Type:            ModuleList",
          "Type:            LinuxMaps", "Type:            LinuxProcStatus", "Type:            LinuxCMDLine",
          "Type:            LinuxAuxv"}) {
        EXPECT_NE(yaml.find(expected), std::string::npos) << expected << "\n" << yaml.substr(0, 3000);
    }
    // The executable is listed with an ELF build-id CodeView record ("BpEL").
    std::regex module("Module Name: +'" + m_exe.string() + "'\\s+CodeView Record: +4C457042[0-9A-F]{16,}");
    EXPECT_TRUE(std::regex_search(yaml, module)) << yaml.substr(0, 3000);
    // The faulting thread's stack is saved.
    EXPECT_TRUE(std::regex_search(yaml, std::regex("Stack:\\s+Start of Memory Range: 0x[0-9A-F]+\\s+Content: +[0-9A-F]{256,}")));
}

TEST_F(CrashDumpCrash, WithoutTheLibraryNothingIsInstalledAndNoFileAppears)
{
    ChildResult result = Run({"inert"});
    EXPECT_TRUE(result.signaled) << "exit code " << result.exitCode;
    EXPECT_EQ(result.signal, SIGSEGV);
    EXPECT_TRUE(FilesIn(m_workDir).empty());
}

TEST_F(CrashDumpCrash, DestructorPutsPreviousHandlersBack)
{
    InstallLibrary();
    ChildResult result = Run({"armed-restores"});
    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.exitCode, 0);
}

TEST_F(CrashDumpCrash, AfterDestructionWithoutPreviousHandlersACrashWritesNothing)
{
    InstallLibrary();
    ChildResult result = Run({"freed-segv"});
    EXPECT_TRUE(result.signaled) << "exit code " << result.exitCode;
    EXPECT_EQ(result.signal, SIGSEGV);
    EXPECT_TRUE(FilesIn(m_workDir).empty());
}

TEST_F(CrashDumpCrash, NamesFromArguments)
{
    InstallLibrary();
    // A prefix that, with base name and time, is longer than 259 characters:
    // the parent exists, the last component is created.
    const std::string parent(200, 'p');
    const std::string last(40, 'q');
    fs::create_directory(m_workDir / parent);
    const std::string deepDir = parent + "/" + last;

    struct Case {
        std::string base;   // "-" = NULL
        std::string dir;    // "-" = NULL
        fs::path expectedFolder;
        std::string expectedBase;
        size_t cutTo;       // 0: no cut
    } cases[] = {
        {"app", "dumps", m_workDir / "dumps", "app", 0},
        {"app", "missing/dumps", m_workDir, "app", 0},
        {"", "-", m_workDir, "crashdump_child", 0},
        {"crashbase", deepDir, m_workDir / deepDir, "crashbase", 259 - (deepDir.size() + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base + " in " + c.dir);
        time_t before = time(nullptr);
        ChildResult result = Run({"named", c.base, c.dir});
        time_t after = time(nullptr);
        EXPECT_EQ(result.signal, SIGSEGV);

        ASSERT_TRUE(fs::is_directory(c.expectedFolder));
        std::vector<fs::path> dumps;
        for (const fs::path& file : FilesIn(c.expectedFolder)) {
            if (fs::is_regular_file(file))
                dumps.push_back(file);
        }
        ASSERT_EQ(dumps.size(), 1u);
        std::vector<std::string> names = NamesBetween(c.expectedBase, before, after);
        if (c.cutTo != 0) {
            for (std::string& name : names)
                name.resize(c.cutTo);
        }
        EXPECT_TRUE(Contains(names, dumps[0].filename().string())) << dumps[0].filename();
        EXPECT_EQ(ReadHead(dumps[0], 4), "MDMP");
        fs::remove(dumps[0]);
        EXPECT_FALSE(fs::exists(m_workDir / "missing"));
    }
}

// Two crashes in one second share the file name; the second one truncates
// the file. Staged with files already present under every name the crash
// can get, each larger than any dump.
TEST_F(CrashDumpCrash, ASecondDumpInTheSameSecondReplacesTheFile)
{
    InstallLibrary();
    constexpr std::uintmax_t kStaleSize = 64 * 1024 * 1024;
    time_t now = time(nullptr);
    std::vector<std::string> names = NamesBetween("crashdump_child", now - 1, now + 120);
    for (const std::string& name : names) {
        std::ofstream(m_workDir / name) << "stale";
        fs::resize_file(m_workDir / name, kStaleSize);
    }

    ChildResult result = Run({"segv"});
    EXPECT_EQ(result.signal, SIGSEGV);

    std::vector<fs::path> files = FilesIn(m_workDir);
    EXPECT_EQ(files.size(), names.size()) << "a file outside the staged names appeared";
    int rewritten = 0;
    for (const fs::path& file : files) {
        if (fs::file_size(file) == kStaleSize)
            continue;
        ++rewritten;
        EXPECT_EQ(ReadHead(file, 4), "MDMP") << file;
    }
    EXPECT_EQ(rewritten, 1);
}

} // namespace
