// The real engine: engine::session over a libtorrent 2.0 session.
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/announce_entry.hpp>
#include <libtorrent/extensions/ut_pex.hpp>
#include <libtorrent/fingerprint.hpp>
#include <libtorrent/peer_info.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_status.hpp>

#include "engine/debug.h"
#include "engine/disk_io.h"
#include "engine/session.h"
#include "engine/torrent_info_impl.h"

namespace lt = libtorrent;

namespace engine {
namespace {

// Runs an engine call on a torrent, turning "the torrent is gone" into
// invalid_handle; other engine errors pass through.
template <class F>
auto guarded(F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const lt::system_error& e) {
        if (e.code() == lt::errors::invalid_torrent_handle) throw invalid_handle();
        throw;
    }
}

class real_torrent final : public detail::torrent_backend {
public:
    real_torrent(lt::torrent_handle h, std::shared_ptr<const torrent_info::impl> info)
        : m_h(std::move(h)), m_info(std::move(info)) {}

    const lt::torrent_handle& lt_handle() const { return m_h; }

    // A file error older than the last resume() is stale: it must not stop
    // the download the user has just resumed.
    bool is_stale(lt::time_point when) const { return when < lt::time_point(lt::time_duration(m_resumed_at.load())); }

    bool valid() const override { return m_h.is_valid(); }

    torrent_status status() const override
    {
        return guarded([&] {
            lt::torrent_status st = m_h.status(lt::status_flags_t{});
            torrent_status r;
            r.total_done = st.total_done;
            r.total_payload_download = st.total_payload_download;
            r.download_payload_rate = static_cast<float>(st.download_payload_rate);
            r.num_peers = st.num_peers;
            r.is_seeding = st.is_seeding;
            r.paused = static_cast<bool>(st.flags & lt::torrent_flags::paused);
            return r;
        });
    }
    bool is_seed() const override
    {
        return guarded([&] { return m_h.status(lt::status_flags_t{}).is_seeding; });
    }
    bool is_paused() const override
    {
        return guarded([&] { return static_cast<bool>(m_h.flags() & lt::torrent_flags::paused); });
    }
    void pause() override
    {
        guarded([&] { m_h.pause(); });
    }
    void resume() override
    {
        guarded([&] {
            m_resumed_at.store(lt::clock_type::now().time_since_epoch().count());
            // After a disk error the torrent carries the error, or, when a
            // write failed for want of space or permission, sits in
            // upload-only mode: clear both so that it downloads again.
            // Neither changes a healthy torrent. A failed write costs only
            // the pieces it touched, which the engine asks for again, so the
            // download goes on from what is verified. An error of the torrent
            // itself is a file gone or unreadable: what was verified in it
            // may be lost, so the files are checked again.
            const bool lost = static_cast<bool>(m_h.status(lt::status_flags_t{}).errc);
            m_h.clear_error();
            m_h.unset_flags(lt::torrent_flags::upload_mode);
            m_h.resume();
            if (lost) m_h.force_recheck();
        });
    }

    std::int64_t total_size() const override
    {
        if (!m_h.is_valid()) throw invalid_handle();
        return m_info->total_size;
    }
    std::string name() const override
    {
        if (!m_h.is_valid()) throw invalid_handle();
        return m_info->ti->name();
    }
    void force_reannounce() override
    {
        guarded([&] { m_h.force_reannounce(0, -1, lt::torrent_handle::ignore_min_interval); });
    }
    int peer_count() const override
    {
        return guarded([&] {
            std::vector<lt::peer_info> peers;
            m_h.get_peer_info(peers);
            return static_cast<int>(peers.size());
        });
    }
    void add_url_seed(const std::string& url) override
    {
        guarded([&] { m_h.add_url_seed(url); });
    }
    void set_max_connections(int n) override
    {
        guarded([&] { m_h.set_max_connections(n); });
    }
    void set_max_uploads(int n) override
    {
        guarded([&] { m_h.set_max_uploads(n); });
    }
    void set_upload_limit(int limit) override
    {
        guarded([&] { m_h.set_upload_limit(std::max(limit, 0)); });
    }
    void set_download_limit(int limit) override
    {
        guarded([&] { m_h.set_download_limit(std::max(limit, 0)); });
    }

private:
    lt::torrent_handle m_h;
    std::shared_ptr<const torrent_info::impl> m_info;
    std::atomic<lt::time_duration::rep> m_resumed_at{lt::time_point::min().time_since_epoch().count()};
};

class real_session final : public session {
public:
    explicit real_session(const fingerprint& fp) : m_ses(make_params(fp)) {}

