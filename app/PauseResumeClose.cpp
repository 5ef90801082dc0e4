// The Pause/Resume and Close buttons of the main window.
#include "app/CorvaneDlg.h"
#include "app/PauseResumeLooks.h"
#include "engine/invalid_handle.h"

#include <exception>

void CCorvaneDlg::OnBnClickedPauseResume()
{
    // The engine's state decides, not the look shown: after a disk error the
    // engine has paused the torrent itself.
    bool lookLoaded = false;
    bool wasPaused = false;
    try {
        if (m_handle.is_valid()) {
            wasPaused = m_handle.is_paused();
            lookLoaded = true;
            if (wasPaused) {
                LoadRunningLook(m_btnPauseResume);
                m_handle.resume();  // also clears a disk error: that incident is over
                m_diskErrorShown = false;
            } else {
                LoadPausedLook(m_btnPauseResume);
                m_handle.pause();
            }
            return;
        }
    } catch (const std::exception&) {
        // The torrent went away during the click (or the engine refused it):
        // the look goes back to the state last seen, and the user is told as
        // for a torrent that was never there.
        if (lookLoaded && wasPaused)
            LoadPausedLook(m_btnPauseResume);
        else if (lookLoaded)
            LoadRunningLook(m_btnPauseResume);
    }
    MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (7)"), nullptr, MB_OK);
}

void CCorvaneDlg::OnBnClickedClose()
{
    bool unfinished = false;
    try {
        unfinished = m_handle.is_valid() && !m_handle.is_seed();
    } catch (const std::exception&) {
        unfinished = false;  // gone meanwhile: nothing left to lose by closing
    }
    if (unfinished &&
        MessageBox(QStringLiteral("Download has not been completed. Would you still like to close the program?"),
                   nullptr, MB_YESNO) != IDYES)
        return;
    CloseDownloader();
}
