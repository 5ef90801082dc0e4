// The alerts of the main window with the scripted engine: the tracker
// watchdog, tracker replies, other alerts, the forced re-announce, the
// disk-error message, and what happens when alerts are handled inside
// message boxes that run the event loop.
#include "tests/app/AlertsHarness.h"

#include <gtest/gtest.h>

namespace {

using namespace alertstest;
using engine::alert_kind;

std::deque<alert_kind> Failures(int n) { return std::deque<alert_kind>(std::size_t(n), alert_kind::tracker_error); }

// Hands the alerts to the engine's queue and waits for timer 108 to take them.
bool Deliver(engine::fake_session& fake, std::deque<alert_kind> alerts)
{
    const int before = fake.pop_alerts_count;
    fake.alerts.insert(fake.alerts.end(), alerts.begin(), alerts.end());
    return PumpUntil([&] { return fake.alerts.empty() && fake.pop_alerts_count >= before + 2; }, 5000);
}

TEST(TrackerWatchdog, TenCountedFailuresShowNothingTheEleventhStopsOnceAndCloses)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    int pumpsAfterBox = -1;
    dlg->drive = [&](AlertsDlg& d) {
        ASSERT_TRUE(Deliver(*fake, Failures(10)));
        EXPECT_EQ(d.m_trackerFailures, 10);
        EXPECT_TRUE(boxes.SeenBoxes().empty());
        EXPECT_EQ(fake->torrent->pause_count, 0);
        EXPECT_FALSE(d.IsEnding());

        // The eleventh, then more in the same batch: one stop, one box.
        fake->alerts = Failures(4);
        ASSERT_TRUE(PumpUntil([&] { return boxes.Count(kText4) == 1 && fake->alerts.empty(); }, 5000));
        const int pumps = fake->pop_alerts_count;
        PumpUntil([] { return false; }, 300);  // timer 108 would have run ~15 times
        pumpsAfterBox = fake->pop_alerts_count - pumps;
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_FALSE(dlg->watchdogFired);
    EXPECT_EQ(boxes.Count(kText4), 1);
    EXPECT_EQ(boxes.SeenBoxes().size(), 1u);
    EXPECT_EQ(boxes.SeenBoxes()[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(boxes.SeenBoxes()[0].caption, AfxGetAppName());
    EXPECT_EQ(pumpsAfterBox, 0) << "timer 108 is stopped";
    EXPECT_EQ(fake->torrent->pause_count, 1) << "paused once, not resumed again by later failures";
    EXPECT_EQ(fake->torrent->resume_count, 0);
    EXPECT_TRUE(HoldsPausedLook(dlg->m_btnPauseResume));

    // After the stop, the program is closing: nothing more is asked.
    fake->alerts = {alert_kind::file_error, alert_kind::tracker_error};
    dlg->PumpAlerts();
    EXPECT_EQ(boxes.SeenBoxes().size(), 1u);
}

TEST(TrackerWatchdog, AtTheLimitATorrentTheUserPausedIsResumed)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    dlg->drive = [&](AlertsDlg& d) {
        d.OnBnClickedPauseResume();  // the user pauses
        ASSERT_TRUE(fake->torrent->paused);
        fake->alerts = Failures(11);
        EXPECT_TRUE(PumpUntil([&] { return boxes.Count(kText4) == 1; }, 5000));
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_EQ(boxes.Count(kText4), 1);
    EXPECT_EQ(fake->torrent->resume_count, 1);
    EXPECT_TRUE(HoldsRunningLook(dlg->m_btnPauseResume));
}

TEST(TrackerWatchdog, ReplyRestartsTheCountAndHarmlessFailuresLeaveItAlone)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    dlg->drive = [&](AlertsDlg& d) {
        std::deque<alert_kind> batch = Failures(10);
        batch.push_back(alert_kind::tracker_reply);
        batch.insert(batch.end(), 10, alert_kind::tracker_error);
        ASSERT_TRUE(Deliver(*fake, batch));
        EXPECT_EQ(d.m_trackerFailures, 10);

        // A failure does no harm while a peer is connected (either count),
        // or when the download is complete.
        struct Case { const char* name; int peers; int peerList; bool seeding; };
        for (const Case& c : {Case{"connected peer", 1, 0, false}, Case{"peer list entry", 0, 1, false},
                              Case{"both", 3, 2, false}, Case{"complete", 0, 0, true}}) {
            SCOPED_TRACE(c.name);
            fake->torrent->peers = c.peers;
            fake->torrent->peer_list = c.peerList;
            fake->torrent->seeding = c.seeding;
            ASSERT_TRUE(Deliver(*fake, Failures(5)));
            EXPECT_EQ(d.m_trackerFailures, 10);
        }
        fake->torrent->peers = 0;
        fake->torrent->peer_list = 0;
        fake->torrent->seeding = false;

        // Anything else changes nothing at all.
        ASSERT_TRUE(Deliver(*fake, std::deque<alert_kind>(50, alert_kind::other)));
        EXPECT_EQ(d.m_trackerFailures, 10);
        EXPECT_EQ(fake->torrent->pause_count + fake->torrent->resume_count, 0);

        // A reply, then eleven: the limit counts from the reply.
        fake->alerts = {alert_kind::tracker_reply};
        fake->alerts.insert(fake->alerts.end(), 11, alert_kind::tracker_error);
        EXPECT_TRUE(PumpUntil([&] { return boxes.Count(kText4) == 1; }, 5000));
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_EQ(boxes.Count(kText4), 1);
    EXPECT_EQ(boxes.SeenBoxes().size(), 1u);
}

TEST(TrackerWatchdog, TorrentGoneMeansNoCountAndOtherAlertsStillHandled)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    dlg->drive = [&](AlertsDlg& d) {
        d.m_trackerFailures = 7;
        fake->torrent->removed = true;
        std::deque<alert_kind> batch = Failures(20);
        batch.push_back(alert_kind::file_error);
        ASSERT_TRUE(Deliver(*fake, batch));
        EXPECT_EQ(d.m_trackerFailures, 7);
        EXPECT_EQ(boxes.Count(kDiskText), 1) << "the alert after the failing ones is still handled";
        ASSERT_TRUE(Deliver(*fake, {alert_kind::tracker_reply}));
        EXPECT_EQ(d.m_trackerFailures, 0);
        d.CloseDownloader();
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_EQ(boxes.Count(kText4), 0);
}

TEST(Reannounce, PeriodFollowsTheConnectedPeersAtEveryTick)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    const std::string t = TinyTorrent();
    dlg->m_handle = fake->add_torrent(engine::torrent_info::from_buffer(t.data(), t.size()), "/x");
    auto& torrent = *fake->torrent;

    struct Case { int peers; std::uint32_t period; };
    for (const Case& c : {Case{0, 20}, Case{19, 20}, Case{20, 240}, Case{500, 240}}) {
        SCOPED_TRACE(c.peers);
        torrent.peers = c.peers;
        torrent.force_reannounce_count = 0;
        dlg->m_reannounceTicks = 0;
        for (std::uint32_t tick = 1; tick < c.period; ++tick)
            dlg->ReannounceTick();
        EXPECT_EQ(torrent.force_reannounce_count, 0);
        EXPECT_EQ(dlg->m_reannounceTicks, c.period - 1);
        dlg->ReannounceTick();
        EXPECT_EQ(torrent.force_reannounce_count, 1);
        EXPECT_EQ(dlg->m_reannounceTicks, 0u);
        for (std::uint32_t tick = 0; tick < c.period; ++tick)
            dlg->ReannounceTick();
        EXPECT_EQ(torrent.force_reannounce_count, 2);
    }

    // 99 ticks with 25 peers, then 5 peers at tick 100: announced at once.
    torrent.peers = 25;
    torrent.force_reannounce_count = 0;
    dlg->m_reannounceTicks = 0;
    for (int tick = 1; tick <= 99; ++tick)
        dlg->ReannounceTick();
    EXPECT_EQ(torrent.force_reannounce_count, 0);
    torrent.peers = 5;
    dlg->ReannounceTick();
    EXPECT_EQ(torrent.force_reannounce_count, 1);
    EXPECT_EQ(dlg->m_reannounceTicks, 0u);

    // A negative peer count from a broken engine compares unsigned: busy.
    torrent.peers = -1;
    dlg->m_reannounceTicks = 20;
    dlg->ReannounceTick();
    EXPECT_EQ(torrent.force_reannounce_count, 1);

    // A torrent that names nothing, or goes between two calls: no tick, no throw.
    dlg->m_reannounceTicks = 500;
    torrent.peers = 0;
    torrent.remove_after_calls(1);  // is_valid answers, status finds it gone
    EXPECT_NO_THROW(dlg->ReannounceTick());
    EXPECT_NO_THROW(dlg->ReannounceTick());
    EXPECT_EQ(torrent.force_reannounce_count, 1);
    dlg->m_handle = engine::torrent_handle();
    EXPECT_NO_THROW(dlg->ReannounceTick());
    EXPECT_EQ(dlg->m_reannounceTicks, 500u);
}

TEST(Alerts, EmptyQueueReturnsAtOnce)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    dlg->m_self = dlg.get();
    dlg->m_trackerFailures = 3;
    dlg->PumpAlerts();
    EXPECT_EQ(fake->pop_alerts_count, 1);
    EXPECT_EQ(dlg->m_trackerFailures, 3);
}

TEST(DiskError, OneBoxPerIncidentPausedLookAndAResumeStartsANewIncident)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    bool runningLookWhileBoxOpen = false;
    boxes.onShown = [&](const QString&, int) {
        runningLookWhileBoxOpen = HoldsRunningLook(dlg->m_btnPauseResume);
    };
    dlg->drive = [&](AlertsDlg& d) {
        // A storm of errors of one full disk: one box.
        ASSERT_TRUE(Deliver(*fake, std::deque<alert_kind>(300, alert_kind::file_error)));
        ASSERT_TRUE(Deliver(*fake, std::deque<alert_kind>(5, alert_kind::file_error)));
        EXPECT_EQ(boxes.Count(kDiskText), 1);
        EXPECT_EQ(boxes.SeenBoxes()[0].buttons, QMessageBox::Ok);
        EXPECT_TRUE(runningLookWhileBoxOpen) << "the look changes once the box is acknowledged";
        EXPECT_TRUE(HoldsPausedLook(d.m_btnPauseResume));
        EXPECT_TRUE(fake->torrent->paused) << "the engine paused it";
        EXPECT_EQ(fake->torrent->pause_count + fake->torrent->resume_count, 0) << "no engine call here";

        // The user frees space and resumes: the running look, and a new
        // incident is reported again.
        d.OnBnClickedPauseResume();
        EXPECT_EQ(fake->torrent->resume_count, 1);
        EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));
        ASSERT_TRUE(Deliver(*fake, {alert_kind::file_error, alert_kind::file_error}));
        EXPECT_EQ(boxes.Count(kDiskText), 2);
        EXPECT_TRUE(HoldsPausedLook(d.m_btnPauseResume));

        // A pause and resume by the user ends that incident too.
        d.OnBnClickedPauseResume();
        EXPECT_EQ(fake->torrent->resume_count, 2);
        d.OnBnClickedPauseResume();
        EXPECT_EQ(fake->torrent->pause_count, 1);
        ASSERT_TRUE(Deliver(*fake, {alert_kind::file_error}));
        EXPECT_EQ(boxes.Count(kDiskText), 3);
        d.CloseDownloader();
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_EQ(boxes.SeenBoxes().size(), 3u);
}

