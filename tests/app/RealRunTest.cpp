// The window with the real engine and real peers, started by its own start
// routine from the loopback stand-in server (configuration text, .torrent):
// a download from opentracker and a seeder with Pause and Resume clicked on
// the way, the web seed alone, and runs one after another in one process
// that must leave no engine, thread or open file behind.
#include "app/Configuration.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/Swarm.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QMimeDatabase>
#include <gtest/gtest.h>


#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;
constexpr std::int64_t MiB = 1 << 20;
const std::vector<std::string> kNone;

class Dlg : public DrivenDialog<Dlg>
{
public:
    Dlg() { deadline = 90s, pollInterval = 100ms; }
};

// One run of the window: the stand-in server names the .torrent (and the web
// seed, when given), the picker is answered with the folder.
struct WindowRun
{
    HttpTestServer server;
    ModalAnswerer answerer;
    std::unique_ptr<Dlg> dlg = std::make_unique<Dlg>();
    INT_PTR result = 0;

    WindowRun(const std::string& torrent, const std::string& webSeed = {})
    {
        server.Serve("/pack.torrent", torrent);
        server.Serve("/notarget/varcgi/dncgi.txt", "7|http://home.example/|||" + server.Url("/pack.torrent") +
                                                       (webSeed.empty() ? "" : "|" + webSeed));
    }
    void Go(const std::string& folder)
    {
        answerer.ChooseFolder(QString::fromStdString(folder));
        SetConfigurationAddressForTesting(server.WideUrl("/notarget/varcgi/dncgi.txt"));
        result = dlg->Run();
        SetConfigurationAddressForTesting({});
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const auto& s : answerer.SeenPrompts())
            if (s.kind == ModalAnswerer::Kind::MessageBox)
                out.push_back(s.text.toStdString());
        return out;
    }
};

// What a user's click does: the button's own signal, through to the handler.
void Click(CButton& button) { qobject_cast<QAbstractButton*>(button.GetSafeHwnd())->click(); }

TEST(RealRun, DownloadPausedAndResumedByClicksCompletesIntoANonAsciiFolder)
{
    TempDir data("corvane-rr-src"), base("corvane-rr-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "Pack 파일", {12 * MiB + 5, 0, 8 * MiB - 3, 777});
    LibtorrentSeeder seeder(p, 2 * MiB);  // slow enough to act mid-download
    const std::string folder = base.Path() + "/받은 파일 é";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));

    enum { Downloading, Paused, Resumed, Finishing } step = Downloading;
    QElapsedTimer sinceClick;
    std::int64_t doneAtRest = -1, diskAtRest = -1;
    bool restedWhilePaused = true, engineSawPause = false;
    WindowRun run(p.torrent);
    run.dlg->poll = [&](Dlg& d) {
        const engine::torrent_status st = d.m_handle.status();
        switch (step) {
        case Downloading:
            if (st.total_done < 2 * MiB)
                return false;
            Click(d.m_btnPauseResume);
            engineSawPause = d.m_handle.is_paused();
            sinceClick.start();
            step = Paused;
            return false;
        case Paused:  // a second for blocks already in flight, then two of rest
            if (sinceClick.elapsed() < 1000)
                return false;
            if (doneAtRest < 0)
                doneAtRest = st.total_done, diskAtRest = BytesOnDisk(folder);
            restedWhilePaused &= st.num_peers == 0 && st.total_done == doneAtRest && BytesOnDisk(folder) == diskAtRest;
            if (sinceClick.elapsed() < 3000)
                return false;
            Click(d.m_btnPauseResume);
            sinceClick.restart();
            step = Resumed;
            return false;
        case Resumed:  // downloading again within seconds, then at full speed to the end
            if (st.total_done < doneAtRest + MiB)
                return sinceClick.elapsed() > 15000;
            seeder.SetUploadLimit(0);
            step = Finishing;
            return false;
        case Finishing:
            return d.m_handle.is_seed() && d.m_progress.GetPos() == 100;
        }
        return true;
    };
    run.Go(folder);

    EXPECT_EQ(run.result, IDOK) << "ended by the test's deadline";
    EXPECT_TRUE(engineSawPause) << "the click did not pause the torrent";
    EXPECT_TRUE(restedWhilePaused) << "data still arrived while paused";
    EXPECT_LT(doneAtRest, p.totalSize / 2) << "paused too late to tell";
    EXPECT_EQ(step, Finishing) << "nothing arrived after Resume";
    EXPECT_EQ(run.Messages(), kNone);
    EXPECT_EQ(DifferingFiles(p, folder), kNone) << "every file's SHA-256 equals the source's";
}

