// The start routine, second half: the BitTorrent engine's set-up, the torrent
// added into the chosen folder, the first display and the two timers. All of
// it inside one guard: any failure shows message (5) or (6) and closes.
#include "app/CorvaneDlg.h"

#include "app/Identity.h"
#include "app/util/ShellUtil.h"
#include "engine/torrent_info.h"

#include <exception>
#include <new>

void CCorvaneDlg::StartTorrent(std::uint32_t torrentBytes, const std::string& webSeed)
{
    try {
        m_session->add_extension_ut_pex();

        engine::session_settings settings;
        settings.user_agent = ClientUserAgent();
        settings.num_want = 100;
        settings.ignore_limits_on_local_network = true;
        settings.allow_multiple_connections_per_ip = true;
        settings.handshake_timeout = 20;
        settings.initial_picker_threshold = 200;
        settings.allowed_fast_set_size = 30;
        settings.connection_speed = 8;
        settings.peer_connect_timeout = 10;
        // The engine waits (failures + 1) times this before dialling a peer
        // again: 1 s redials a healthy peer (after a pause, say) at once, while
        // max_failcount still gives up on peers that keep failing.
        settings.min_reconnect_time = 1;
        settings.max_failcount = 2;

        m_session->set_max_half_open_connections(GetWindowsVersionClass() == 0 ? -1 : 8);
        m_session->set_max_connections(500);
        m_session->set_max_uploads(50);
        m_session->set_upload_rate_limit(0);
        m_session->set_download_rate_limit(0);
        m_session->set_settings(settings);
        m_session->set_alert_severity_info();
        // After the settings, so the port mappers speak with our user agent.
        m_session->start_lsd();
        m_session->start_upnp();
        m_session->start_natpmp();

        engine::pe_settings encryption;
        encryption.out_enc_policy = engine::pe_settings::enabled;
        encryption.in_enc_policy = engine::pe_settings::enabled;
        encryption.allowed_enc_level = engine::pe_settings::both;
        encryption.prefer_rc4 = false;
        m_session->set_pe_settings(encryption);

        // Whether a port of the range could be opened is not looked at.
        m_session->listen_on(6881, 6889);

        // The .torrent is exactly the bytes the fetch reported, not the NUL behind them.
        const engine::torrent_info info = engine::torrent_info::from_buffer(m_buffer, torrentBytes);
        // The engine takes paths as UTF-8, so every folder name the user can
        // pick reaches it unchanged (QStringView: no character is dropped,
        // not even a leading U+FEFF).
        const std::string savePath = QStringView(m_saveFolder).toUtf8().toStdString();
        m_handle = m_session->add_torrent(info, savePath);

        m_handle.set_max_connections(500);
        m_handle.set_max_uploads(50);
        m_handle.set_upload_limit(0);
        m_handle.set_download_limit(0);
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
