// The shipped program driven as a user would: under Xvfb with openbox, in
// this test's private network, against a local stand-in of the maker's web
// server (configuration text, .torrent, web seed), opentracker and a seeding
// aria2c. xdotool types the folder into the picker and clicks the window's
// buttons; `import` takes screenshots, kept under artifacts/ in the test
// folder of the build tree.
//
// The program asks the configuration host it was built with (a build
// setting); the stand-in listens there, which needs that host to be this
// machine. Inside the private network any port, 80 included, is ours.
#include "tests/support/Swarm.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const char kConfigHost[] = CORVANE_E2E_CONFIG_HOST;
const char kPickerTitle[] = "Select the directory you would like to save the file to";

std::string Env(const char* name, const char* fallback = "")
{
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

// The port of the configuration host, when that host is this machine.
std::optional<int> LocalConfigPort()
{
    std::string host = kConfigHost;
    int port = 80;
    if (const auto colon = host.rfind(':'); colon != std::string::npos) {
        port = std::atoi(host.c_str() + colon + 1);
        host.resize(colon);
    }
    if (host != "localhost" && host != "127.0.0.1")
        return std::nullopt;
    return port;
}

// Runs a command (through the shell) and returns its standard output.
std::string Shell(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe))
        out.append(buf.data(), n);
    const int st = ::pclose(pipe);
    if (status)
        *status = st;
    return out;
}

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Bytes of the files under a folder that are on disk (sparse files count
// only what has been written).
std::int64_t BytesOnDisk(const std::string& dir)
{
    std::int64_t n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (it->is_regular_file(ec) && ::stat(it->path().c_str(), &st) == 0)
            n += static_cast<std::int64_t>(st.st_blocks) * 512;
    }
    return n;
}

// The process id written in an X display's lock file, or -1.
int LockHolder(const std::string& lockFile)
{
    std::ifstream in(lockFile);
    int pid = -1;
    return (in >> pid) ? pid : -1;
}