TEST(RealRun, WebSeedAloneDeliversEveryFile)
{
    TempDir data("corvane-rr-web"), save("corvane-rr-webdst");
    const Payload p = MakePayload(data.Path(), "webpack", {5 * MiB + 4321, 0, 3 * MiB - 7}, {});
    HttpTestServer files;
    files.ServeFiles("/seed/", data.Path());
    WindowRun run(p.torrent, files.Url("/seed/"));
    run.dlg->poll = [](Dlg& d) { return d.m_handle.is_seed(); };
    run.Go(save.Path());

    EXPECT_EQ(run.result, IDOK) << "the web seed did not deliver it all";
    EXPECT_EQ(run.Messages(), kNone);
    EXPECT_EQ(DifferingFiles(p, save.Path()), kNone);
}

// A reply that is not a torrent: message (5), then the window closes by itself.
TEST(RealRun, NotATorrentShowsMessageFiveAndCloses)
{
    TempDir save("corvane-rr-bad");
    WindowRun run("<!DOCTYPE html><html><body><h1>502 Bad Gateway</h1></body></html>\n");
    run.dlg->deadline = 10s;
    run.Go(save.Path());
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(run.Messages(), std::vector<std::string>{"Cannot connect to server. Please check your network. (5)"});
}

// Open files, and threads other than Qt's pooled workers (a bounded pool
// whose threads come and go by themselves, each with a wake-up descriptor
// of its own: those are not counted as files either).
std::pair<int, int> Held()
{
    namespace fs = std::filesystem;
    std::pair<int, int> held{int(std::distance(fs::directory_iterator("/proc/self/fd"), {})), 0};
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        const bool pooled = name == "Thread (pooled)";
        held.first -= pooled;
        held.second += !pooled;
    }
    return held;
}

// What the process has open, for a failure message.
std::string OpenFiles()
{
    namespace fs = std::filesystem;
    std::string all;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd"))
        all += " " + fd.path().filename().string() + "=" + fs::read_symlink(fd.path(), ec).string();
    return all;
}

// Each run's engine goes with its window: the next one listens on the same
// port, and open files and threads come back to what they were after the
// second run: what Qt and the libraries open once and keep for good may come
// up in either of the first two (five runs show any growth that twenty would).
TEST(RealRun, RunsOneAfterAnotherLeaveNoEngineThreadOrFileBehind)
{
    TempDir data("corvane-rr-many");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {3 * MiB, 0, 700000});
    Aria2Seeder seeder(p);  // in a process of its own: only the window's threads are counted here
    ASSERT_TRUE(seeder.WaitReady(30s));
    // The folder picker's file model asks Qt's MIME database, which opens its
    // cache file once and keeps it; on a loaded machine the first question can
    // come in any run. Asked here, the cache is open before the first.
    QMimeDatabase().mimeTypeForFile(QString::fromStdString(data.Path()));
    std::pair<int, int> settled;
    std::string settledFiles;
    for (int i = 1; i <= 5; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        TempDir out("corvane-rr-out");
        {
            WindowRun run(p.torrent);
            int port = 0;
            run.dlg->poll = [&](Dlg& d) {
                port = d.m_session->listen_port();
                return d.m_handle.is_seed();
            };
            run.Go(out.Path());
            ASSERT_EQ(run.result, IDOK);
            EXPECT_EQ(port, 6881) << "an earlier run's engine still holds the port";
        }
        EXPECT_EQ(DifferingFiles(p, out.Path()), kNone);
        if (i == 2) {
            settled = Held();
            settledFiles = OpenFiles();
        }
        if (i > 2) {
            EXPECT_TRUE(WaitUntil([&] { return Held().first <= settled.first && Held().second <= settled.second; }, 5s))
                << "open files, threads: " << Held().first << ", " << Held().second << " after this run, "
                << settled.first << ", " << settled.second << " after the second; open:" << OpenFiles()
                << "; after the second:" << settledFiles;
        }
    }
}

}  // namespace
