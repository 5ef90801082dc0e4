#pragma once
// The engine set-up the program makes, with its values, for the engine tests.
#include <string>
#include <vector>

#include "engine/session.h"

namespace enginetest {

inline engine::fingerprint ClientFingerprint() { return {"KQ", 0, 7, 0, 0}; }

inline void ConfigureLikeTheProgram(engine::session& s)
{
    s.add_extension_ut_pex();
    engine::session_settings st;
    st.user_agent = "TrxTorrent/0.7.0.0";
    st.num_want = 100;
    st.ignore_limits_on_local_network = true;
    st.allow_multiple_connections_per_ip = true;
    st.handshake_timeout = 20;
    st.initial_picker_threshold = 200;
    st.allowed_fast_set_size = 30;
    st.connection_speed = 8;
    st.peer_connect_timeout = 10;
    st.min_reconnect_time = 1;
    st.max_failcount = 2;
    s.set_max_half_open_connections(-1);
    s.set_max_connections(500);
    s.set_max_uploads(50);
    s.set_upload_rate_limit(0);
    s.set_download_rate_limit(0);
    s.set_settings(st);
    s.set_alert_severity_info();
    s.start_lsd();
    s.start_upnp();
    s.start_natpmp();
    s.set_pe_settings({});
    s.listen_on(6881, 6889);
}

inline engine::torrent_handle AddLikeTheProgram(engine::session& s, const std::string& torrent,
                                                const std::string& savePath)
{
    engine::torrent_handle h =
        s.add_torrent(engine::torrent_info::from_buffer(torrent.data(), torrent.size()), savePath);
    h.set_max_connections(500);
    h.set_max_uploads(50);
    h.set_upload_limit(0);
    h.set_download_limit(0);
    return h;
}

}  // namespace enginetest
