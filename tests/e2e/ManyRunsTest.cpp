// Many runs of the real dialog class in one process, each a real download:
// configuration and .torrent from a loopback server, the real engine, a
// seeding aria2c found through opentracker, the folder picker answered, the
// download completed, the program closed. Open files, threads and memory
// must not grow from run to run.
#include "app/Configuration.h"
#include "app/CorvaneDlg.h"
#include "app/util/ProcessLauncher.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <QThreadPool>
#include <QTimer>
#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kConfigPath[] = "/notarget/varcgi/dncgi.txt";

int CountEntries(const char* dir)
{
    DIR* d = ::opendir(dir);
    if (!d)
        return -1;
    int n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    ::closedir(d);
    return n - (std::string(dir) == "/proc/self/fd" ? 1 : 0);  // opendir's own
}

long RssKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

struct Sample
{
    int fds = 0;
    int threads = 0;
    long rssKiB = 0;
};

Sample Measure()
{
    // Let short-lived helpers (Qt's pooled threads, the engine's resolver)
    // finish, and give freed memory back, so a sample shows what is kept.
    QThreadPool::globalInstance()->waitForDone(2000);
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::malloc_trim(0);
    return {CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), RssKiB()};
}

// The real dialog with the real engine. Once the torrent is complete it
// closes the program the one way it closes; a deadline ends a run that does
// not complete.
class RunDlg : public CCorvaneDlg
{
public:
    bool completed = false;
    int ticks = 0;
    void OnTimer(UINT_PTR id) override
    {
        CCorvaneDlg::OnTimer(id);
        if (id != kRefreshTimer || completed)
            return;
        ++ticks;
        completed = m_handle.is_valid() && m_handle.is_seed();
        if (completed)
            CloseDownloader();
        else if (ticks > 60)  // 30 s
            EndDialog(98);
    }
};

TEST(ManyRuns, TwentyRealDownloadsLeakNoFilesThreadsOrMemory)
{
    // One malloc arena: the engine's threads otherwise each take an arena of
    // their own as they come and go, and the resident size climbs by a few
    // megabytes until the arena limit is reached, which hides a real leak.
    ::mallopt(M_ARENA_MAX, 1);
    TempDir source("corvane-many-src");
    Tracker tracker;
    const Payload p = MakePayload(source.Path(), "pack", {3 << 20, 0, 700000, 1 << 20}, {tracker.AnnounceUrl()});
    tracker.Allow(p.infoHashHex);
    Aria2Seeder seeder(p);
    ASSERT_TRUE(seeder.WaitReady(std::chrono::seconds(30)));

    HttpTestServer server;
    server.Serve(kConfigPath, "7|http://home.example/|||" + server.Url("/pack.torrent"));
    server.Serve("/pack.torrent", p.torrent);
    SetConfigurationAddressForTesting(server.WideUrl(kConfigPath));
    SetLaunchHookForTesting([](const QString&, const QStringList&) { return true; });

    constexpr int kRuns = 20;
    std::vector<Sample> samples;
    for (int run = 1; run <= kRuns; ++run) {
        TempDir out("corvane-many-dl");
        {
            ModalAnswerer answerer;
            answerer.ChooseFolder(QString::fromStdString(out.Path()));
            auto dlg = std::make_unique<RunDlg>();
            QTimer watchdog;
            watchdog.setSingleShot(true);
            bool watchdogFired = false;
            QObject::connect(&watchdog, &QTimer::timeout, [&] {
                watchdogFired = true;
                dlg->EndDialog(99);
            });
            watchdog.start(60000);
            const INT_PTR result = RunAsMainWindow(*dlg);
            ASSERT_FALSE(watchdogFired) << "run " << run;
            EXPECT_EQ(result, IDCANCEL) << "run " << run;
            ASSERT_TRUE(dlg->completed) << "run " << run << ": the download did not complete";
            dlg.reset();  // the engine stops here
        }
        EXPECT_EQ(DifferingFiles(p, out.Path()), std::vector<std::string>{}) << "run " << run;
        samples.push_back(Measure());
        const Sample& s = samples.back();
        std::printf("run %2d: %d fds, %d threads, %ld KiB\n", run, s.fds, s.threads, s.rssKiB);
    }

    // Runs 1 to 4 warm up (fonts, bitmaps, caches made once); from run 5 on
    // nothing may pile up.
    const Sample& warm = samples[4];
    const Sample& last = samples.back();
    EXPECT_LE(last.fds, warm.fds) << "open files grow";
    EXPECT_LE(last.threads, warm.threads) << "threads grow";
    // Memory: a generous margin for the allocator's moods; a real leak of
    // the engine, the dialog or its buffers (half a megabyte each run) shows
    // as several megabytes over fifteen runs.
    EXPECT_LE(last.rssKiB, warm.rssKiB + 6 * 1024) << "memory grows";

    SetLaunchHookForTesting({});
    SetConfigurationAddressForTesting({});
}

}  // namespace
