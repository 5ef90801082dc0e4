// The main window on the scripted engine, offscreen: the display texts and
// bar, the tracker watchdog, disk errors, Pause/Resume and Close clicked,
// a torrent that goes away, the about box, the folder shown and dragging.
#include "tests/app/ButtonLooks.h"
#include "tests/app/WindowRun.h"
#include "tests/support/QStringPrinter.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using engine::alert_kind;

bool Running(const Window& d) { return HoldsRunningLook(d.m_btnPauseResume); }
bool Paused(const Window& d) { return HoldsPausedLook(d.m_btnPauseResume); }
void Click(const CWnd& button) { qobject_cast<QPushButton*>(button.GetSafeHwnd())->click(); }
void Alerts(Window& d, FakeSession& f, std::vector<alert_kind> alerts)
{
    f.alerts = std::move(alerts);
    d.PumpAlerts();
}

struct Shown
{
    std::int64_t size, done;
    float rate;
    bool seeding;
    const char *sizeText, *rateText, *percent;
};

TEST(Window, DisplayTextsAndBar)
{
    const Shown rows[] = {
        {3ll << 29, 1ll << 29, 0, false, " : 512.00 MB / 1.50 GB", " : 0.00 Bytes/s ", "33%"},
        {1000, 999, 1.5f, false, " : 999.00 Bytes / 1000.00 Bytes", " : 1.00 Bytes/s  - About 0m 1s Remains", "99%"},
        {3600 << 10, 0, 1024, false, " : 0.00 Bytes / 3.52 MB", " : 1.00 KB/s  - About 1h 0m Remains", "0%"},
        {1ll << 42, 0, 1, false, " : 0.00 Bytes / 4096.00 GB", " : 1.00 Bytes/s  - About 9999h 59m Remains", "0%"},
        {1000, 1000, 0, true, " : 1000.00 Bytes / 1000.00 Bytes", " : 0.00 Bytes/s ", "100%"},
    };
    WindowRun run;
    FakeTorrent& t = run.Torrent();
    t.peers = 3;
    run.Run([&](Window& d) {
        EXPECT_EQ(d.m_txtPath.GetWindowText(), " : " + run.folder + "/payload");
        for (const Shown& r : rows) {
            SCOPED_TRACE(r.percent);
            std::tie(t.size, t.done, t.rate, t.seeding) = std::tie(r.size, r.done, r.rate, r.seeding);
            d.RefreshProgress();
            EXPECT_EQ(d.m_txtSize.GetWindowText(), r.sizeText);
            EXPECT_EQ(d.m_txtRate.GetWindowText(), r.rateText);
            EXPECT_EQ(d.m_txtPeers.GetWindowText(), " : 3 peers");
            EXPECT_EQ(d.m_txtPercent.GetWindowText(), r.percent);
            EXPECT_EQ(d.m_btnPauseResume.IsWindowEnabled(), !r.seeding);
            if (r.done == 1ll << 29) {
                // 386 / 100.0 * 33 = 127.38: 127 columns of the stretched fill.
                CBitmap fill;
                ASSERT_TRUE(fill.LoadBitmap(152));
                const QImage bar = d.m_progress.GetSafeHwnd()->grab().toImage();
                const QRgb colour = fill.Image().pixel(0, 6);
                int columns = 0;
                while (columns < bar.width() && bar.pixel(columns, 6) == colour)
                    ++columns;
                EXPECT_EQ(columns, 127);
            }
        }
        // Complete and shown at 100: the texts stay as they are.
        t.done = 1;
        d.RefreshProgress();
        EXPECT_EQ(d.m_txtPercent.GetWindowText(), "100%");
    });
    EXPECT_FALSE(run.dlg->watchdogFired);
}

