// The real engine's set-up: the settings reach libtorrent, the identity a
// tracker sees, the listen port range, alert classification. Runs in a
// network namespace of its own (only loopback), so port 6881 is ours.
#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/debug.h"
#include "engine/session.h"
#include "tests/engine/ProgramSetup.h"
#include "tests/support/Swarm.h"

namespace {

using engine::alert_kind;
using engine::debug::setting;


// A tracker of the test's own that records each announce and answers with
// no peers.
class RecordingTracker {
public:
    RecordingTracker()
    {
        m_server.Get("/announce", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_announces.push_back(req);
            }
            res.set_content("d8:intervali1800e5:peers0:e", "text/plain");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~RecordingTracker()
    {
        m_server.stop();
        m_thread.join();
    }
    std::string AnnounceUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/announce"; }
    std::vector<httplib::Request> Announces()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_announces;
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<httplib::Request> m_announces;
};

struct Listener {
    int fd = -1;
    explicit Listener(int port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0) ADD_FAILURE();
    }
    ~Listener() { ::close(fd); }
};

engine::torrent_info SmallTorrent(const TempDir& dir, const std::vector<std::string>& trackers)
{
    const Payload p = MakePayload(dir.Path(), "pack", {50000, 20000}, trackers);
    return engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size());
}

bool WaitForAlert(engine::session& s, alert_kind want, std::vector<alert_kind>* seen = nullptr)
{
    return WaitUntil(
        [&] {
            for (alert_kind k : s.pop_alerts()) {
                if (seen) seen->push_back(k);
                if (k == want) return true;
            }
            return false;
        },
        std::chrono::seconds(30));
}

TEST(EngineSession, StartsQuietWithDefaultsThatMatchTheEngine)
{
    auto s = engine::make_session(ClientFingerprint());
    // Nothing listens and nothing reaches out until the program asks.
    EXPECT_EQ(setting(*s, "listen_interfaces"), "");
    EXPECT_EQ(s->listen_port(), 0);
    for (const char* off : {"enable_dht", "enable_lsd", "enable_upnp", "enable_natpmp", "enable_outgoing_utp",
                            "enable_incoming_utp"})
        EXPECT_EQ(setting(*s, off), "0") << off;
    EXPECT_EQ(setting(*s, "peer_fingerprint").substr(0, 8), "-KQ0700-");

    // A default-constructed settings object carries the engine's own values.
    const engine::session_settings d;
    EXPECT_EQ(setting(*s, "user_agent"), d.user_agent);
    EXPECT_EQ(setting(*s, "num_want"), std::to_string(d.num_want));
    EXPECT_EQ(setting(*s, "allow_multiple_connections_per_ip"), d.allow_multiple_connections_per_ip ? "1" : "0");
    EXPECT_EQ(setting(*s, "handshake_timeout"), std::to_string(d.handshake_timeout));
    EXPECT_EQ(setting(*s, "initial_picker_threshold"), std::to_string(d.initial_picker_threshold));
    EXPECT_EQ(setting(*s, "allowed_fast_set_size"), std::to_string(d.allowed_fast_set_size));
    EXPECT_EQ(setting(*s, "connection_speed"), std::to_string(d.connection_speed));
    EXPECT_EQ(setting(*s, "peer_connect_timeout"), std::to_string(d.peer_connect_timeout));
    EXPECT_EQ(setting(*s, "min_reconnect_time"), std::to_string(d.min_reconnect_time));
    EXPECT_EQ(setting(*s, "max_failcount"), std::to_string(d.max_failcount));
    const engine::pe_settings pe;
    s->set_pe_settings(pe);
    EXPECT_EQ(setting(*s, "out_enc_policy"), "1");  // enabled
    EXPECT_EQ(setting(*s, "allowed_enc_level"), "3");  // both
    EXPECT_THROW(setting(*s, "no_such_setting"), std::invalid_argument);
}