// An X display of the test's own with a window manager.
class Display
{
public:
    explicit Display(const std::string& workDir)
    {
        // Display numbers are shared with the whole machine: take the first
        // one without a lock, and the next when another Xvfb was quicker.
        int n = 100 + ::getpid() % 300;
        for (int attempt = 0; attempt < 5 && !m_ready; ++attempt, ++n) {
            while (fs::exists("/tmp/.X" + std::to_string(n) + "-lock") ||
                   fs::exists("/tmp/.X11-unix/X" + std::to_string(n)))
                ++n;
            m_name = ":" + std::to_string(n);
            m_xvfb = std::make_unique<ChildProcess>(
                std::vector<std::string>{"Xvfb", m_name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                workDir + "/xvfb.log");
            // Ours once it answers and holds the display's lock: a display
            // of the same number that another Xvfb won also answers (through
            // the socket in /tmp) while ours is still on its way out.
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            m_ready = WaitUntil(
                [&] {
                    return !m_xvfb->Running() ||
                           (Xdo("getdisplaygeometry").find("1024 768") != std::string::npos &&
                            LockHolder(lock) == m_xvfb->Pid());
                },
                15s) &&
                      m_xvfb->Running();
        }
        if (m_ready) {
            m_wm = std::make_unique<ChildProcess>(std::vector<std::string>{"env", "DISPLAY=" + m_name, "openbox"},
                                                  workDir + "/openbox.log");
            // The window manager has taken over once it announces its
            // desktops on the root window; without it, activating the
            // picker and placing the windows would fail.
            m_ready = WaitUntil(
                [&] {
                    const std::string n = Xdo("get_num_desktops");
                    return !n.empty() && std::isdigit(static_cast<unsigned char>(n[0]));
                },
                15s);
        }
    }
    ~Display()
    {
        m_wm.reset();
        m_xvfb.reset();
    }
    bool Ready() const { return m_ready; }
    const std::string& Name() const { return m_name; }

    std::string Xdo(const std::string& args) const
    {
        return Shell("DISPLAY=" + m_name + " xdotool " + args + " 2>/dev/null");
    }
    // The first visible window whose title matches the pattern, or "".
    std::string FindWindow(const std::string& titleRegex) const
    {
        const std::string out = Xdo("search --onlyvisible --name " + Quote(titleRegex));
        return out.substr(0, out.find('\n'));
    }
    std::string WaitWindow(const std::string& titleRegex, std::chrono::milliseconds timeout) const
    {
        std::string id;
        WaitUntil([&] { return !(id = FindWindow(titleRegex)).empty(); }, timeout);
        return id;
    }
    // The window's top left corner on the screen.
    std::pair<int, int> Origin(const std::string& window) const
    {
        const std::string out = Xdo("getwindowgeometry --shell " + window);
        int x = -1, y = -1;
        for (std::size_t at = 0; at < out.size();) {
            const std::size_t end = out.find('\n', at);
            const std::string line = out.substr(at, end - at);
            if (line.rfind("X=", 0) == 0) x = std::atoi(line.c_str() + 2);
            if (line.rfind("Y=", 0) == 0) y = std::atoi(line.c_str() + 2);
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return {x, y};
    }
    void Click(int x, int y) const
    {
        Xdo("mousemove " + std::to_string(x) + " " + std::to_string(y));
        std::this_thread::sleep_for(150ms);
        Xdo("click 1");
    }
    bool Screenshot(const std::string& path) const
    {
        int status = 0;
        Shell("DISPLAY=" + m_name + " import -window root " + Quote(path) + " 2>/dev/null", &status);
        return status == 0 && fs::exists(path);
    }

private:
    std::string m_name;
    bool m_ready = false;
    std::unique_ptr<ChildProcess> m_xvfb;
    std::unique_ptr<ChildProcess> m_wm;
};

// Everything around one program: a work folder, the swarm, the stand-in of
// the maker's server, the display.
class World
{
public:
    World(bool webSeed, int seederLimit)
        : m_work("corvane-e2e"),
          m_payload(MakePayload(m_work.Path(), "Corvane Pack",
                                {24 << 20, 6 << 20, 0, 1 << 20, 123457}, {m_tracker.AnnounceUrl()}, {}, false, 11)),
          m_display(m_work.Path())
    {
        m_tracker.Allow(m_payload.infoHashHex);
        m_seeder = std::make_unique<Aria2Seeder>(m_payload, seederLimit);

        const int port = *LocalConfigPort();
        const std::string base = std::string("http://") + kConfigHost;
        std::string config = "7|" + base + "/||" + "|" + base + "/pack.torrent";
        if (webSeed)
            config += "|" + base + "/seed/";
        const std::string configFile = m_work.Path() + "/dncgi.txt";
        std::ofstream(configFile, std::ios::binary) << config;
        fs::copy_file(m_payload.torrentPath, m_work.Path() + "/pack.torrent");
        m_server = std::make_unique<ChildProcess>(
            std::vector<std::string>{"python3", Env("CORVANE_SOURCE_DIR") + "/demo/server.py", "--port",
                                     std::to_string(port), "--config-file", configFile, "--torrent",
                                     m_work.Path() + "/pack.torrent", "--seed-dir", m_payload.dataDir},
            m_work.Path() + "/server.log");
        m_serverReady = WaitUntil(
            [&] { return !Shell("curl -s -m 2 " + Quote(base + "/notarget/varcgi/dncgi.txt")).empty(); }, 15s);
        m_seederReady = m_seeder->WaitReady(60s);

        m_runDir = m_work.Path() + "/run";
        fs::create_directories(m_runDir);
        fs::permissions(m_runDir, fs::perms::owner_all);
    }

    bool Ready() const { return m_serverReady && m_seederReady && m_display.Ready(); }
    const Payload& payload() const { return m_payload; }
    const Display& display() const { return m_display; }
    std::string NewFolder(const std::string& name)
    {
        const std::string path = m_work.Path() + "/" + name;
        fs::create_directories(path);
        return path;
    }

    // The program on the display, its single-instance lock and crash dumps in
    // a folder of its own.
    std::unique_ptr<ChildProcess> StartProgram(const std::string& logName)
    {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"env", "-C", m_runDir, "DISPLAY=" + m_display.Name(), "QT_QPA_PLATFORM=xcb",
                                     "XDG_RUNTIME_DIR=" + m_runDir, Env("CORVANE_BIN_DIR") + "/Corvane"},
            m_work.Path() + "/" + logName);
    }

