// The real engine as the program sets it up, with real peers on loopback
// (opentracker, aria2c, libtorrent sessions) writing through the engine's own
// file storage: identity, downloads, seeding, restarts and disk errors.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/debug.h"
#include "engine/session.h"
#include "tests/engine/ProgramSetup.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/Swarm.h"

namespace {

namespace fs = std::filesystem;
using engine::alert_kind;
using enginetest::AddLikeTheProgram;
constexpr std::int64_t MiB = 1 << 20;
const std::string kNonAscii = "/\xeb\x8b\xa4\xec\x9a\xb4 \xc3\xa9t\xc3\xa9";  // Korean and accented letters

// The program's session with its torrent; drains alerts as the program does.
struct Download {
    std::unique_ptr<engine::session> s = engine::make_session(ClientFingerprint());
    engine::torrent_handle h;
    int fileErrors = 0, other = 0;
    Download(const Payload& p, const std::string& save)
    {
        ConfigureSession(*s);
        h = AddLikeTheProgram(*s, p.torrent, save);
    }
    bool Until(const std::function<bool()>& pred, int seconds)
    {
        return WaitUntil(
            [&] {
                for (alert_kind k : s->pop_alerts()) {
                    fileErrors += k == alert_kind::file_error;
                    other += k == alert_kind::other;
                }
                return pred();
            },
            std::chrono::seconds(seconds));
    }
    std::int64_t Done() { return h.status().total_done; }
};

std::int64_t SizeOf(const fs::path& file)
{
    std::error_code ec;
    const auto n = fs::file_size(file, ec);
    return ec ? -1 : static_cast<std::int64_t>(n);
}

void ExpectComplete(Download& r, const Payload& p, const std::string& save)
{
    EXPECT_TRUE(r.h.is_seed());
    EXPECT_EQ(r.h.total_size(), p.totalSize);  // pad files left out
    EXPECT_EQ(r.Done(), p.totalSize);
    EXPECT_EQ(DifferingFiles(p, save), std::vector<std::string>{});
    EXPECT_EQ(r.fileErrors, 0);
}

// A run killed outright mid-download: the next run checks what is there and
// fetches only the rest.
TEST(Engine, KilledMidDownloadThenRestartedFetchesOnlyTheRest)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {10 * MiB, 6 * MiB + 5});
    Aria2Seeder slow(p, 4 * MiB);
    ASSERT_TRUE(slow.WaitReady(std::chrono::seconds(30)));
    const pid_t child = ::fork();  // no thread of ours runs yet: the child may start an engine
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        Download r(p, save.Path());
        r.Until([] { return false; }, 120);
        ::_exit(1);
    }
    ASSERT_GT(child, 0);
    const bool midway = WaitUntil([&] { return BytesOnDisk(save.Path()) >= 6 * MiB; }, std::chrono::seconds(60));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(midway);
    const std::int64_t written = BytesOnDisk(save.Path());

    const int checks = engine::debug::file_checks();
    LibtorrentSeeder fast(p);
    Download r(p, save.Path());
    ASSERT_TRUE(r.Until([&] { return r.h.is_seed(); }, 60)) << r.Done() << " of " << p.totalSize;
    ExpectComplete(r, p, save.Path());
    EXPECT_GT(engine::debug::file_checks(), checks);
    // Nothing verified before the kill comes again; the pieces then in flight may.
    EXPECT_LE(r.h.status().total_payload_download, p.totalSize - written + 2 * MiB);
}