TEST(Window, TrackerWatchdogFiresAboveTenFailuresOnceAndCloses)
{
    WindowRun run;
    const std::vector<alert_kind> ten(10, alert_kind::tracker_error);
    const INT_PTR result = run.Run([&](Window& d) {
        Alerts(d, *run.fake, ten);
        run.fake->torrent->peers = 1;  // a failure with a peer connected does no harm
        Alerts(d, *run.fake, {alert_kind::tracker_error});
        run.fake->torrent->peers = 0;
        Alerts(d, *run.fake, {alert_kind::tracker_reply});  // starts the count again
        Alerts(d, *run.fake, ten);
        EXPECT_EQ(run.Prompts().size(), 1u) << "nothing shown up to ten failures";
        Alerts(d, *run.fake, {alert_kind::tracker_error, alert_kind::tracker_error, alert_kind::file_error});
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(run.Prompts(), (std::vector<QString>{QStringLiteral("[folder]"), Msg(4)}));
    EXPECT_EQ(run.Torrent().pauses, 1);
    EXPECT_EQ(run.answerer.SeenPrompts().back().caption, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

TEST(Window, PauseResumeClickedAndOneDiskBoxPerIncident)
{
    const QString disk = QStringLiteral("Disk space is full. Please try again after gaining additional disk space");
    WindowRun run;
    FakeTorrent& t = run.Torrent();
    run.Run([&](Window& d) {
        EXPECT_TRUE(Running(d));
        Click(d.m_btnPauseResume);
        EXPECT_EQ(t.pauses, 1);
        EXPECT_TRUE(Paused(d));
        Click(d.m_btnPauseResume);
        EXPECT_EQ(t.resumes, 1);
        EXPECT_TRUE(Running(d));
        t.paused = true;  // as the engine does on a disk error
        Alerts(d, *run.fake, {alert_kind::file_error, alert_kind::file_error, alert_kind::file_error});
        EXPECT_TRUE(Paused(d));
        Alerts(d, *run.fake, {alert_kind::file_error});
        Click(d.m_btnPauseResume);  // resumes, and ends the incident
        EXPECT_EQ(t.resumes, 2);
        EXPECT_TRUE(Running(d));
        Alerts(d, *run.fake, {alert_kind::file_error});
    });
    EXPECT_EQ(run.Prompts(), (std::vector<QString>{QStringLiteral("[folder]"), disk, disk}));
}

TEST(Window, TorrentGoneMidRefreshOrClickAndCloseQuestion)
{
    {  // Yes closes; a run of its own, as an answerer answers every prompt that is up
        WindowRun yes;
        const INT_PTR closed = yes.Run([&](Window& d) {
            yes.answerer.AnswerMessage(QMessageBox::Yes);
            Click(d.m_btnClose);
            EXPECT_TRUE(PumpUntil([&] { return d.IsEnding(); }, 2000)) << "Yes left the window running";
        });
        EXPECT_EQ(closed, IDCANCEL);
        ASSERT_EQ(yes.answerer.SeenPrompts().size(), 2u);
        EXPECT_EQ(yes.answerer.SeenPrompts()[1].answer, "Yes");
    }
    WindowRun run;
    FakeTorrent& t = run.Torrent();
    const INT_PTR result = run.Run([&](Window& d) {
        // Unfinished: asked. A close is only queued, so the loop gets the
        // time to carry out one that No should not have asked for.
        run.answerer.AnswerMessage(QMessageBox::No);
        Click(d.m_btnClose);
        EXPECT_FALSE(PumpUntil([&] { return d.IsEnding(); }, 400)) << "No closed the window";
        const CString before = d.m_txtSize.GetWindowText();
        t.size = 5000;
        for (int calls : {1, 2}) {  // gone after the validity test, after the snapshot
            t.gone = false;
            t.callsLeft = calls;
            d.RefreshProgress();
            d.ReannounceTick();
            EXPECT_EQ(d.m_txtSize.GetWindowText(), before);
        }
        t.gone = false;
        t.callsLeft = 2;
        Click(d.m_btnPauseResume);
        EXPECT_TRUE(Running(d));
        Click(d.m_btnClose);  // gone: closes without asking
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(run.Prompts(), (std::vector<QString>{
        QStringLiteral("[folder]"),
        QStringLiteral("Download has not been completed. Would you still like to close the program?"), Msg(7)}));
}

void PressMoveRelease(QWidget* window, QPoint at, QPoint by)
{
    QWidget* target = window->childAt(at) ? window->childAt(at) : window;
    const QPoint local = target->mapFrom(window, at), global = window->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent move(QEvent::MouseMove, local + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + by, global + by, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

TEST(Window, AboutBoxShowFolderMinimizeAndDragging)
{
    WindowRun run;
    const INT_PTR result = run.Run([&](Window& d) {
        d.SendMessage(WM_SYSCOMMAND, CCorvaneDlg::kAboutCommand | 0xF, 0);
        Click(d.m_btnQuestion);
        EXPECT_FALSE(d.IsEnding());
        Click(d.m_btnShowFolder);  // the folder chosen, itself
        EXPECT_EQ(run.opened, std::vector<QString>{run.folder});
        QWidget* w = d.GetSafeHwnd();
        for (QPoint at : {QPoint(300, 50), QPoint(60, 150), QPoint(150, 300)}) {  // background, label, button
            const QPoint start = w->pos();
            PressMoveRelease(w, at, QPoint(40, 25));
            PumpUntil([] { return false; }, 20);
            EXPECT_EQ(w->pos() - start, at.y() == 300 ? QPoint() : QPoint(40, 25)) << at.x();
        }
        Click(d.m_btnMinimize);
        EXPECT_TRUE(d.IsIconic());
        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        d.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(run.answerer.SeenPrompts().size(), 3u);
    for (int i : {1, 2})
        EXPECT_EQ(run.answerer.SeenPrompts()[i].caption, "Tarvix Downloader Information");
}

}  // namespace