    // Types the folder into the picker, as a user would.
    ::testing::AssertionResult ChooseFolder(const std::string& folder) const
    {
        const std::string picker = m_display.WaitWindow(std::string("^") + kPickerTitle + "$", 30s);
        if (picker.empty())
            return ::testing::AssertionFailure() << "the folder picker did not appear";
        m_display.Xdo("windowactivate --sync " + picker);
        m_display.Xdo("windowfocus --sync " + picker);
        std::this_thread::sleep_for(300ms);
        m_display.Xdo("type --delay 10 " + Quote(folder));
        std::this_thread::sleep_for(300ms);
        m_display.Xdo("key Return");
        if (!WaitUntil([&] { return m_display.FindWindow(std::string("^") + kPickerTitle + "$").empty(); }, 10s))
            return ::testing::AssertionFailure() << "the folder picker stayed up";
        return ::testing::AssertionSuccess();
    }

    std::string MainWindow() const { return m_display.WaitWindow("^Morlaine Corvane$", 10s); }

    // Presses a button of the main window at its place in the window.
    void ClickInWindow(int x, int y) const
    {
        const std::string w = MainWindow();
        const auto [ox, oy] = m_display.Origin(w);
        m_display.Click(ox + x, oy + y);
    }

    bool Complete(const std::string& folder) const { return DifferingFiles(m_payload, folder).empty(); }

private:
    TempDir m_work;
    Tracker m_tracker;
    Payload m_payload;
    Display m_display;
    std::unique_ptr<Aria2Seeder> m_seeder;
    std::unique_ptr<ChildProcess> m_server;
    std::string m_runDir;
    bool m_serverReady = false;
    bool m_seederReady = false;
};

// Buttons, as laid out in the window (centre points), and the Pause/Resume
// button's place and size.
constexpr int kCloseX = 587 + 7, kCloseY = 7 + 7;
constexpr int kPauseX = 109, kPauseY = 292, kPauseW = 92, kPauseH = 31;

std::string Artifact(const std::string& name)
{
    QDir().mkpath(QStringLiteral("artifacts"));
    return fs::absolute("artifacts/" + name).string();
}

bool ExitedWith(const ChildProcess& p, int code)
{
    const int st = p.WaitStatus();
    return st != -1 && WIFEXITED(st) && WEXITSTATUS(st) == code;
}

// Share of pixels of the screen region that match the bitmap (per channel
// within a small tolerance).
double MatchShare(const QImage& screen, int x, int y, const QImage& bitmap)
{
    int same = 0;
    const QImage b = bitmap.convertToFormat(QImage::Format_RGB32);
    for (int j = 0; j < b.height(); ++j)
        for (int i = 0; i < b.width(); ++i) {
            const QRgb s = screen.pixel(x + i, y + j), w = b.pixel(i, j);
            if (std::abs(qRed(s) - qRed(w)) <= 8 && std::abs(qGreen(s) - qGreen(w)) <= 8 &&
                std::abs(qBlue(s) - qBlue(w)) <= 8)
                ++same;
        }
    return double(same) / (b.width() * b.height());
}

class Program : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!LocalConfigPort())
            GTEST_SKIP() << "the program was built for configuration host " << kConfigHost
                         << ", which is not this machine";
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "import", "aria2c", "opentracker", "curl"})
            if (Shell(std::string("command -v ") + tool).empty())
                GTEST_SKIP() << tool << " is not installed";
    }

    // Finishes a run whose download is complete: the final display, Close
    // without a question, a clean exit.
    void FinishCompleteRun(World& world, ChildProcess& program, const std::string& folder, const std::string& shot)
    {
        ASSERT_TRUE(WaitUntil([&] { return world.Complete(folder); }, 120s))
            << "the download did not complete; differing: " << DifferingFiles(world.payload(), folder).size();

        // Pause/Resume is disabled once the download is complete: the
        // engine's check of the last pieces and the display's next refresh
        // follow the files being whole, so screenshots are taken until the
        // button shows it (or a generous deadline passes).
        const std::string path = Artifact(shot);
        const QImage disabled(QString::fromStdString(Env("CORVANE_SOURCE_DIR") + "/res/bitmaps/164.bmp"));
        ASSERT_FALSE(disabled.isNull());
        ASSERT_EQ(disabled.size(), QSize(kPauseW, kPauseH));
        const auto [ox, oy] = world.display().Origin(world.MainWindow());
        double match = 0;
        bool shotTaken = false;
        WaitUntil(
            [&] {
                if (!world.display().Screenshot(path))
                    return false;
                const QImage screen(QString::fromStdString(path));
                shotTaken = !screen.isNull();
                match = shotTaken ? MatchShare(screen, ox + kPauseX, oy + kPauseY, disabled) : 0;
                return match > 0.9;
            },
            30s);
        ASSERT_TRUE(shotTaken) << "no screenshot";
        EXPECT_GT(match, 0.9) << "Pause/Resume does not show its disabled look; see " << path;

        // Close: no question, the engine stops, the program ends with 0.
        world.ClickInWindow(kCloseX, kCloseY);
        EXPECT_TRUE(WaitUntil([&] { return !program.Running(); }, 30s)) << "Close did not end the program";
        EXPECT_TRUE(ExitedWith(program, 0)) << "wait status " << program.WaitStatus();
        EXPECT_TRUE(world.Complete(folder)) << "files changed after the end";
    }
};

