#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/alert_kind.h"
#include "engine/fingerprint.h"
#include "engine/session_settings.h"
#include "engine/torrent_handle.h"
#include "engine/torrent_info.h"

namespace engine {

// The BitTorrent engine: its configuration calls, the one torrent, alerts.
// Calls are made from one thread (the UI thread). Destroying the session
// stops the engine and waits for its threads (and for the trackers to hear
// that the torrent stops, a few seconds at most).
class session {
public:
    virtual ~session() = default;

    virtual void add_extension_ut_pex() = 0;  // peer exchange for later torrents
    virtual void set_settings(const session_settings& s) = 0;
    // The engine has no half-open limit any more: the value is only kept.
    virtual void set_max_half_open_connections(int n) = 0;
    virtual void set_max_connections(int n) = 0;
    virtual void set_max_uploads(int n) = 0;
    virtual void set_upload_rate_limit(int bytes_per_second) = 0;    // 0 or less: unlimited
    virtual void set_download_rate_limit(int bytes_per_second) = 0;  // 0 or less: unlimited
    // Queue error, tracker, status and storage alerts (tracker replies and
    // failures, file errors among them).
    virtual void set_alert_severity_info() = 0;
    virtual void start_lsd() = 0;
    virtual void start_upnp() = 0;
    virtual void start_natpmp() = 0;
    virtual void set_pe_settings(const pe_settings& s) = 0;
    // Listen on every IPv4 address, on the first port of the range that can
    // be opened. Whether one could is not reported (see listen_port()).
    virtual void listen_on(int first_port, int last_port) = 0;
    // Adds the torrent to download into (and seed from) the folder, a UTF-8
    // path: sparse files, not queued, not paused. Files already in the
    // folder are checked first. Throws a std::exception-derived error when
    // the torrent cannot be added.
    virtual torrent_handle add_torrent(const torrent_info& ti, const std::string& save_path_utf8) = 0;
    // Drains the alert queue, classifying each alert by its exact type.
    // A file error pauses its torrent, so a full disk stops the download
    // until resume(); a file error raised before the torrent's last resume()
    // is stale and reported as `other`.
    virtual std::vector<alert_kind> pop_alerts() = 0;
    // The port listened on, 0 when none.
    virtual int listen_port() const = 0;
};

// The real engine (libtorrent), not listening yet, with no plug-ins, DHT and
// uTP off, files written through the engine's own file storage (files kept
// open, blocks hashed as they arrive).
std::unique_ptr<session> make_session(const fingerprint& fp);

}  // namespace engine
