// What the main window does on every tick of timer 108: the forced
// re-announce, and the engine's alerts — the tracker watchdog and disk errors.
#include "app/CorvaneDlg.h"
#include "app/PauseResumeLooks.h"
#include "engine/alert_kind.h"
#include "engine/invalid_handle.h"

#include <cstdint>

namespace {

// The dialog's alert handler: reaches the dialog through the one pointer it
// holds and has one operation for each alert the program reacts to.
struct DialogAlertHandler
{
    CCorvaneDlg* dlg;

    void OnTrackerError() const { dlg->OnTrackerAlert(); }
    void OnTrackerReply() const { dlg->m_trackerFailures = 0; }
    void OnFileError() const { dlg->OnFileError(); }
};

// Hands one alert to the handler's operation for its kind; any other kind
// is discarded.
void HandleAlert(engine::alert_kind kind, const DialogAlertHandler& handler)
{
    switch (kind) {
    case engine::alert_kind::tracker_error: handler.OnTrackerError(); break;
    case engine::alert_kind::tracker_reply: handler.OnTrackerReply(); break;
    case engine::alert_kind::file_error: handler.OnFileError(); break;
    case engine::alert_kind::other: break;
    }
}

constexpr std::uint32_t kBusySwarmPeers = 20;
constexpr std::uint32_t kQuietReannounceTicks = 20;  // below 20 peers: every 20 s
constexpr std::uint32_t kBusyReannounceTicks = 240;  // otherwise every 4 minutes
constexpr std::int32_t kTrackerFailureLimit = 10;

}  // namespace

void CCorvaneDlg::ReannounceTick()
{
    // The torrent can be gone (the session ending); a tick then does nothing.
    if (!m_handle.is_valid())
        return;
    try {
        const auto peers = static_cast<std::uint32_t>(m_handle.status().num_peers);
        ++m_reannounceTicks;
        const std::uint32_t period = peers < kBusySwarmPeers ? kQuietReannounceTicks : kBusyReannounceTicks;
        if (m_reannounceTicks >= period) {
            m_handle.force_reannounce();
            m_reannounceTicks = 0;
        }
    } catch (...) {
        // Gone between the test and the call, or the engine refused: the
        // next tick tries again.
    }
}

void CCorvaneDlg::PumpAlerts()
{
    try {
        for (engine::alert_kind kind : m_session->pop_alerts())
            m_pendingAlerts.push_back(kind);
    } catch (...) {
        // Nothing taken this time; the engine keeps its queue for the next tick.
    }

    const DialogAlertHandler handler{m_self};
    // Message boxes shown while handling an alert run the event loop, so the
    // queue is taken from its front one alert at a time: whatever runs inside
    // the box sees only the alerts not yet handled.
    while (!m_pendingAlerts.empty()) {
        const engine::alert_kind kind = m_pendingAlerts.front();
        m_pendingAlerts.pop_front();
        try {
            HandleAlert(kind, handler);
        } catch (...) {
            // One alert's failure (the torrent gone, say) never stops the others.
        }
    }
}

void CCorvaneDlg::OnTrackerAlert()
{
    // The watchdog has already stopped the download and the window is
    // closing: nothing more to count or say.
    if (m_watchdogFired)
        return;

    // A failed announce does no harm while any peer is connected, or once
    // the download is complete.
    const int peerList = m_handle.peer_count();
    const engine::torrent_status status = m_handle.status();
    const std::uint32_t connected = static_cast<std::uint32_t>(status.num_peers) + static_cast<std::uint32_t>(peerList);
    if (connected != 0 || m_handle.is_seed())
        return;

    ++m_trackerFailures;
    if (m_trackerFailures > kTrackerFailureLimit) {
        // Set first: the boxes below run the event loop.
        m_watchdogFired = true;
        OnBnClickedPauseResume();
        KillTimer(kReannounceTimer);
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (4)"), nullptr, MB_OK);
        CloseDownloader();
    }
}

void CCorvaneDlg::OnFileError()
{
    // The engine reports every failed write of one full disk; the user hears
    // of it once, until resuming the torrent ends the incident. Once the
    // window is closing there is nobody left to ask.
    if (m_diskErrorShown || m_watchdogFired)
        return;
    m_diskErrorShown = true;  // before the box: its event loop may bring more errors
    MessageBox(QStringLiteral("Disk space is full. Please try again after gaining additional disk space"), nullptr, MB_OK);
    // The engine has paused the torrent; the button now offers to resume it.
    LoadPausedLook(m_btnPauseResume);
    m_btnPauseResume.InvalidateRect(nullptr, TRUE);
}
