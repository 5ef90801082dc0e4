// Closing the real window in the middle of a real download (answering Yes to
// the question), then starting a new window over the same folder: the engine
// checks what is already there and completes with correct data.
#include "tests/app/RealDialogHarness.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <gtest/gtest.h>


namespace {

using namespace realdlg;

constexpr std::int64_t MiB = 1 << 20;
const QString kCloseQuestion =
    QStringLiteral("Download has not been completed. Would you still like to close the program?");

TEST(DialogCloseAndRestart, ClosedUnfinishedThenRestartedOverTheSameFolderCompletes)
{
    TempDir data("corvane-cr-src"), save("corvane-cr-dst");
    Tracker tracker;
    const Payload p =
        MakeTrackedPayload(tracker, data.Path(), "pack", {24 * MiB + 5, 0, 16 * MiB, 333});
    LibtorrentSeeder seeder(p, 4 * MiB);  // slow enough to close in the middle

    // First run: pause and resume on the way, then Close, answered Yes.
    std::int64_t doneAtClose = 0;
    bool pausedOnClick = false, resumedOnClick = false;
    {
        RealRun run;
        run.Serve(p.torrent);
        run.dlg->deadline = std::chrono::seconds(120);
        bool clicked = false;
        int step = 0;
        run.dlg->poll = [&](RealDlg& d) {
            if (clicked)
                return false;  // the close is on its way
            const std::int64_t done = d.m_handle.status().total_done;
            if (step == 0 && done >= 4 * MiB) {
                d.SendMessage(WM_COMMAND, WPARAM(100) | (WPARAM(BN_CLICKED) << 16), 0);
                pausedOnClick = d.m_handle.is_paused();
                d.SendMessage(WM_COMMAND, WPARAM(100) | (WPARAM(BN_CLICKED) << 16), 0);
                resumedOnClick = !d.m_handle.is_paused();
                step = 1;
            } else if (step == 1 && done >= 12 * MiB) {
                doneAtClose = done;
                clicked = true;
                d.SendMessage(WM_COMMAND, WPARAM(103) | (WPARAM(BN_CLICKED) << 16), 0);
            }
            return false;
        };
        run.Run(save.Path(), {QMessageBox::Yes});
        EXPECT_EQ(run.result, IDCANCEL) << "closed by the Close button";
        EXPECT_FALSE(run.dlg->watchdogFired);
        EXPECT_EQ(run.Count(kCloseQuestion), 1);
        EXPECT_EQ(run.Messages().size(), 1u);
        ASSERT_GT(doneAtClose, 0);
        ASSERT_LT(doneAtClose, p.totalSize) << "closed before the end";
    }  // the window and its engine are gone
    EXPECT_TRUE(pausedOnClick);
    EXPECT_TRUE(resumedOnClick);

    // Second run over the same folder. With the seeder nearly stopped, what
    // the torrent has soon after the start can only come from the check of
    // the files already there.
    seeder.SetUploadLimit(16 * 1024);
    RealRun run;
    run.Serve(p.torrent);
    run.dlg->deadline = std::chrono::seconds(150);
    bool checked = false;
    run.dlg->poll = [&](RealDlg& d) {
        const std::int64_t done = d.m_handle.status().total_done;
        if (!checked) {
            if (done < doneAtClose - 2 * MiB)
                return false;
            checked = true;
            seeder.SetUploadLimit(0);
        }
        return d.m_handle.is_seed();
    };
    run.Run(save.Path());
    EXPECT_EQ(run.result, IDOK) << "the download did not complete";
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_TRUE(checked);
    EXPECT_EQ(run.Messages(), std::vector<QString>{});
    EXPECT_EQ(run.dlg->m_handle.status().total_done, p.totalSize);
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{}) << "every file's SHA-256 is right";
}

}  // namespace