    // lt::session's destructor stops the engine and joins its threads.
    ~real_session() override = default;

    void add_extension_ut_pex() override { m_ses.add_extension(&lt::create_ut_pex_plugin); }

    void set_settings(const session_settings& s) override
    {
        // ignore_limits_on_local_network has no switch of its own: local
        // peers always sit in an unlimited peer class here.
        lt::settings_pack p;
        p.set_str(lt::settings_pack::user_agent, s.user_agent);
        p.set_int(lt::settings_pack::num_want, s.num_want);
        p.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, s.allow_multiple_connections_per_ip);
        p.set_int(lt::settings_pack::handshake_timeout, s.handshake_timeout);
        p.set_int(lt::settings_pack::initial_picker_threshold, s.initial_picker_threshold);
        p.set_int(lt::settings_pack::allowed_fast_set_size, s.allowed_fast_set_size);
        p.set_int(lt::settings_pack::connection_speed, s.connection_speed);
        p.set_int(lt::settings_pack::peer_connect_timeout, s.peer_connect_timeout);
        p.set_int(lt::settings_pack::min_reconnect_time, s.min_reconnect_time);
        p.set_int(lt::settings_pack::max_failcount, s.max_failcount);
        m_ses.apply_settings(std::move(p));
    }

    void set_max_half_open_connections(int n) override { m_half_open = n; }

    void set_max_connections(int n) override { apply_int(lt::settings_pack::connections_limit, n); }
    void set_max_uploads(int n) override { apply_int(lt::settings_pack::unchoke_slots_limit, n); }
    void set_upload_rate_limit(int v) override { apply_int(lt::settings_pack::upload_rate_limit, std::max(v, 0)); }
    void set_download_rate_limit(int v) override
    {
        apply_int(lt::settings_pack::download_rate_limit, std::max(v, 0));
    }

    void set_alert_severity_info() override
    {
        apply_int(lt::settings_pack::alert_mask,
                  static_cast<int>(static_cast<std::uint32_t>(lt::alert_category::error | lt::alert_category::tracker |
                                                              lt::alert_category::status | lt::alert_category::storage)));
    }

    void start_lsd() override { apply_bool(lt::settings_pack::enable_lsd, true); }
    void start_upnp() override { apply_bool(lt::settings_pack::enable_upnp, true); }
    void start_natpmp() override { apply_bool(lt::settings_pack::enable_natpmp, true); }

    void set_pe_settings(const pe_settings& s) override
    {
        lt::settings_pack p;
        p.set_int(lt::settings_pack::out_enc_policy, policy(s.out_enc_policy));
        p.set_int(lt::settings_pack::in_enc_policy, policy(s.in_enc_policy));
        p.set_int(lt::settings_pack::allowed_enc_level, level(s.allowed_enc_level));
        p.set_bool(lt::settings_pack::prefer_rc4, s.prefer_rc4);
        m_ses.apply_settings(std::move(p));
    }

    void listen_on(int first_port, int last_port) override
    {
        lt::settings_pack p;
        p.set_str(lt::settings_pack::listen_interfaces, "0.0.0.0:" + std::to_string(first_port));
        p.set_int(lt::settings_pack::max_retry_port_bind, std::max(last_port - first_port, 0));
        m_ses.apply_settings(std::move(p));
    }

