// The Pause/Resume and Close buttons with the scripted engine: looks and
// engine calls, message (7), the close question, and torrents that are gone
// before or during a click.
#include "tests/app/AlertsHarness.h"

#include <gtest/gtest.h>

namespace {

using namespace alertstest;

void Click(CCorvaneDlg& d, UINT id) { d.SendMessage(WM_COMMAND, WPARAM(id) | (WPARAM(BN_CLICKED) << 16), 0); }

TEST(PauseResume, TogglesByTheEnginesStateWithTheMatchingLook)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    dlg->drive = [&](AlertsDlg& d) {
        auto& t = *fake->torrent;
        Click(d, 100);
        EXPECT_TRUE(t.paused);
        EXPECT_EQ(t.pause_count, 1);
        EXPECT_TRUE(HoldsPausedLook(d.m_btnPauseResume));
        Click(d, 100);
        EXPECT_FALSE(t.paused);
        EXPECT_EQ(t.resume_count, 1);
        EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));

        // Paused by the engine behind the look's back (a disk error not yet
        // reported): the click resumes, whatever the look says.
        t.paused = true;
        Click(d, 100);
        EXPECT_EQ(t.resume_count, 2);
        EXPECT_EQ(t.pause_count, 1);
        EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));
        d.CloseDownloader();
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_TRUE(boxes.SeenBoxes().empty());
}

TEST(PauseResume, NoTorrentOrATorrentGoneDuringTheClickShowsMessage7)
{
    engine::fake_session* fake = nullptr;
    auto dlg = AlertsDlg::WithFake(&fake);
    BoxAnswerer boxes;
    dlg->drive = [&](AlertsDlg& d) {
        auto& t = *fake->torrent;
        const engine::torrent_handle real = d.m_handle;

        // No torrent at all: the message, each time, and nothing else.
        d.m_handle = engine::torrent_handle();
        Click(d, 100);
        Click(d, 100);
        EXPECT_EQ(boxes.Count(kText7), 2);
        EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));
        EXPECT_FALSE(d.IsEnding());

        // Gone right after the validity test: look unchanged.
        d.m_handle = real;
        t.remove_after_calls(1);
        Click(d, 100);
        EXPECT_EQ(boxes.Count(kText7), 3);
        EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));

        // Gone between reading the state and pausing: the look is put back.
        t.removed = false;
        t.remove_after_calls(2);
        Click(d, 100);
        EXPECT_EQ(boxes.Count(kText7), 4);
        EXPECT_TRUE(HoldsRunningLook(d.m_btnPauseResume));
        EXPECT_EQ(t.pause_count, 0);

        // The same while resuming a paused torrent.
        t.removed = false;
        t.remove_after_calls(-1);
        t.paused = true;
        LoadPausedLook(d.m_btnPauseResume);
        t.remove_after_calls(2);
        Click(d, 100);
        EXPECT_EQ(boxes.Count(kText7), 5);
        EXPECT_TRUE(HoldsPausedLook(d.m_btnPauseResume));
        EXPECT_EQ(t.resume_count, 0);
        d.CloseDownloader();
    };
    EXPECT_EQ(dlg->Run(), IDCANCEL);
    EXPECT_FALSE(dlg->watchdogFired);
    ASSERT_EQ(boxes.SeenBoxes().size(), 5u);
    for (const auto& seen : boxes.SeenBoxes()) {
        EXPECT_EQ(seen.buttons, QMessageBox::Ok);
        EXPECT_EQ(seen.caption, AfxGetAppName());
    }
}

// Close: which torrents ask first, and what each answer does.
TEST(Close, AsksOnlyWhileUnfinishedAndNoKeepsRunning)
{
    struct Case
    {
        const char* name;
        std::function<void(engine::fake_session&, CCorvaneDlg&)> state;
        std::vector<QMessageBox::StandardButton> answers;  // to the questions, in order
        int questions;
        bool closes;
    };
    const std::vector<Case> cases = {
        {"downloading, No", [](auto&, auto&) {}, {QMessageBox::No}, 1, false},
        {"downloading, Yes", [](auto&, auto&) {}, {QMessageBox::Yes}, 1, true},
        {"downloading, closed without a button", [](auto&, auto&) {}, {QMessageBox::Cancel}, 1, false},
        {"paused, Yes", [](auto& f, auto&) { f.torrent->paused = true; }, {QMessageBox::Yes}, 1, true},
        {"complete", [](auto& f, auto&) { f.torrent->seeding = true; }, {}, 0, true},
        {"no torrent", [](auto&, auto& d) { d.m_handle = engine::torrent_handle(); }, {}, 0, true},
        {"gone during the click", [](auto& f, auto&) { f.torrent->remove_after_calls(1); }, {}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine::fake_session* fake = nullptr;
        auto dlg = AlertsDlg::WithFake(&fake);
        dlg->refreshMs = 0;  // nothing but the click asks the engine
        dlg->reannounceMs = 0;
        BoxAnswerer boxes;
        std::size_t next = 0;
        boxes.policy = [&](const QString& text, int) -> std::optional<QMessageBox::StandardButton> {
            if (text != kCloseQuestion)
                return QMessageBox::Ok;
            if (next < c.answers.size() && c.answers[next] == QMessageBox::Cancel) {
                // Closed with the window's own close: neither Yes nor No.
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->reject();
                ++next;
                return std::nullopt;
            }
            return next < c.answers.size() ? c.answers[next++] : QMessageBox::No;
        };
        bool closedByClick = false;
        dlg->drive = [&](AlertsDlg& d) {
            c.state(*fake, d);
            Click(d, 103);
            PumpUntil([&] { return d.IsEnding(); }, 300);
            closedByClick = d.IsEnding();
            if (!closedByClick)
                d.CloseDownloader();
        };
        EXPECT_EQ(dlg->Run(), IDCANCEL);
        EXPECT_FALSE(dlg->watchdogFired);
        EXPECT_EQ(boxes.Count(kCloseQuestion), c.questions);
        EXPECT_EQ(int(boxes.SeenBoxes().size()), c.questions);
        EXPECT_EQ(closedByClick, c.closes);
        EXPECT_EQ(fake->torrent->pause_count + fake->torrent->resume_count, 0);
        if (c.questions) {
            const auto& q = boxes.SeenBoxes()[0];
            EXPECT_EQ(q.buttons, QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(q.caption, AfxGetAppName());
        }
    }
}

}  // namespace
