// A full disk during a real download through the window: the save folder is
// a small tmpfs in a mount namespace of the test's own. The disk message
// appears once, the torrent stops with the paused look; once space is freed
// a click on Resume completes the download with every file intact.
#include "app/PauseResumeLooks.h"
#include "tests/app/ButtonLooks.h"
#include "tests/app/RealDialogHarness.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

using namespace realdlg;

constexpr std::int64_t MiB = 1 << 20;
const QString kDiskText = QStringLiteral("Disk space is full. Please try again after gaining additional disk space");

TEST(DialogDiskFull, OneMessagePausedThenResumeCompletesOnceSpaceIsFreed)
{
    TempDir data("corvane-df-src"), save("corvane-df-dst");
    SmallDisk disk(save.Path(), "6m");
    ASSERT_TRUE(disk.Mounted()) << disk.Error();

    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {8 * MiB, 4 * MiB, 4 * MiB + 99});
    LibtorrentSeeder seeder(p);

    RealRun run;
    run.Serve(p.torrent);
    run.dlg->deadline = std::chrono::seconds(240);
    enum class Step { Downloading, Stopped, Resumed } step = Step::Downloading;
    QElapsedTimer sinceStop;
    bool pausedLook = false, pausedWhenStopped = false, stillPaused = false;
    int boxesBeforeResume = 0;
    run.dlg->poll = [&](RealDlg& d) {
        switch (step) {
        case Step::Downloading:
            if (run.Count(kDiskText) == 0)
                return false;
            step = Step::Stopped;
            sinceStop.start();
            pausedWhenStopped = d.m_handle.is_paused();
            return false;
        case Step::Stopped:
            // Several more ticks of timer 108 while the engine still reports
            // the failed writes of this incident.
            if (sinceStop.elapsed() < 5000)
                return false;
            stillPaused = d.m_handle.is_paused() && !d.m_handle.is_seed();
            // The look changes once the message has been acknowledged.
            pausedLook = HoldsPausedLook(d.m_btnPauseResume);
            boxesBeforeResume = run.Count(kDiskText);
            if (!disk.Grow("64m")) {
                ADD_FAILURE() << "cannot grow the tmpfs";
                return true;
            }
            d.SendMessage(WM_COMMAND, WPARAM(100) | (WPARAM(BN_CLICKED) << 16), 0);  // Resume
            EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));
            EXPECT_FALSE(d.m_handle.is_paused());
            step = Step::Resumed;
            return false;
        case Step::Resumed:
            return d.m_handle.is_seed();
        }
        return true;
    };
    run.Run(save.Path());

    EXPECT_EQ(run.result, IDOK) << "the download did not complete";
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_TRUE(pausedWhenStopped) << "the engine stopped the torrent";
    EXPECT_TRUE(pausedLook);
    EXPECT_TRUE(stillPaused);
    EXPECT_EQ(boxesBeforeResume, 1);
    EXPECT_EQ(run.Count(kDiskText), 1) << "one message for the whole incident";
    EXPECT_EQ(run.Messages().size(), 1u);
    EXPECT_EQ(run.dlg->m_handle.status().total_done, p.totalSize);
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{}) << "every file's SHA-256 is right";
}

}  // namespace