    torrent_handle add_torrent(const torrent_info& ti, const std::string& save_path_utf8) override
    {
        const auto& info = ti.get_impl();
        lt::add_torrent_params atp;
        atp.ti = std::make_shared<lt::torrent_info>(*info.ti);
        atp.save_path = save_path_utf8;
        atp.storage_mode = lt::storage_mode_sparse;
        // Not queued (a torrent the user pauses stays paused) and running at once.
        atp.flags &= ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
        lt::torrent_handle h = m_ses.add_torrent(std::move(atp));  // throws system_error
        auto t = std::make_shared<real_torrent>(h, std::shared_ptr<const torrent_info::impl>(ti_owner(ti)));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_torrents.push_back(t);
        return torrent_handle(t);
    }

    std::vector<alert_kind> pop_alerts() override
    {
        std::vector<lt::alert*> alerts;
        m_ses.pop_alerts(&alerts);
        std::vector<alert_kind> kinds;
        kinds.reserve(alerts.size());
        for (lt::alert* a : alerts) {
            switch (a->type()) {
            case lt::tracker_error_alert::alert_type:
                if (const int rounds = on_tracker_error(*static_cast<lt::tracker_error_alert*>(a)))
                    kinds.insert(kinds.end(), static_cast<std::size_t>(rounds), alert_kind::tracker_error);
                else
                    kinds.push_back(alert_kind::other);
                break;
            case lt::tracker_reply_alert::alert_type:
                m_tracker_rounds.erase(tracker_key(*static_cast<lt::tracker_reply_alert*>(a)));
                kinds.push_back(alert_kind::tracker_reply);
                break;
            case lt::file_error_alert::alert_type:
                kinds.push_back(on_file_error(*static_cast<lt::file_error_alert*>(a)));
                break;
            default:
                kinds.push_back(alert_kind::other);
                break;
            }
        }
        return kinds;
    }

    int listen_port() const override { return m_ses.listen_port(); }

    const lt::session& lt_session() const { return m_ses; }
    int half_open() const { return m_half_open; }

private:
    static lt::session_params make_params(const fingerprint& fp)
    {
        lt::settings_pack p;
        p.set_str(lt::settings_pack::peer_fingerprint,
                  lt::generate_fingerprint(fp.name, fp.major_version, fp.minor_version, fp.revision_version,
                                           fp.tag_version));
        p.set_str(lt::settings_pack::listen_interfaces, "");
        p.set_bool(lt::settings_pack::enable_dht, false);
        p.set_bool(lt::settings_pack::enable_lsd, false);
        p.set_bool(lt::settings_pack::enable_upnp, false);
        p.set_bool(lt::settings_pack::enable_natpmp, false);
        p.set_bool(lt::settings_pack::enable_outgoing_utp, false);
        p.set_bool(lt::settings_pack::enable_incoming_utp, false);
        // Memory that does not grow with the peers: blocks queued for the
        // disk (the back-end's buffer region), and each peer's socket and
        // receive buffer. The engine empties a peer's socket into its
        // receive buffer in one go, so without a socket buffer size of our
        // own a fast peer on a system that tunes socket buffers up to tens of
        // MiB gets a receive buffer that large.
        p.set_int(lt::settings_pack::max_queued_disk_bytes, 4 << 20);
        p.set_int(lt::settings_pack::recv_socket_buffer_size, 256 << 10);
        p.set_int(lt::settings_pack::max_peer_recv_buffer_size, 512 << 10);
        // The back-end's threads: one writer and one hasher keep pace with
        // the network thread.
        p.set_int(lt::settings_pack::hashing_threads, 1);
        lt::session_params params(std::move(p), std::vector<std::shared_ptr<lt::plugin>>{});
        params.disk_io_constructor = make_disk_io;
        return params;
    }

    static int policy(pe_settings::enc_policy v)
    {
        switch (v) {
        case pe_settings::forced: return lt::settings_pack::pe_forced;
        case pe_settings::disabled: return lt::settings_pack::pe_disabled;
        case pe_settings::enabled: break;
        }
        return lt::settings_pack::pe_enabled;
    }
    static int level(pe_settings::enc_level v)
    {
        switch (v) {
        case pe_settings::plaintext: return lt::settings_pack::pe_plaintext;
        case pe_settings::rc4: return lt::settings_pack::pe_rc4;
        case pe_settings::both: break;
        }
        return lt::settings_pack::pe_both;
    }

