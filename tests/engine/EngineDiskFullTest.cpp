// A full disk during a real download: the save folder is a small tmpfs in a
// mount namespace of the test's own. The engine must stop the torrent
// (paused, file error reported), and once space is freed a resume must
// complete the download with every file intact.
#include <gtest/gtest.h>

#include <thread>

#include "engine/debug.h"
#include "engine/session.h"
#include "tests/engine/ProgramSetup.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/Swarm.h"

namespace {

using engine::alert_kind;
using enginetest::AddLikeTheProgram;

constexpr std::int64_t MiB = 1 << 20;

struct Counts {
    int fileErrors = 0;
    int other = 0;
};

bool Drive(engine::session& s, Counts& c, const std::function<bool()>& pred, std::chrono::seconds timeout)
{
    return WaitUntil(
        [&] {
            for (alert_kind k : s.pop_alerts()) {
                c.fileErrors += k == alert_kind::file_error;
                c.other += k == alert_kind::other;
            }
            return pred();
        },
        timeout);
}

// Fills a 6 MiB disk with a 16 MiB download, then grows the disk and resumes.
// popErrors: the errors are popped as they come (the torrent is paused by
// the first); otherwise the torrent is paused as popping the first would,
// but every error of the incident stays queued until after the resume, as
// when the user resumes before the program has looked at the rest.
void FillThenFreeAndResume(bool popErrors)
{
    TempDir data("corvane-src"), save("corvane-disk");
    SmallDisk disk(save.Path(), "6m");
    ASSERT_TRUE(disk.Mounted()) << disk.Error();

    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "pack", {8 * MiB, 4 * MiB, 4 * MiB + 99});
    LibtorrentSeeder seeder(p);
    auto s = engine::make_session(ClientFingerprint());
    ConfigureSession(*s);
    engine::torrent_handle h = AddLikeTheProgram(*s, p.torrent, save.Path());

    Counts before;
    if (!popErrors) {
        // Left to itself the engine falls back to uploading only (or, for
        // some failures, stops the torrent with an error).
        ASSERT_TRUE(WaitUntil(
            [&] {
                const std::string state = engine::debug::torrent_state(h);
                return state.find("upload_mode=1") != std::string::npos || state.find("error=1") != std::string::npos;
            },
            std::chrono::seconds(90)));
        std::this_thread::sleep_for(std::chrono::seconds(1));  // writes still under way fail too
        // Stopped as popping the first error would have stopped it.
        h.pause();
        ASSERT_TRUE(WaitUntil([&] { return h.status().num_peers == 0; }, std::chrono::seconds(10)));
    } else {
        ASSERT_TRUE(Drive(*s, before, [&] { return before.fileErrors > 0; }, std::chrono::seconds(90)))
            << "no file error; done " << h.status().total_done;
        // Stopped, not left downloading (or uploading only) behind the user's back.
        EXPECT_TRUE(h.is_paused());
        EXPECT_TRUE(h.status().paused);
        EXPECT_FALSE(h.is_seed());
        EXPECT_TRUE(h.is_valid());
        ASSERT_TRUE(Drive(*s, before, [&] { return h.status().num_peers == 0; }, std::chrono::seconds(10)));
        // Whatever the engine still reports of this incident, the torrent stays paused.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Drive(*s, before, [] { return false; }, std::chrono::seconds(1));
        EXPECT_TRUE(h.is_paused());
        ::testing::Test::RecordProperty("file_errors_before_resume", before.fileErrors);
    }

    ASSERT_TRUE(disk.Grow("64m"));
    h.resume();
    EXPECT_FALSE(h.is_paused());
    EXPECT_EQ(engine::debug::torrent_state(h), "auto_managed=0 paused=0 upload_mode=0 sparse=1 error=0");
    // Errors of the incident popped after the resume must not stop the
    // download again: they are old news.
    Counts after;
    ASSERT_TRUE(Drive(*s, after, [&] { return h.is_seed() || h.is_paused(); }, std::chrono::seconds(120)));
    ASSERT_TRUE(h.is_seed()) << "done " << h.status().total_done << " of " << p.totalSize << ", paused "
                             << h.is_paused();
    EXPECT_EQ(after.fileErrors, 0);
    if (!popErrors) {
        EXPECT_GE(after.other, 1);  // the old errors, reported as nothing special
    }
    EXPECT_EQ(h.status().total_done, p.totalSize);
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{});
}

TEST(EngineDiskFull, FullDiskPausesAndResumeCompletesOnceSpaceIsFreed) { FillThenFreeAndResume(true); }

TEST(EngineDiskFull, ErrorsOlderThanTheResumeDoNotStopItAgain) { FillThenFreeAndResume(false); }

}  // namespace