TEST_F(Program, DownloadsEverythingShowsItAndClosesCleanly)
{
    World world(/*webSeed=*/true, /*seederLimit=*/0);
    ASSERT_TRUE(world.Ready());
    const std::string folder = world.NewFolder("fresh folder");

    auto program = world.StartProgram("corvane-1.log");
    ASSERT_TRUE(world.ChooseFolder(folder)) << program->Log();
    FinishCompleteRun(world, *program, folder, "e2e-final.png");
    for (std::size_t i = 0; i < world.payload().files.size(); ++i)
        EXPECT_EQ(Sha256OfFile(folder + "/" + world.payload().files[i]),
                  Sha256OfFile(world.payload().dataDir + "/" + world.payload().files[i]))
            << world.payload().files[i];
}

// Interrupted half-way, by SIGKILL or by Close answered Yes; a new start over
// the same folder checks what is there and completes with every file right.
TEST_F(Program, KilledMidDownloadThenRestartedCompletes)
{
    World world(/*webSeed=*/false, /*seederLimit=*/4 << 20);
    ASSERT_TRUE(world.Ready());
    const std::string folder = world.NewFolder("killed");

    auto first = world.StartProgram("corvane-first.log");
    ASSERT_TRUE(world.ChooseFolder(folder));
    const std::int64_t quarter = world.payload().totalSize / 4;
    ASSERT_TRUE(WaitUntil([&] { return BytesOnDisk(folder) >= quarter; }, 60s));
    ASSERT_FALSE(world.Complete(folder)) << "finished before it could be interrupted";
    ::kill(first->Pid(), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !first->Running(); }, 10s));

    auto second = world.StartProgram("corvane-second.log");
    ASSERT_TRUE(world.ChooseFolder(folder));
    FinishCompleteRun(world, *second, folder, "e2e-killed-then-completed.png");
}

TEST_F(Program, ClosedWithYesMidDownloadThenRestartedCompletes)
{
    World world(/*webSeed=*/false, /*seederLimit=*/4 << 20);
    ASSERT_TRUE(world.Ready());
    const std::string folder = world.NewFolder("closed");

    auto first = world.StartProgram("corvane-first.log");
    ASSERT_TRUE(world.ChooseFolder(folder));
    const std::int64_t quarter = world.payload().totalSize / 4;
    ASSERT_TRUE(WaitUntil([&] { return BytesOnDisk(folder) >= quarter; }, 60s));
    ASSERT_FALSE(world.Complete(folder)) << "finished before it could be interrupted";

    world.ClickInWindow(kCloseX, kCloseY);
    // The question, captioned with the program's name; Yes is its default.
    const std::string box = world.display().WaitWindow("^Corvane$", 10s);
    ASSERT_FALSE(box.empty()) << "Close asked no question mid-download";
    world.display().Screenshot(Artifact("e2e-close-question.png"));
    world.display().Xdo("windowactivate --sync " + box);
    world.display().Xdo("key Return");
    ASSERT_TRUE(WaitUntil([&] { return !first->Running(); }, 30s)) << "Yes did not end the program";
    EXPECT_TRUE(ExitedWith(*first, 0)) << "wait status " << first->WaitStatus();

    auto second = world.StartProgram("corvane-second.log");
    ASSERT_TRUE(world.ChooseFolder(folder));
    FinishCompleteRun(world, *second, folder, "e2e-closed-then-completed.png");
}

}  // namespace
