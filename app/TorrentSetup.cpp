// The start routine, second half: the BitTorrent engine's set-up, the torrent
// added into the chosen folder, the first display and the two timers. All of
// it inside one guard: any failure shows message (5) or (6) and closes.
#include "app/CorvaneDlg.h"

#include "app/SessionSetup.h"
#include "engine/torrent_info.h"

#include <exception>
#include <new>

void CCorvaneDlg::StartTorrent(std::uint32_t torrentBytes, const std::string& webSeed)
{
    try {
        ConfigureSession(*m_session);

        // The .torrent is exactly the bytes the fetch reported, not the NUL behind them.
        const engine::torrent_info info = engine::torrent_info::from_buffer(m_buffer, torrentBytes);
        // The engine takes paths as UTF-8, so every folder name the user can
        // pick reaches it unchanged (QStringView: no character is dropped,
        // not even a leading U+FEFF).
        const std::string savePath = QStringView(m_saveFolder).toUtf8().toStdString();
        m_handle = m_session->add_torrent(info, savePath);

        ConfigureTorrent(m_handle);
        // In-order picking of pieces that 30 or more peers have is not offered
        // by this engine; rarest first throughout.

        if (webSeed.size() > 12)
            m_handle.add_url_seed(webSeed);

        {
            const engine::torrent_status status = m_handle.status();
            ShowSizeText(status.total_payload_download, m_handle.total_size());
        }
        ShowPathText(QStringView(m_saveFolder).toString(), QString::fromStdString(m_handle.name()));
        ShowRateText(0);
        ShowPeersText(0);
        ShowPercent(0);

        SetTimer(kRefreshTimer, 500);
        SetTimer(kReannounceTimer, 1000);
    } catch (const std::bad_alloc&) {
        // Running out of memory is not an engine failure: message (6).
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (6)"), nullptr, MB_OK);
        CloseDownloader();
    } catch (const std::exception&) {
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (5)"), nullptr, MB_OK);
        CloseDownloader();
    } catch (...) {
        MessageBox(QStringLiteral("Cannot connect to server. Please check your network. (6)"), nullptr, MB_OK);
        CloseDownloader();
    }
}