// Alerts handled while a box of an earlier alert is open: a nested pump
// goes on with the same queue, in order, and never opens a second disk box.
TEST(Reentry, NestedPumpContinuesTheSameQueueInOrder)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    dlg->reannounceMs = 0;  // pumps come from the test alone
    BoxAnswerer boxes;
    std::vector<int> countsSeenInside;
    boxes.policy = [&](const QString& text, int) -> std::optional<QMessageBox::StandardButton> {
        if (text == kDiskText && countsSeenInside.empty()) {
            // Behind the box: more alerts arrive and the pump runs again.
            fake->alerts = {alert_kind::file_error, alert_kind::tracker_error, alert_kind::tracker_reply,
                            alert_kind::tracker_error};
            dlg->PumpAlerts();
            countsSeenInside.push_back(dlg->m_trackerFailures);
        }
        return QMessageBox::Ok;
    };
    dlg->drive = [&](AlertsDlg& d) {
        fake->alerts = {alert_kind::file_error, alert_kind::tracker_error, alert_kind::tracker_error,
                        alert_kind::file_error};
        d.PumpAlerts();
        d.CloseDownloader();
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_EQ(boxes.Count(kDiskText), 1);
    // Inside the box: the outer batch's two failures first, then the new
    // alerts (a failure, a reply, a failure): 1 at the end, and nothing left
    // for the outer loop to count twice.
    ASSERT_EQ(countsSeenInside.size(), 1u);
    EXPECT_EQ(countsSeenInside[0], 1);
    EXPECT_EQ(dlg->m_trackerFailures, 1);
    EXPECT_TRUE(dlg->m_pendingAlerts.empty());
}

