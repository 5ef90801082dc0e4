// The metainfo decoder, the empty handle and the fake's own logic. Nothing
// here starts the engine.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "engine/fake_session.h"
#include "engine/torrent_info.h"
#include "tests/support/Swarm.h"

namespace {

TEST(TorrentInfo, DecodesAGeneratedMultiFileTorrent)
{
    TempDir dir;
    const Payload p = MakePayload(dir.Path(), "pack", {100000, 0, 70000, 5}, {"http://127.0.0.1:1/announce"});
    const auto ti = engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size());
    EXPECT_EQ(ti.name(), "pack");
    EXPECT_EQ(ti.total_size(), 170005);
    ASSERT_EQ(ti.num_files(), 4);
    for (int i = 0; i < ti.num_files(); ++i) {
        EXPECT_EQ(ti.file_path(i), p.files[static_cast<std::size_t>(i)]);
        EXPECT_EQ(ti.file_size(i), p.sizes[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(ti.info_hash_hex(), p.infoHashHex);
}

TEST(TorrentInfo, LeavesPadFilesOutOfFilesAndSize)
{
    // A hybrid (v1 + v2) torrent aligns each file to a piece with pad files.
    TempDir dir;
    const Payload p = MakePayload(dir.Path(), "pack", {100000, 70000, 3}, {}, {}, /*hybrid=*/true);
    const auto ti = engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size());
    EXPECT_EQ(ti.num_files(), 3);
    EXPECT_EQ(ti.total_size(), 170003);
}

TEST(TorrentInfo, RejectsWhatIsNotATorrent)
{
    const std::string cases[] = {
        "<html><body>404 Not Found</body></html>",  // an error page instead of the file
        "",                                          // nothing at all
        "d8:announce",                               // bencoding cut short
        "d3:foo3:bare",                              // well-formed, but no info dictionary
        "li1ei2ee",                                  // a list
        "d4:infod4:name1:xee",                       // info without pieces or length
    };
    for (const auto& bytes : cases) {
        EXPECT_THROW(engine::torrent_info::from_buffer(bytes.data(), bytes.size()), std::exception) << bytes;
    }
}

TEST(TorrentInfo, DecodesOnlyTheGivenLength)
{
    TempDir dir;
    const Payload p = MakePayload(dir.Path(), "pack", {1000}, {});
    const std::string padded = p.torrent + std::string("\0garbage", 8);
    EXPECT_NO_THROW(engine::torrent_info::from_buffer(padded.data(), p.torrent.size()));
    EXPECT_THROW(engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size() - 1), std::exception);
}

TEST(TorrentHandle, DefaultNamesNoTorrent)
{
    engine::torrent_handle h;
    EXPECT_FALSE(h.is_valid());
    std::vector<float> v;
    EXPECT_THROW(h.is_seed(), engine::invalid_handle);
    EXPECT_THROW(h.is_paused(), engine::invalid_handle);
    EXPECT_THROW(h.pause(), engine::invalid_handle);
    EXPECT_THROW(h.resume(), engine::invalid_handle);
    EXPECT_THROW(h.status(), engine::invalid_handle);
    EXPECT_THROW(h.file_progress(v), engine::invalid_handle);
    EXPECT_THROW(h.force_reannounce(), engine::invalid_handle);
    EXPECT_THROW(h.peer_count(), engine::invalid_handle);
    EXPECT_THROW(h.name(), engine::invalid_handle);
}

TEST(FakeTorrent, DisappearsAfterTheGivenNumberOfCalls)
{
    auto t = std::make_shared<engine::fake_torrent>();
    engine::torrent_handle h = t->handle();
    t->remove_after_calls(1);
    EXPECT_TRUE(h.is_valid());                         // the one call left
    EXPECT_THROW(h.is_paused(), engine::invalid_handle);  // gone right after it
    EXPECT_FALSE(h.is_valid());
    EXPECT_TRUE(t->removed);

    auto u = std::make_shared<engine::fake_torrent>();
    u->remove_after_calls(0);
    EXPECT_FALSE(u->handle().is_valid());
    EXPECT_EQ(u->pause_count, 0);
}

TEST(FakeTorrent, RecordsCallsAndFollowsPauseState)
{
    auto t = std::make_shared<engine::fake_torrent>();
    engine::torrent_handle h = t->handle();
    h.pause();
    EXPECT_TRUE(h.is_paused());
    EXPECT_TRUE(h.status().paused);
    h.resume();
    h.force_reannounce();
    h.force_reannounce();
    h.add_url_seed("http://example.invalid/seed/ ");
    EXPECT_EQ(t->pause_count, 1);
    EXPECT_EQ(t->resume_count, 1);
    EXPECT_EQ(t->force_reannounce_count, 2);
    EXPECT_EQ(t->url_seeds, std::vector<std::string>{"http://example.invalid/seed/ "});
    EXPECT_EQ(t->calls, (std::vector<std::string>{"pause", "is_paused", "status", "resume", "force_reannounce",
                                                  "force_reannounce", "add_url_seed"}));
}

TEST(FakeSession, HandsOutQueuedAlertsOnceAndPausesOnFileError)
{
    TempDir dir;
    const Payload p = MakePayload(dir.Path(), "pack", {1000}, {});
    engine::fake_session s;
    using K = engine::alert_kind;
    s.alerts = {K::tracker_error, K::other};
    EXPECT_EQ(s.pop_alerts(), (std::vector<K>{K::tracker_error, K::other}));
    EXPECT_TRUE(s.pop_alerts().empty());

    engine::torrent_handle h = s.add_torrent(engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size()),
                                             "/tmp/\xea\xb0\x80 \xc3\xa9");
    EXPECT_EQ(*s.save_path, "/tmp/\xea\xb0\x80 \xc3\xa9");
    EXPECT_FALSE(h.is_paused());
    s.alerts = {K::tracker_reply, K::file_error, K::file_error};
    EXPECT_EQ(s.pop_alerts().size(), 3u);
    EXPECT_TRUE(h.is_paused());
    EXPECT_EQ(s.torrent->pause_count, 0);  // paused by the engine, not by a call
}

TEST(FakeSession, AddTorrentFailsAsScripted)
{
    TempDir dir;
    const Payload p = MakePayload(dir.Path(), "pack", {1000}, {});
    const auto ti = engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size());
    engine::fake_session s;
    s.add_torrent_fails = engine::fake_session::failure::std_exception;
    EXPECT_THROW(s.add_torrent(ti, "/x"), std::exception);
    s.add_torrent_fails = engine::fake_session::failure::other_exception;
    EXPECT_THROW(s.add_torrent(ti, "/x"), engine::fake_non_std_exception);
    EXPECT_FALSE(s.save_path.has_value());
}

}  // namespace