TEST(Engine, SetUpAsTheProgramAsksAndSeenSoByATracker)
{
    HttpTestServer tracker;
    tracker.Serve("/announce", "d8:intervali1800e5:peers0:e");
    TempDir data, save;
    const Payload p = MakePayload(data.Path(), "pack", {50000, 20000}, {tracker.Url("/announce")});
    Download r(p, save.Path());
    const std::pair<const char*, const char*> expected[] = {
        {"min_reconnect_time", "1"}, {"alert_mask", "89"},          {"enable_dht", "0"},
        {"enable_outgoing_utp", "0"}, {"enable_incoming_utp", "0"}, {"enable_lsd", "1"},
        {"out_enc_policy", "1"},      {"allowed_enc_level", "3"},   {"listen_interfaces", "0.0.0.0:6881"},
        {"max_retry_port_bind", "8"}, {"connections_limit", "500"}, {"unchoke_slots_limit", "50"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(engine::debug::setting(*r.s, name), value) << name;
    EXPECT_EQ(engine::debug::torrent_state(r.h), "auto_managed=0 paused=0 upload_mode=0 sparse=1 error=0");
    ASSERT_TRUE(r.Until([&] { return !tracker.Requests().empty(); }, 30));
    const HttpTestServer::Request req = tracker.Requests().front();
    EXPECT_EQ(req.headers.at("user-agent"), "TrxTorrent/0.7.0.0");
    // What every peer and tracker sees: client KQ 0.7.0.0, on the first port of the range.
    EXPECT_NE(req.target.find("peer_id=-KQ0700-"), std::string::npos) << req.target;
    EXPECT_NE(req.target.find("&port=6881&"), std::string::npos) << req.target;
    EXPECT_NE(req.target.find("numwant=100"), std::string::npos) << req.target;
}

TEST(Engine, MetainfoThatIsNotATorrentIsRefused)
{
    for (const std::string bytes : {"<html>404</html>", "", "d8:announce", "d3:foo3:bare", "d4:infod4:name1:xee"})
        EXPECT_THROW(engine::torrent_info::from_buffer(bytes.data(), bytes.size()), std::exception) << bytes;
    engine::torrent_handle gone;
    {
        TempDir data, save;
        Download r(MakePayload(data.Path(), "pack", {1000}, {}), save.Path());
        gone = r.h;
    }
    EXPECT_FALSE(gone.is_valid());
    EXPECT_THROW(gone.status(), engine::invalid_handle);
}

// From several seeders at once (blocks of a piece come out of order) into a
// folder with a non-ASCII name; an empty file; pad files of a hybrid torrent.
// Then a second downloader fetches everything from the program's session.
TEST(Engine, DownloadsFromSeveralSeedersThenSeedsToAnotherPeer)
{
    for (const bool hybrid : {false, true}) {
        TempDir data("corvane-src"), saveRoot("corvane-dst"), again("corvane-again");
        const std::string save = saveRoot.Path() + kNonAscii;
        Tracker tracker;
        const Payload p = MakePayload(data.Path(), "pack", {9 * MiB + 123, 0, 12 * MiB, 3 * MiB + 7, 1},
                                      {tracker.AnnounceUrl()}, {}, hybrid);
        tracker.Allow(p.infoHashHex);
        auto seeders = std::make_unique<std::vector<std::unique_ptr<LibtorrentSeeder>>>();
        for (int i = 0; i < 3; ++i) seeders->push_back(std::make_unique<LibtorrentSeeder>(p));
        std::unique_ptr<Aria2Seeder> aria2 = hybrid ? nullptr : std::make_unique<Aria2Seeder>(p);
        Download r(p, save);
        ASSERT_TRUE(r.Until([&] { return r.h.is_seed(); }, 120)) << r.Done() << " of " << p.totalSize;
        ExpectComplete(r, p, save);
        EXPECT_TRUE(fs::exists(fs::path(save) / p.files[1]));
        seeders.reset();
        aria2.reset();

        // The program's peer count shows the downloader it uploads to (not
        // only seeds); paced so that the upload spans many polls.
        r.h.set_upload_limit(32 * MiB);
        Download other(p, again.Path());  // listens on the next port of the range; the tracker names the first run
        int shown = 0, listed = 0;
        ASSERT_TRUE(other.Until([&] {
            const int peers = r.h.status().num_peers, connections = r.h.peer_count();
            if (!other.h.is_seed()) shown = std::max(shown, peers), listed = std::max(listed, connections);
            return other.h.is_seed();
        }, 120)) << other.Done() << " of " << p.totalSize;
        EXPECT_GE(shown, 1);
        EXPECT_GE(listed, 1);
        ExpectComplete(other, p, again.Path());
    }
}

// Pause stops the transfer; files deleted under the running download are a
// file error that pauses it; resume checks the files and completes.
TEST(Engine, PauseHoldsAndDeletedFilesStopTheDownloadUntilResumed)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {10 * MiB, 8 * MiB});
    LibtorrentSeeder seeder(p, 2 * MiB);
    Download r(p, save.Path());
    ASSERT_TRUE(r.Until([&] { return r.Done() >= 2 * MiB; }, 60));
    r.h.pause();
    EXPECT_TRUE(r.h.status().paused);
    ASSERT_TRUE(r.Until([&] { return r.h.status().num_peers == 0; }, 10));
    const std::int64_t atPause = r.Done();
    // Pieces already received may still be verified; nothing more comes.
    EXPECT_FALSE(r.Until([&] { return r.Done() > atPause + MiB; }, 2));
    r.h.resume();
    ASSERT_TRUE(r.Until([&] { return r.Done() > atPause + MiB; }, 15));

    fs::remove_all(fs::path(save.Path()) / "pack");
    ASSERT_TRUE(r.Until([&] { return r.fileErrors > 0; }, 30)) << "deleted files went unnoticed";
    EXPECT_TRUE(r.h.is_paused());
    r.fileErrors = 0;
    seeder.SetUploadLimit(0);
    r.h.resume();
    ASSERT_TRUE(r.Until([&] { return r.h.is_seed(); }, 60)) << r.Done() << " of " << p.totalSize;
    ExpectComplete(r, p, save.Path());
}

