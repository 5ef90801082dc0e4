// The main window set up as the start routine leaves it (a torrent added,
// counters at 0, the two timers running), without fetching anything, for the
// tests of the alerts, the watchdog, the disk-error message and the
// Pause/Resume and Close buttons. Message boxes are answered by a policy of
// the test's own, so a box can be kept open while something happens behind it.
#pragma once

#include "app/CorvaneDlg.h"
#include "app/PauseResumeLooks.h"
#include "engine/fake_session.h"
#include "framework/Gdi.h"
#include "framework/WinApp.h"
#include "tests/app/ButtonLooks.h"
#include "tests/support/DrivenDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace alertstest {

inline const QString kText4 = QStringLiteral("Cannot connect to server. Please check your network. (4)");
inline const QString kText7 = QStringLiteral("Cannot connect to server. Please check your network. (7)");
inline const QString kDiskText =
    QStringLiteral("Disk space is full. Please try again after gaining additional disk space");
inline const QString kCloseQuestion =
    QStringLiteral("Download has not been completed. Would you still like to close the program?");

// Answers message boxes as they become the active modal widget.
class BoxAnswerer
{
public:
    struct Seen
    {
        QString text;
        QString caption;
        QMessageBox::StandardButtons buttons;
        int depth = 0;  // boxes open at the time, this one included
        QString answer;
    };
    // Given the box's text and its index among the boxes seen so far: the
    // button to press now, or nothing to leave the box open for the moment.
    using Policy = std::function<std::optional<QMessageBox::StandardButton>(const QString& text, int index)>;

    BoxAnswerer()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }

    // Default: OK, or No for a question, at once.
    Policy policy;
    // Called once when a box is first seen (before any answer).
    std::function<void(const QString& text, int index)> onShown;

    const std::vector<Seen>& SeenBoxes() const { return m_seen; }
    int Count(const QString& text) const
    {
        int n = 0;
        for (const Seen& s : m_seen)
            n += s.text == text;
        return n;
    }
    int OpenBoxes() const
    {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<QMessageBox*>(w) && w->isVisible();
        return n;
    }

private:
    void Poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || m_busy)
            return;
        m_busy = true;  // onShown may run an event loop of its own
        int index = box->property("alertstest.index").isValid() ? box->property("alertstest.index").toInt() : -1;
        if (index < 0) {
            index = int(m_seen.size());
            box->setProperty("alertstest.index", index);
            m_seen.push_back({box->text(), box->windowTitle(), box->standardButtons(), OpenBoxes(), {}});
            if (onShown)
                onShown(box->text(), index);
        }
        QPointer<QMessageBox> alive(box);
        std::optional<QMessageBox::StandardButton> answer;
        if (policy)
            answer = policy(m_seen[index].text, index);
        else
            answer = (m_seen[index].buttons & QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
        if (alive && answer) {
            if (QAbstractButton* b = alive->button(*answer)) {
                m_seen[index].answer = b->text();
                b->click();
            }
        }
        m_busy = false;
    }

    QTimer m_timer;
    std::vector<Seen> m_seen;
    bool m_busy = false;
};

// A .torrent of one small file, enough for the fake engine's add_torrent.
inline std::string TinyTorrent()
{
    return "d4:infod6:lengthi1000e4:name4:data12:piece lengthi16384e6:pieces20:" + std::string(20, 'x') + "ee";
}

// The window with a given engine. OnInitDialog does what the window's own
// does up to the start routine, then what the start routine leaves behind;
// `drive` then runs once from a timer of the test's own.
class AlertsDlg : public DrivenDialog<AlertsDlg>
{
public:
    explicit AlertsDlg(std::unique_ptr<engine::session> s) : DrivenDialog(std::move(s)) { deadline = std::chrono::seconds(30); }

    static std::unique_ptr<AlertsDlg> WithFake(engine::fake_session** fake)
    {
        auto f = std::make_unique<engine::fake_session>();
        *fake = f.get();
        return std::make_unique<AlertsDlg>(std::move(f));
    }

    // Before the run: what to do after the set-up, and the timers' intervals
    // (0: that timer is not started).
    std::function<void(AlertsDlg&)> setUp;  // default: add the tiny torrent (fake engine)
    UINT refreshMs = 50;
    UINT reannounceMs = 20;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        ShowWindow(SW_SHOWNORMAL);
        CreateControls();
        LoadRunningLook(m_btnPauseResume);  // the look the button is created with
        m_self = this;
        m_trackerFailures = 0;
        m_reannounceTicks = 0;
        if (setUp) {
            setUp(*this);
        } else {
            const std::string t = TinyTorrent();
            m_handle = m_session->add_torrent(engine::torrent_info::from_buffer(t.data(), t.size()), "/nonexistent");
        }
        if (refreshMs)
            SetTimer(kRefreshTimer, refreshMs);
        if (reannounceMs)
            SetTimer(kReannounceTimer, reannounceMs);
        StartTestTimers();
        return TRUE;
    }
};

}  // namespace alertstest
