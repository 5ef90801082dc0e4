// SIGTERM and SIGINT (a logout, kill) end the program as the window
// manager's close button does: the engine stops and tells the tracker, and
// the process exits with 0.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>

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

// "--child CONFIG-URL FOLDER [hold]": the program's own start (AfxWinMain)
// with the real window and engine, offscreen; with "hold", no box and no
// picker is ever answered.
class ProgramApp : public CWinApp
{
public:
    char** argv = nullptr;
    int argc = 0;
    BOOL InitInstance() override
    {
        ModalAnswerer answerer;
        answerer.ChooseFolder(QString::fromLocal8Bit(argv[3]));
        answerer.Hold(argc > 4);
        SetConfigurationAddressForTesting(QString::fromLocal8Bit(argv[2]).toStdU16String());
        Dlg dlg;
        dlg.Run();
        return FALSE;
    }
};

// A logout or kill ends the run as the close button does, also while a box
// waits for an answer: exit status 0, and the tracker told "stopped" when the
// download had started.
TEST(SignalClose, EndsTheRunWithStatusZero)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    for (const bool box : {false, true})
        for (int sig : {SIGTERM, SIGINT}) {
            HttpTestServer server;
            server.Serve("/announce", "d8:intervali1800e5:peers0:e");
            const auto seen = [&](const std::string& what) {
                for (const auto& r : server.Requests())
                    if (r.target.find(what) != std::string::npos) return true;
                return false;
            };
            TempDir dir("corvane-signal");
            const Payload p = MakePayload(dir.Path(), "pack", {1 << 20}, {server.Url("/announce")});
            server.Serve("/pack.torrent", p.torrent);
            server.Serve("/dncgi.txt", std::string("7|h|") + (box ? "Maintenance tonight" : "") + "||" +
                                           server.Url("/pack.torrent"));
            std::filesystem::create_directory(dir.Path() + "/down");
            std::vector<std::string> args{self, "--child", server.Url("/dncgi.txt"), dir.Path() + "/down"};
            if (box) args.push_back("hold");
            ChildProcess program(args, dir.Path() + "/log");
            // Nothing comes to download, and nobody answers the box: the run would go on.
            ASSERT_TRUE(WaitUntil([&] { return seen(box ? "dncgi" : "event=started"); }, std::chrono::seconds(30)))
                << program.Log();
            ::kill(program.Pid(), sig);
            ASSERT_TRUE(WaitUntil([&] { return !program.Running(); }, std::chrono::seconds(20)))
                << "box " << box << ", signal " << sig << "\n" << program.Log();
            EXPECT_TRUE(WIFEXITED(program.WaitStatus()) && WEXITSTATUS(program.WaitStatus()) == 0)
                << "box " << box << ", signal " << sig << ", status " << program.WaitStatus() << "\n" << program.Log();
            EXPECT_TRUE(box || seen("event=stopped")) << "signal " << sig;
        }
}

}  // namespace

int TestChildMain(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    static ProgramApp app;
    app.argv = argv;
    app.argc = argc;
    return AfxWinMain(argc, argv);
}
