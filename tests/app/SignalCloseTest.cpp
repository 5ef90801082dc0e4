// SIGTERM and SIGINT (a logout, kill) end the program as the window
// manager's close button does: the engine stops and tells the tracker, and
// the process exits with 0.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/Configuration.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/Swarm.h"

namespace {

class Dlg : public DrivenDialog<Dlg>
{
public:
    Dlg() { deadline = std::chrono::seconds(120); }
};

// "--program TORRENT FOLDER": the program's own start (AfxWinMain) with the
// real window and engine, fed from a loopback server, offscreen.
class ProgramApp : public CWinApp
{
public:
    char** argv = nullptr;
    BOOL InitInstance() override
    {
        std::ifstream in(argv[2], std::ios::binary);
        HttpTestServer server;
        server.Serve("/pack.torrent", std::string(std::istreambuf_iterator<char>(in), {}));
        server.Serve("/dncgi.txt", "7|http://home.example/|||" + server.Url("/pack.torrent"));
        ModalAnswerer answerer;
        answerer.ChooseFolder(QString::fromLocal8Bit(argv[3]));
        SetConfigurationAddressForTesting(server.WideUrl("/dncgi.txt"));
        Dlg dlg;
        dlg.Run();
        return FALSE;
    }
};

TEST(SignalClose, EndsTheRunWithStoppedAnnounceAndStatusZero)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    for (int sig : {SIGTERM, SIGINT}) {
        HttpTestServer tracker;
        tracker.Serve("/announce", "d8:intervali1800e5:peers0:e");
        const auto announced = [&](const std::string& event) {
            for (const auto& r : tracker.Requests())
                if (r.target.find("event=" + event) != std::string::npos) return true;
            return false;
        };
        TempDir dir("corvane-signal");
        const Payload p = MakePayload(dir.Path(), "pack", {1 << 20}, {tracker.Url("/announce")});
        std::filesystem::create_directory(dir.Path() + "/down");
        ChildProcess program({self, "--program", p.torrentPath, dir.Path() + "/down"}, dir.Path() + "/log");
        ASSERT_TRUE(WaitUntil([&] { return announced("started"); }, std::chrono::seconds(30))) << program.Log();
        ::kill(program.Pid(), sig);  // nothing comes to download: the run would go on
        ASSERT_TRUE(WaitUntil([&] { return !program.Running(); }, std::chrono::seconds(20))) << program.Log();
        EXPECT_TRUE(WIFEXITED(program.WaitStatus()) && WEXITSTATUS(program.WaitStatus()) == 0)
            << "signal " << sig << ", status " << program.WaitStatus() << "\n" << program.Log();
        EXPECT_TRUE(announced("stopped")) << "signal " << sig;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--program") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        static ProgramApp app;
        app.argv = argv;
        return AfxWinMain(argc, argv);
    }
    return RunIsolatedTests(argc, argv);
}