// The Close question waits for the user while timer 108 goes on: a disk
// error behind it shows its box over the question, once, however many more
// errors come while that box is open.
TEST(Reentry, DiskErrorsBehindTheCloseQuestion)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    int diskPolls = 0;
    int pumpsAtDiskBox = -1;
    int pumpsDuringDiskBox = -1;
    boxes.policy = [&](const QString& text, int index) -> std::optional<QMessageBox::StandardButton> {
        if (text == kCloseQuestion) {
            if (boxes.Count(kDiskText) == 0) {
                if (fake->alerts.empty() && !fake->torrent->paused)
                    fake->alerts = {alert_kind::file_error};
                return std::nullopt;  // keep the question open until the disk box came
            }
            return QMessageBox::No;
        }
        if (text == kDiskText) {
            EXPECT_EQ(boxes.SeenBoxes()[std::size_t(index)].depth, 2) << "over the question";
            // More errors while the box is open. Timer 108 waits in this
            // box's handler, so only the refresh runs meanwhile.
            if (diskPolls == 0)
                pumpsAtDiskBox = fake->pop_alerts_count;
            fake->alerts = {alert_kind::file_error, alert_kind::file_error};
            if (++diskPolls < 10)
                return std::nullopt;
            pumpsDuringDiskBox = fake->pop_alerts_count - pumpsAtDiskBox;
            return QMessageBox::Ok;
        }
        return QMessageBox::Ok;
    };
    dlg->drive = [&](AlertsDlg& d) {
        d.OnBnClickedClose();  // returns once the question is answered No
        EXPECT_FALSE(d.IsEnding());
        // The errors left queued are drained by the next ticks: no box.
        ASSERT_TRUE(Deliver(*fake, {alert_kind::file_error}));
        d.CloseDownloader();
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_EQ(boxes.Count(kCloseQuestion), 1);
    EXPECT_EQ(boxes.Count(kDiskText), 1);
    EXPECT_EQ(pumpsDuringDiskBox, 0);
    EXPECT_TRUE(HoldsPausedLook(dlg->m_btnPauseResume));
}

// The watchdog reaching its limit behind the Close question closes the
// program, whatever the question's answer.
TEST(Reentry, WatchdogBehindTheCloseQuestion)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    boxes.policy = [&](const QString& text, int) -> std::optional<QMessageBox::StandardButton> {
        if (text == kCloseQuestion) {
            if (boxes.Count(kText4) == 0) {
                if (fake->alerts.empty() && fake->torrent->pause_count == 0)
                    fake->alerts = Failures(15);
                return std::nullopt;
            }
            return QMessageBox::No;
        }
        return QMessageBox::Ok;
    };
    dlg->drive = [&](AlertsDlg& d) { d.OnBnClickedClose(); };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_FALSE(dlg->watchdogFired);
    EXPECT_EQ(boxes.Count(kText4), 1);
    EXPECT_EQ(boxes.SeenBoxes().size(), 2u);
    EXPECT_EQ(fake->torrent->pause_count, 1);
}

}  // namespace
