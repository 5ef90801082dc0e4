// Real downloads on loopback: opentracker, a seeding peer (aria2c or a second
// libtorrent session), the program's engine set-up; every file compared.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/session.h"
#include "tests/engine/ProgramSetup.h"
#include "tests/support/Swarm.h"

namespace {

namespace fs = std::filesystem;
using engine::alert_kind;
using enginetest::AddLikeTheProgram;

constexpr std::int64_t MiB = 1 << 20;

// What a download loop saw of the engine on the way.
struct Observed {
    int maxPeers = 0;
    int maxPeerList = 0;
    int trackerReplies = 0;
    int fileErrors = 0;
    bool doneWentBack = false;
    bool doneBeyondTotal = false;
};

// Polls the torrent (and drains alerts, as the program does once a second)
// until pred holds or the timeout passes.
bool Drive(engine::session& s, engine::torrent_handle& h, Observed& o, const std::function<bool()>& pred,
           std::chrono::seconds timeout)
{
    std::int64_t lastDone = 0;
    return WaitUntil(
        [&] {
            for (alert_kind k : s.pop_alerts()) {
                o.trackerReplies += k == alert_kind::tracker_reply;
                o.fileErrors += k == alert_kind::file_error;
            }
            const engine::torrent_status st = h.status();
            o.maxPeers = std::max(o.maxPeers, st.num_peers);
            o.maxPeerList = std::max(o.maxPeerList, h.peer_count());
            o.doneWentBack |= st.total_done < lastDone;
            o.doneBeyondTotal |= st.total_done > h.total_size();
            lastDone = st.total_done;
            return pred();
        },
        timeout);
}

void ExpectComplete(engine::torrent_handle& h, const Payload& p)
{
    const engine::torrent_status st = h.status();
    EXPECT_TRUE(st.is_seeding);
    EXPECT_TRUE(h.is_seed());
    EXPECT_EQ(st.total_done, p.totalSize);
    EXPECT_EQ(h.total_size(), p.totalSize);
    std::vector<float> progress;
    h.file_progress(progress);
    EXPECT_EQ(progress, std::vector<float>(p.files.size(), 1.0f));
}

TEST(EngineDownload, MultiFilePayloadFromAria2ThroughOpentracker)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {16 * MiB, 0, 9 * MiB + 123, 12 * MiB, 3 * MiB + 7, 1});
    Aria2Seeder seeder(p);
    ASSERT_TRUE(seeder.WaitReady(std::chrono::seconds(30)));

    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h = AddLikeTheProgram(*s, p.torrent, save.Path());
    EXPECT_EQ(h.name(), "pack");
    EXPECT_EQ(h.total_size(), p.totalSize);
    EXPECT_EQ(h.status().total_payload_download, 0);

    Observed o;
    ASSERT_TRUE(Drive(*s, h, o, [&] { return h.is_seed(); }, std::chrono::seconds(180)))
        << "done " << h.status().total_done << " of " << p.totalSize;
    ExpectComplete(h, p);
    EXPECT_GE(h.status().total_payload_download, p.totalSize);
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{});
    EXPECT_GE(o.trackerReplies, 1);
    EXPECT_EQ(o.fileErrors, 0);
    EXPECT_GE(o.maxPeers, 1);
    EXPECT_GE(o.maxPeerList, 1);
    EXPECT_FALSE(o.doneWentBack);
    EXPECT_FALSE(o.doneBeyondTotal);
}

TEST(EngineDownload, CompleteFolderIsCheckedAndSeededWithoutDownloading)
{
    // Version 1 torrents as old tools make them, and hybrid ones whose pad
    // files must not count in sizes, progress or completion.
    for (const bool hybrid : {false, true}) {
        TempDir data("corvane-src");
        const Payload p =
            MakePayload(data.Path(), "pack", {5 * MiB, 3 * MiB + 1, 0, 2 * MiB - 3}, {}, {}, hybrid);
        auto s = engine::make_session(ClientFingerprint());
        ConfigureSession(*s);
        // No tracker, no peer: the data is all there already.
        engine::torrent_handle h = AddLikeTheProgram(*s, p.torrent, p.dataDir);
        Observed o;
        ASSERT_TRUE(Drive(*s, h, o, [&] { return h.is_seed(); }, std::chrono::seconds(60))) << hybrid;
        ExpectComplete(h, p);
        EXPECT_EQ(h.status().total_payload_download, 0);
        EXPECT_FALSE(o.doneBeyondTotal) << hybrid;
    }
}

TEST(EngineDownload, UnfinishedFolderIsCheckedAndCompletedWithoutCorruptData)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {6 * MiB, 4 * MiB + 5, 7 * MiB});
    // What an earlier run left: the first file whole, the second cut short
    // with garbage at its end, the third missing.
    fs::create_directories(fs::path(save.Path()) / "pack");
    fs::copy_file(fs::path(p.dataDir) / p.files[0], fs::path(save.Path()) / p.files[0]);
    fs::copy_file(fs::path(p.dataDir) / p.files[1], fs::path(save.Path()) / p.files[1]);
    fs::resize_file(fs::path(save.Path()) / p.files[1], 2 * MiB);
    {
        std::ofstream f(fs::path(save.Path()) / p.files[1], std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(2 * MiB - 1000);
        f << std::string(1000, 'x');
    }
    LibtorrentSeeder seeder(p);
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h = AddLikeTheProgram(*s, p.torrent, save.Path());
    Observed o;
    ASSERT_TRUE(Drive(*s, h, o, [&] { return h.is_seed(); }, std::chrono::seconds(120)));
    ExpectComplete(h, p);
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{});
    // Only what was missing came over the wire.
    EXPECT_LT(h.status().total_payload_download, p.totalSize - 6 * MiB);
}

TEST(EngineDownload, PauseThenResumeGoesOnWithinSeconds)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {10 * MiB, 8 * MiB, 6 * MiB});
    LibtorrentSeeder seeder(p, 2 * MiB);  // slow enough to act mid-download
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h = AddLikeTheProgram(*s, p.torrent, save.Path());
    Observed o;
    ASSERT_TRUE(Drive(*s, h, o, [&] { return h.status().total_done >= 3 * MiB; }, std::chrono::seconds(60)));

    h.pause();
    EXPECT_TRUE(h.is_paused());
    ASSERT_TRUE(Drive(*s, h, o, [&] { return h.status().num_peers == 0; }, std::chrono::seconds(10)));
    EXPECT_TRUE(h.status().paused);
    EXPECT_FALSE(h.is_seed());
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the peer stays away while paused
    EXPECT_EQ(h.status().num_peers, 0);
    const std::int64_t atPause = h.status().total_done;

    h.resume();
    EXPECT_FALSE(h.is_paused());
    // The engine dials the known peer again at once: a few seconds at most.
    EXPECT_TRUE(Drive(*s, h, o, [&] { return h.status().total_done > atPause + MiB; }, std::chrono::seconds(15)))
        << "no progress after resume; peers " << h.status().num_peers;

    seeder.SetUploadLimit(0);
    ASSERT_TRUE(Drive(*s, h, o, [&] { return h.is_seed(); }, std::chrono::seconds(120)));
    ExpectComplete(h, p);
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{});
    EXPECT_EQ(o.fileErrors, 0);
}

}  // namespace