    // torrent_info keeps its impl behind a shared pointer; share it.
    static std::shared_ptr<const torrent_info::impl> ti_owner(const torrent_info& ti)
    {
        auto copy = std::make_shared<torrent_info>(ti);
        return std::shared_ptr<const torrent_info::impl>(copy, &copy->get_impl());
    }

    void apply_int(int name, int value)
    {
        lt::settings_pack p;
        p.set_int(name, value);
        m_ses.apply_settings(std::move(p));
    }
    void apply_bool(int name, bool value)
    {
        lt::settings_pack p;
        p.set_bool(name, value);
        m_ses.apply_settings(std::move(p));
    }

    // libtorrent announces to a tracker once from every local address it
    // listens on (and once per protocol of a hybrid torrent), so with a second
    // interface (docker0, a VPN) one failed announce round brings several
    // errors. The watchdog counts rounds: each failed round is passed on as
    // one error, the other errors are "other". Every address counts its
    // failures since the tracker last replied; round r has failed once
    //  - every address the torrent announces from has failed r times, or
    //  - an address has failed r + 1 times: round r is over, and an address
    //    missing from it never announces (a request that hangs, an address
    //    the engine skips), or
    //  - every address that failed in round r - 1 has failed r times: the
    //    addresses that never announce are known from then on.
    // So N failed rounds give N errors; only when an address never announces
    // is the first round known to be over just as the second fails, and the
    // failure that shows it passes on both. A reply from the tracker starts
    // the count afresh.
    using tracker_key_t = std::pair<lt::torrent_handle, std::string>;
    using announce_t = std::pair<lt::tcp::endpoint, lt::protocol_version>;
    struct tracker_rounds {
        std::map<announce_t, int> failures;  // per address and protocol
        int passed = 0;                      // rounds passed on
    };
    static tracker_key_t tracker_key(const lt::tracker_alert& a) { return {a.handle, a.tracker_url()}; }

    // The torrent's announces to the tracker of `a`: one per enabled local
    // address and protocol.
    static std::vector<announce_t> announces(const lt::tracker_error_alert& a)
    {
        std::vector<announce_t> all;
        try {
            const lt::info_hash_t hashes = a.handle.info_hashes();
            for (const lt::announce_entry& t : a.handle.trackers()) {
                if (t.url != a.tracker_url()) continue;
                for (const lt::announce_endpoint& e : t.endpoints)
                    for (auto v : {lt::protocol_version::V1, lt::protocol_version::V2})
                        if (e.enabled && hashes.has(v)) all.emplace_back(e.local_endpoint, v);
            }
        } catch (const lt::system_error&) {
            // the torrent is gone: nothing to wait for
        }
        return all;
    }

    // The number of rounds this failure ends (0, 1 or 2).
    int on_tracker_error(const lt::tracker_error_alert& a)
    {
        tracker_rounds& t = m_tracker_rounds[tracker_key(a)];
        ++t.failures[announce_t{a.local_endpoint, a.version}];
        std::optional<std::vector<announce_t>> all;  // asked of the engine only when needed
        const auto failed = [&](const announce_t& x, int times) {
            auto it = t.failures.find(x);
            return it != t.failures.end() && it->second >= times;
        };
        const int before = t.passed;
        for (;;) {
            const int r = t.passed + 1;
            int most = 0;
            bool previousAll = r >= 2;
            for (const auto& [x, n] : t.failures) {
                most = std::max(most, n);
                if (n >= r - 1) previousAll = previousAll && n >= r;
            }
            if (most < r) break;  // nobody has failed round r yet
            bool over = most > r || previousAll;
            if (!over) {
                if (!all) all = announces(a);
                over = std::all_of(all->begin(), all->end(), [&](const announce_t& x) { return failed(x, r); });
            }
            if (!over) break;
            ++t.passed;
        }
        return t.passed - before;
    }

