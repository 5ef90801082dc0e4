#include "app/SessionSetup.h"

#include "app/Identity.h"
#include "app/util/ShellUtil.h"

void ConfigureSession(engine::session& session)
{
    session.add_extension_ut_pex();

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

    session.set_max_half_open_connections(GetWindowsVersionClass() == 0 ? -1 : 8);
    session.set_max_connections(500);
    session.set_max_uploads(50);
    session.set_upload_rate_limit(0);
    session.set_download_rate_limit(0);
    session.set_settings(settings);
    session.set_alert_severity_info();
    // After the settings, so the port mappers speak with our user agent.
    session.start_lsd();
    session.start_upnp();
    session.start_natpmp();

    engine::pe_settings encryption;
    encryption.out_enc_policy = engine::pe_settings::enabled;
    encryption.in_enc_policy = engine::pe_settings::enabled;
    encryption.allowed_enc_level = engine::pe_settings::both;
    encryption.prefer_rc4 = false;
    session.set_pe_settings(encryption);

    // Whether a port of the range could be opened is not looked at.
    session.listen_on(6881, 6889);
}

void ConfigureTorrent(engine::torrent_handle& handle)
{
    handle.set_max_connections(500);
    handle.set_max_uploads(50);
    handle.set_upload_limit(0);
    handle.set_download_limit(0);
}