TEST(EngineSession, TheProgramsSettingsReachTheEngine)
{
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    const std::pair<const char*, const char*> expected[] = {
        {"user_agent", "TrxTorrent/0.7.0.0"},
        {"num_want", "100"},
        {"allow_multiple_connections_per_ip", "1"},
        {"handshake_timeout", "20"},
        {"initial_picker_threshold", "200"},
        {"allowed_fast_set_size", "30"},
        {"connection_speed", "8"},
        {"peer_connect_timeout", "10"},
        {"min_reconnect_time", "1"},
        {"max_failcount", "2"},
        {"connections_limit", "500"},
        {"unchoke_slots_limit", "50"},
        {"upload_rate_limit", "0"},
        {"download_rate_limit", "0"},
        {"alert_mask", "89"},  // error | tracker | status | storage
        {"enable_lsd", "1"},
        {"enable_upnp", "1"},
        {"enable_natpmp", "1"},
        {"enable_dht", "0"},
        {"enable_outgoing_utp", "0"},
        {"enable_incoming_utp", "0"},
        {"out_enc_policy", "1"},
        {"in_enc_policy", "1"},
        {"allowed_enc_level", "3"},
        {"prefer_rc4", "0"},
        {"listen_interfaces", "0.0.0.0:6881"},
        {"max_retry_port_bind", "8"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(setting(*s, name), value) << name;
    EXPECT_EQ(engine::debug::half_open_limit(*s), -1);
    EXPECT_EQ(s->listen_port(), 6881);

    // Negative limits mean unlimited, as 0 does.
    s->set_upload_rate_limit(-5);
    s->set_download_rate_limit(-1);
    EXPECT_EQ(setting(*s, "upload_rate_limit"), "0");
    EXPECT_EQ(setting(*s, "download_rate_limit"), "0");
}

TEST(EngineSession, TrackerSeesTheClientsIdentityAndPort)
{
    RecordingTracker tracker;
    TempDir dir, save;
    struct Case {
        int taken;  // ports held by someone else before listening, from 6881 up
        int expectedPort;
    };
    for (const Case c : {Case{0, 6881}, Case{1, 6882}, Case{3, 6884}}) {
        std::vector<std::unique_ptr<Listener>> held;
        for (int i = 0; i < c.taken; ++i) held.push_back(std::make_unique<Listener>(6881 + i));
        const std::size_t before = tracker.Announces().size();
        auto s = engine::make_session(ClientFingerprint());
        ConfigureSession(*s);
        EXPECT_EQ(s->listen_port(), c.expectedPort);
        engine::torrent_handle h = s->add_torrent(SmallTorrent(dir, {tracker.AnnounceUrl()}), save.Path());
        ASSERT_TRUE(WaitUntil([&] { return tracker.Announces().size() > before; }, std::chrono::seconds(30)));
        const httplib::Request req = tracker.Announces()[before];
        EXPECT_EQ(req.get_header_value("User-Agent"), "TrxTorrent/0.7.0.0");
        EXPECT_EQ(req.get_param_value("peer_id").substr(0, 8), "-KQ0700-");
        EXPECT_EQ(req.get_param_value("port"), std::to_string(c.expectedPort));
        EXPECT_EQ(req.get_param_value("numwant"), "100");
        EXPECT_TRUE(WaitForAlert(*s, alert_kind::tracker_reply));
    }
}

TEST(EngineSession, AllPortsTakenStillAddsTheTorrent)
{
    std::vector<std::unique_ptr<Listener>> held;
    for (int p = 6881; p <= 6889; ++p) held.push_back(std::make_unique<Listener>(p));
    TempDir dir, save;
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    // None of the range: this engine then takes a port the kernel picks.
    const int port = s->listen_port();
    EXPECT_TRUE(port < 6881 || port > 6889) << port;
    engine::torrent_handle h;
    EXPECT_NO_THROW(h = s->add_torrent(SmallTorrent(dir, {}), save.Path()));
    EXPECT_TRUE(h.is_valid());
}

TEST(EngineSession, AddsTheTorrentRunningUnmanagedAndSparse)
{
    TempDir dir, save;
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h = s->add_torrent(SmallTorrent(dir, {}), save.Path());
    EXPECT_EQ(engine::debug::torrent_state(h), "auto_managed=0 paused=0 upload_mode=0 sparse=1 error=0");
    EXPECT_EQ(h.name(), "pack");
    EXPECT_EQ(h.total_size(), 70000);
    EXPECT_FALSE(h.is_paused());
    EXPECT_FALSE(h.is_seed());
    h.set_max_connections(500);
    h.set_max_uploads(50);
    h.set_upload_limit(0);
    h.set_download_limit(-1);
    h.add_url_seed("http://127.0.0.1:1/seed/");
    std::vector<float> progress;
    h.file_progress(progress);
    EXPECT_EQ(progress, (std::vector<float>{0.0f, 0.0f}));
    h.pause();
    EXPECT_TRUE(h.is_paused());
    EXPECT_TRUE(h.status().paused);
    h.resume();
    EXPECT_FALSE(h.is_paused());
    // The same torrent once more is no error: this engine hands back the torrent it has.
    EXPECT_NO_THROW(s->add_torrent(SmallTorrent(dir, {}), save.Path()));
}

TEST(EngineSession, SavePathArrivesAsTheExactUtf8Folder)
{
    // Korean and accented letters: the engine must find the payload that
    // lies in exactly this folder.
    TempDir save;
    const std::string folder = save.Path() + "/\xeb\x8b\xa4\xec\x9a\xb4\xeb\xa1\x9c\xeb\x93\x9c \xc3\xa9t\xc3\xa9";
    std::filesystem::create_directories(folder);
    const Payload p = MakePayload(folder, "\xed\x8c\xa8\xed\x82\xa4\xc3\xa7", {40000, 0, 3000}, {});
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h =
        s->add_torrent(engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size()), folder);
    EXPECT_EQ(h.name(), "\xed\x8c\xa8\xed\x82\xa4\xc3\xa7");
    ASSERT_TRUE(WaitUntil([&] { return h.is_seed(); }, std::chrono::seconds(30)));
    EXPECT_EQ(h.status().total_payload_download, 0);
    EXPECT_EQ(h.status().total_done, 43000);
}

TEST(EngineSession, AlertsAreClassifiedByExactType)
{
    TempDir dir, save;
    const int closed = FreePort();  // nobody listens there
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h =
        s->add_torrent(SmallTorrent(dir, {"http://127.0.0.1:" + std::to_string(closed) + "/announce"}), save.Path());
    std::vector<alert_kind> seen;
    ASSERT_TRUE(WaitForAlert(*s, alert_kind::tracker_error, &seen));
    // A forced announce inside the tracker's retry interval fails again at once.
    h.force_reannounce();
    ASSERT_TRUE(WaitForAlert(*s, alert_kind::tracker_error, &seen));
    for (alert_kind k : seen) {
        EXPECT_NE(k, alert_kind::tracker_reply);
        EXPECT_NE(k, alert_kind::file_error);
    }
    EXPECT_EQ(h.peer_count(), 0);
    EXPECT_EQ(h.status().num_peers, 0);
}

TEST(EngineSession, AFailedFileCheckKeepsTheTorrentPausedUntilResumed)
{
    TempDir dir, save;
    const Payload p = MakePayload(dir.Path(), "pack", {50000, 20000}, {});
    // A folder stands where the first file belongs: checking it fails.
    std::filesystem::create_directories(std::filesystem::path(save.Path()) / p.files[0] / "in-the-way");
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h =
        s->add_torrent(engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size()), save.Path());
    ASSERT_TRUE(WaitForAlert(*s, alert_kind::file_error));
    // Still the torrent of this session: valid, paused with its error.
    EXPECT_TRUE(h.is_valid());
    EXPECT_TRUE(h.is_paused());
    EXPECT_NE(engine::debug::torrent_state(h).find("error=1"), std::string::npos);

    std::filesystem::remove_all(std::filesystem::path(save.Path()) / p.files[0]);
    h.resume();
    EXPECT_TRUE(WaitUntil(
        [&] { return engine::debug::torrent_state(h) == "auto_managed=0 paused=0 upload_mode=0 sparse=1 error=0"; },
        std::chrono::seconds(10)))
        << engine::debug::torrent_state(h);
    for (alert_kind k : s->pop_alerts()) EXPECT_NE(k, alert_kind::file_error);
}

TEST(EngineSession, HandlesOutliveTheSessionAsInvalid)
{
    TempDir dir, save;
    engine::torrent_handle h;
    {
        auto s = engine::make_session(ClientFingerprint());
        h = s->add_torrent(SmallTorrent(dir, {}), save.Path());
        EXPECT_TRUE(h.is_valid());
    }
    EXPECT_FALSE(h.is_valid());
    EXPECT_THROW(h.is_paused(), engine::invalid_handle);
    EXPECT_THROW(h.status(), engine::invalid_handle);
    EXPECT_THROW(h.name(), engine::invalid_handle);
    EXPECT_THROW(h.force_reannounce(), engine::invalid_handle);
}

}  // namespace

