#pragma once
// A scripted stand-in for the engine, for unit tests of the program's logic:
// every call is recorded, every answer is set by the test. No threads.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/session.h"

namespace engine {

// The fake's one torrent: the state the test scripts, and what was done to it.
class fake_torrent final : public detail::torrent_backend,
                           public std::enable_shared_from_this<fake_torrent> {
public:
    // --- scripted state ---
    std::string torrent_name = "payload";
    std::int64_t size = 0;               // total_size()
    std::vector<float> progress{0.0f};   // file_progress(), one per file
    std::int64_t done = 0;               // status().total_done
    std::int64_t payload_download = 0;   // status().total_payload_download
    float rate = 0;                      // status().download_payload_rate
    int peers = 0;                       // status().num_peers
    int peer_list = 0;                   // peer_count()
    bool seeding = false;
    bool paused = false;
    bool removed = false;                // names no torrent any more

    // The next `calls` calls (is_valid() included) behave normally; from then
    // on the torrent is gone, as if the engine dropped it in the middle.
    void remove_after_calls(int calls) { m_calls_left = calls; }

    // --- record ---
    mutable std::vector<std::string> calls;  // every call by name, in order
    int pause_count = 0;
    int resume_count = 0;
    int force_reannounce_count = 0;
    std::vector<std::string> url_seeds;
    std::optional<int> max_connections, max_uploads, upload_limit, download_limit;

    // A handle naming this torrent.
    torrent_handle handle() { return torrent_handle(shared_from_this()); }

    bool valid() const override;
    torrent_status status() const override;
    bool is_seed() const override;
    bool is_paused() const override;
    void pause() override;
    void resume() override;
    std::int64_t total_size() const override;
    std::string name() const override;
    void file_progress(std::vector<float>& fractions) const override;
    void force_reannounce() override;
    int peer_count() const override;
    void add_url_seed(const std::string& url) override;
    void set_max_connections(int n) override;
    void set_max_uploads(int n) override;
    void set_upload_limit(int limit) override;
    void set_download_limit(int limit) override;

private:
    // Records the call and throws invalid_handle when the torrent is gone.
    void enter(const char* name) const;
    mutable int m_calls_left = -1;  // < 0: never removed by counting
};

class fake_session final : public session {
public:
    fake_session();

    // --- scripted state ---
    std::shared_ptr<fake_torrent> torrent;  // what add_torrent returns a handle to
    enum class failure { none, std_exception, other_exception };
    failure add_torrent_fails = failure::none;  // other_exception: not a std::exception
    std::deque<alert_kind> alerts;          // handed out by the next pop_alerts()
    int port_after_listen = 6881;           // listen_port() once listen_on was called

    // --- record ---
    std::vector<std::string> calls;         // every call by name, in order
    std::optional<session_settings> settings;
    std::optional<pe_settings> pe;
    std::optional<int> half_open, max_connections, max_uploads, upload_rate_limit, download_rate_limit;
    bool ut_pex = false, severity_info = false, lsd = false, upnp = false, natpmp = false;
    std::optional<std::pair<int, int>> listen_range;
    std::optional<std::string> save_path;   // as given to add_torrent
    std::optional<torrent_info> added;      // as given to add_torrent
    int pop_alerts_count = 0;

    void add_extension_ut_pex() override;
    void set_settings(const session_settings& s) override;
    void set_max_half_open_connections(int n) override;
    void set_max_connections(int n) override;
    void set_max_uploads(int n) override;
    void set_upload_rate_limit(int v) override;
    void set_download_rate_limit(int v) override;
    void set_alert_severity_info() override;
    void start_lsd() override;
    void start_upnp() override;
    void start_natpmp() override;
    void set_pe_settings(const pe_settings& s) override;
    void listen_on(int first_port, int last_port) override;
    torrent_handle add_torrent(const torrent_info& ti, const std::string& save_path_utf8) override;
    // Like the real engine, a file error pauses the torrent.
    std::vector<alert_kind> pop_alerts() override;
    int listen_port() const override;
};

// What the fake throws for failure::other_exception.
struct fake_non_std_exception {};

}  // namespace engine