    // The engine falls back to upload-only on a full disk and posts the error
    // once per failed write; pause the torrent so that it visibly stops until
    // the user resumes it.
    alert_kind on_file_error(const lt::file_error_alert& a)
    {
        std::shared_ptr<real_torrent> t;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const auto& c : m_torrents)
                if (c->lt_handle() == a.handle) t = c;
        }
        if (t && t->is_stale(a.timestamp())) return alert_kind::other;
        try {
            if (a.handle.is_valid()) lt::torrent_handle(a.handle).pause();
        } catch (const lt::system_error&) {
            // gone meanwhile: nothing to pause
        }
        return alert_kind::file_error;
    }

    lt::session m_ses;
    std::map<tracker_key_t, tracker_rounds> m_tracker_rounds;  // UI thread only (pop_alerts)
    int m_half_open = 0;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<real_torrent>> m_torrents;
};

}  // namespace

// LANG names UTF-8 before the program starts any thread (AfxUseUtf8Locale
// at the start of main): libtorrent keys its own name conversions on it. The
// engine's file storage opens files by their UTF-8 names whatever LANG says.
std::unique_ptr<session> make_session(const fingerprint& fp)
{
    return std::make_unique<real_session>(fp);
}

namespace debug {

namespace {
const real_session& real(const session& s)
{
    auto* r = dynamic_cast<const real_session*>(&s);
    if (!r) throw std::invalid_argument("not the real engine");
    return *r;
}
}  // namespace

std::string setting(const session& s, const std::string& name)
{
    const int id = lt::setting_by_name(name);
    if (id < 0) throw std::invalid_argument("unknown setting: " + name);
    const lt::settings_pack p = real(s).lt_session().get_settings();
    switch (id & lt::settings_pack::type_mask) {
    case lt::settings_pack::string_type_base: return p.get_str(id);
    case lt::settings_pack::int_type_base: return std::to_string(p.get_int(id));
    case lt::settings_pack::bool_type_base: return p.get_bool(id) ? "1" : "0";
    default: break;
    }
    throw std::invalid_argument("unknown setting: " + name);
}

int half_open_limit(const session& s) { return real(s).half_open(); }

std::string torrent_state(const torrent_handle& h)
{
    auto* t = dynamic_cast<real_torrent*>(h.get_backend());
    if (!h.get_backend()) throw invalid_handle();
    if (!t) throw std::invalid_argument("not a torrent of the real engine");
    return guarded([&] {
        const lt::torrent_handle& lh = t->lt_handle();
        const lt::torrent_flags_t f = lh.flags();
        const lt::torrent_status st = lh.status(lt::status_flags_t{});
        auto bit = [](bool b) { return b ? "1" : "0"; };
        return std::string("auto_managed=") + bit(bool(f & lt::torrent_flags::auto_managed)) +
               " paused=" + bit(bool(f & lt::torrent_flags::paused)) +
               " upload_mode=" + bit(bool(f & lt::torrent_flags::upload_mode)) +
               " sparse=" + bit(st.storage_mode == lt::storage_mode_sparse) + " error=" + bit(bool(st.errc));
    });
}

// f(the libtorrent handle) for a torrent of the real engine; invalid_handle
// for any other handle.
template <class F>
auto on_real(const torrent_handle& h, F&& f) -> decltype(f(std::declval<const lt::torrent_handle&>()))
{
    auto* t = dynamic_cast<real_torrent*>(h.get_backend());
    if (!t) throw invalid_handle();
    return guarded([&] { return f(t->lt_handle()); });
}

std::int64_t verified_bytes(const torrent_handle& h)
{
    return on_real(h, [](const lt::torrent_handle& lh) {
        const lt::torrent_status st = lh.status(lt::torrent_handle::query_pieces);
        const auto ti = lh.torrent_file();
        std::int64_t n = 0;
        for (lt::piece_index_t i(0); i < st.pieces.end_index(); ++i)
            if (st.pieces[i]) n += ti->piece_size(i);
        return n;
    });
}

bool checking(const torrent_handle& h)
{
    return on_real(h, [](const lt::torrent_handle& lh) {
        const auto state = lh.status(lt::status_flags_t{}).state;
        return state == lt::torrent_status::checking_files || state == lt::torrent_status::checking_resume_data;
    });
}

}  // namespace debug
}  // namespace engine