// A full disk: the file error pauses the download; once space is freed,
// resume goes on from what was verified (no check of the files, the bytes
// done never fall) and completes it. With popErrors false, the errors of the
// incident are popped only after the resume: old news, they must not stop it
// again.
TEST(Engine, FullDiskPausesAndResumeCompletesOnceSpaceIsFreed)
{
    for (const bool popErrors : {true, false}) {
        TempDir data("corvane-src"), save("corvane-disk");
        SmallDisk disk(save.Path(), "6m");
        ASSERT_TRUE(disk.Mounted()) << disk.Error();
        Tracker tracker;
        const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {8 * MiB, 4 * MiB, 4 * MiB + 99});
        LibtorrentSeeder seeder(p);
        Download r(p, save.Path());
        if (popErrors) {
            ASSERT_TRUE(r.Until([&] { return r.fileErrors > 0; }, 60)) << "no file error; done " << r.Done();
            EXPECT_TRUE(r.h.is_paused());
            EXPECT_TRUE(r.h.status().paused);
            ASSERT_TRUE(r.Until([&] { return r.h.status().num_peers == 0; }, 10));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return engine::debug::torrent_state(r.h) != "auto_managed=0 paused=0 "
                                                                                     "upload_mode=0 sparse=1 error=0"; },
                                  std::chrono::seconds(60)));
            std::this_thread::sleep_for(std::chrono::seconds(1));  // writes still under way fail too
            r.h.pause();  // as popping the first error would
        }
        ASSERT_TRUE(disk.Grow("64m"));
        const int checks = engine::debug::file_checks();
        const std::int64_t verified = engine::debug::verified_bytes(r.h);
        EXPECT_GT(verified, 0);
        std::int64_t lowest = r.Done();
        r.fileErrors = r.other = 0;
        r.h.resume();
        EXPECT_EQ(engine::debug::torrent_state(r.h), "auto_managed=0 paused=0 upload_mode=0 sparse=1 error=0");
        ASSERT_TRUE(r.Until(
            [&] {
                lowest = std::min(lowest, r.Done());
                return r.h.is_seed() || r.h.is_paused();
            },
            60));
        ASSERT_TRUE(r.h.is_seed()) << r.Done() << " of " << p.totalSize << ", paused " << r.h.is_paused();
        EXPECT_GE(lowest, verified) << "resume fell back below what was verified";
        EXPECT_EQ(engine::debug::file_checks(), checks) << "a full disk loses nothing verified: no check is needed";
        if (!popErrors) {
            EXPECT_GE(r.other, 1);
        }
        ExpectComplete(r, p, save.Path());
    }
}

// Files as the torrent lays them out: two files of one path and a file named
// like another's folder (libtorrent renames the later ones), an executable,
// a symlink; and older, longer files of the same names already in the
// folder, one of them the new file with more after it. Every file ends as
// the torrent has it, and a check of the finished folder finds every piece.
TEST(Engine, FilesEndAsTheTorrentLaysThemOut)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeLaidOutPayload(data.Path(), "pack",
                                         {{"x.bin", MiB + 3, false, {}},
                                          {"x.bin", 2 * MiB + 5, false, {}},
                                          {"d", 700 << 10, false, {}},
                                          {"d/y.bin", 3 * MiB / 2, false, {}},
                                          {"run.sh", 100 << 10, true, {}},
                                          {"link", 0, false, "x.bin"}},
                                         {tracker.AnnounceUrl()});
    tracker.Allow(p.infoHashHex);
    ASSERT_EQ(p.files.size(), 5u);
    EXPECT_NE(std::find(p.files.begin(), p.files.end(), "pack/x.1.bin"), p.files.end()) << "not renamed?";
    const fs::path dst = fs::path(save.Path()) / "pack";
    for (const std::string& f : p.files) {
        if (f == "pack/run.sh") continue;  // made here: the torrent says how
        std::string old(static_cast<std::size_t>(fs::file_size(fs::path(data.Path()) / f) + 3 * MiB), 'z');
        if (f == p.files[1]) std::ifstream(fs::path(data.Path()) / f, std::ios::binary).read(old.data(), MiB);
        fs::create_directories((fs::path(save.Path()) / f).parent_path());
        std::ofstream(fs::path(save.Path()) / f, std::ios::binary) << old;
    }
    {
        LibtorrentSeeder seeder(p);
        Download r(p, save.Path());
        ASSERT_TRUE(r.Until([&] { return r.h.is_seed(); }, 60)) << r.Done() << " of " << p.totalSize;
        ExpectComplete(r, p, save.Path());
    }
    EXPECT_NE(fs::status(dst / "run.sh").permissions() & fs::perms::owner_exec, fs::perms::none) << "not executable";
    EXPECT_TRUE(fs::is_symlink(dst / "link"));
    EXPECT_EQ(fs::read_symlink(dst / "link"), "x.bin");

    const int checks = engine::debug::file_checks();
    Download again(p, save.Path());
    EXPECT_TRUE(again.Until([&] { return again.h.is_seed(); }, 30)) << again.Done() << " of " << p.totalSize;
    EXPECT_EQ(engine::debug::file_checks(), checks + 1);
}

// A file cut short (a run stopped before its end was written) is not taken
// for complete where the missing bytes would have been zeros.
TEST(Engine, ShortFileIsNotTakenForWhole)
{
    TempDir data("corvane-zeros");
    const Payload p = MakePayload(data.Path(), "zeros", {4 * MiB}, {}, {}, false, /*zeros*/ 0);
    fs::resize_file(fs::path(data.Path()) / p.files[0], MiB);
    Download r(p, data.Path());
    ASSERT_TRUE(r.Until([&] { return r.Done() >= MiB && !engine::debug::checking(r.h); }, 20));
    EXPECT_EQ(r.Done(), MiB);
    EXPECT_FALSE(r.h.is_seed());
}

TEST(Engine, ReadOnlyFolderIsAFileError)
{
    TempDir data("corvane-src"), save("corvane-ro");
    ASSERT_EQ(::mount("tmpfs", save.Path().c_str(), "tmpfs", MS_RDONLY, "size=1m"), 0);
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {3 * MiB, 1 * MiB});
    LibtorrentSeeder seeder(p);
    Download r(p, save.Path());
    EXPECT_TRUE(r.Until([&] { return r.fileErrors > 0; }, 30));
    EXPECT_TRUE(r.h.is_paused());
    EXPECT_FALSE(r.h.is_seed());
    ::umount2(save.Path().c_str(), MNT_DETACH);
}

// A write cut short (here by a file size limit just under the first file's
// size, as a disk that fills mid-write would) is a file error: the piece's
// hash passed from memory, so taking the short write for whole would end
// the download "complete" with a file short of its end.
TEST(Engine, WriteCutShortIsAFileError)
{
    TempDir data("corvane-src"), save("corvane-dst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {4 * MiB + 5000, MiB});
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    enum : int { kFileError = 10, kComplete, kNeither };
    const pid_t child = ::fork();  // no thread of ours runs yet: the child may start an engine
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        const rlimit limit{static_cast<rlim_t>(p.sizes[0] - 100), static_cast<rlim_t>(p.sizes[0] - 100)};
        char c;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || ::read(go[0], &c, 1) != 1) ::_exit(1);
        Download r(p, save.Path());
        r.Until([&] { return r.fileErrors > 0 || r.h.is_seed(); }, 60);
        ::_exit(r.fileErrors > 0 ? kFileError : r.h.is_seed() ? kComplete : kNeither);
    }
    ASSERT_GT(child, 0);
    LibtorrentSeeder seeder(p);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    int status = -1;
    const bool ended = WaitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, std::chrono::seconds(90));
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    ::close(go[0]);
    ::close(go[1]);
    ASSERT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), kFileError) << "complete: " << kComplete << ", neither in 60 s: " << kNeither
                                               << "; first file " << SizeOf(fs::path(save.Path()) / p.files[0]) << " of "
                                               << p.sizes[0];
}

}  // namespace

