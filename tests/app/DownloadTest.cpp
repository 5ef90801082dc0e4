// Real downloads through the real dialog class and its start routine: the
// configuration text and the .torrent from a loopback HTTP server, peers from
// opentracker and a real seeder, or the web seed alone; the prompts answered
// by ModalAnswerer. Runs in a private network with only loopback up.
#include "tests/app/RealDialogHarness.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t MiB = 1 << 20;

// The real dialog with the real engine. Once running, `poll` is called every
// 100 ms until it returns true, which ends the run; the watchdog ends a run
// that takes too long.
class DownloadDlg : public DrivenDialog<DownloadDlg>
{
public:
    DownloadDlg()
    {
        deadline = std::chrono::seconds(180);
        pollInterval = std::chrono::milliseconds(100);
    }
    bool refreshed = false;

protected:
    void OnProgramTimer(UINT_PTR id) override
    {
        refreshed |= id == kRefreshTimer;
        CCorvaneDlg::OnTimer(id);
    }
};

using DownloadRun = realdlg::RealRunOf<DownloadDlg>;

bool Seeding(DownloadDlg& d)
{
    return d.m_handle.is_valid() && d.m_handle.is_seed();
}

// Seeding, and the display has shown it: the bar and the percentage at 100.
bool SeedingAndShown(DownloadDlg& d)
{
    return Seeding(d) && d.m_progress.GetPos() == 100;
}

// The two halves of the size text " : <done> / <total>".
std::pair<QString, QString> SizeHalves(const QString& text)
{
    const qsizetype slash = text.indexOf(QStringLiteral(" / "));
    if (!text.startsWith(QStringLiteral(" : ")) || slash < 0)
        return {text, QString()};
    return {text.mid(3, slash - 3), text.mid(slash + 3)};
}

// A multi-file payload of about 200 MB (an empty file and odd sizes among
// them), made once for the tests that download it whole.
struct BigPayload
{
    TempDir data{"corvane-dl-src"};
    Tracker tracker;
    Payload payload =
        MakeTrackedPayload(tracker, data.Path(), "Pack 파일", {90 * MiB + 12345, 0, 64 * MiB, 45 * MiB - 999, 777});
};

BigPayload& Big()
{
    static BigPayload big;
    return big;
}

TEST(DialogDownload, WholePayloadFromTrackerAndSeederIntoAFolderWithKoreanAndAccents)
{
    const Payload& p = Big().payload;
    Aria2Seeder seeder(p);
    ASSERT_TRUE(seeder.WaitReady(std::chrono::seconds(60)));
    TempDir base("corvane-dl-dst");
    const QString folder = QString::fromStdString(base.Path()) + QString::fromUtf8("/받은 파일 é");
    ASSERT_TRUE(QDir().mkpath(folder));

    DownloadRun run;
    run.Serve(p.torrent);
    QString firstPath, firstSize, firstPercent, lastSize, lastPercent;
    run.dlg->poll = [&](DownloadDlg& d) {
        if (firstPath.isEmpty()) {  // the first display, before any refresh could change it
            firstPath = d.m_txtPath.GetWindowText();
            firstSize = d.m_txtSize.GetWindowText();
            firstPercent = d.m_txtPercent.GetWindowText();
        }
        if (!SeedingAndShown(d))
            return false;
        lastSize = d.m_txtSize.GetWindowText();
        lastPercent = d.m_txtPercent.GetWindowText();
        return true;
    };
    run.Run(folder);

    EXPECT_EQ(run.result, IDOK) << "the download did not complete";
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_EQ(run.Messages(), std::vector<QString>{});
    EXPECT_TRUE(run.dlg->refreshed);
    ASSERT_TRUE(run.dlg->m_handle.is_valid());
    const engine::torrent_status st = run.dlg->m_handle.status();
    EXPECT_EQ(st.total_done, p.totalSize);
    EXPECT_EQ(run.dlg->m_handle.total_size(), p.totalSize);
    EXPECT_GE(st.total_payload_download, p.totalSize) << "downloaded, not found on disk";
    const int port = run.dlg->m_session->listen_port();
    EXPECT_GE(port, 6881);
    EXPECT_LE(port, 6889);
    EXPECT_EQ(DifferingFiles(p, folder.toStdString()), std::vector<std::string>{})
        << "every file's SHA-256 equals the source's";

    // The display: the folder and name, and 100 with the total size.
    EXPECT_EQ(firstPath, QStringLiteral(" : ") + folder + QStringLiteral("/") + QString::fromStdString(p.name));
    EXPECT_EQ(firstPercent, QStringLiteral("0%"));
    EXPECT_TRUE(firstSize.startsWith(QStringLiteral(" : 0")) && firstSize.contains(QStringLiteral(" Bytes / ")))
        << "nothing received yet: " << firstSize.toStdString();
    EXPECT_EQ(run.dlg->m_progress.GetPos(), 100);
    EXPECT_EQ(lastPercent, QStringLiteral("100%"));
    const auto [done, total] = SizeHalves(lastSize);
    EXPECT_EQ(done, total) << lastSize.toStdString();
    EXPECT_EQ(firstSize.mid(firstSize.indexOf(QStringLiteral(" / ")) + 3), total) << "the total from the start";
    EXPECT_TRUE(total.endsWith(QStringLiteral(" MB"))) << total.toStdString();
}

TEST(DialogDownload, WholePayloadFromTheWebSeedAlone)
{
    // The same files, a .torrent without trackers: only the web seed has them.
    TempDir data("corvane-dl-web");
    const Payload p = MakePayload(data.Path(), "webpack", {70 * MiB + 4321, 0, 50 * MiB, 3 * MiB - 7}, {});
    HttpTestServer files;
    files.ServeFiles("/seed/", data.Path());
    TempDir save("corvane-dl-webdst");

    DownloadRun run;
    run.Serve(p.torrent, files.Url("/seed/"));
    run.dlg->poll = Seeding;
    run.Run(QString::fromStdString(save.Path()));

    EXPECT_EQ(run.result, IDOK) << "the download from the web seed did not complete";
    EXPECT_EQ(run.Messages(), std::vector<QString>{});
    EXPECT_EQ(DifferingFiles(p, save.Path()), std::vector<std::string>{});
    bool ranged = false;
    for (const auto& r : files.Requests())
        ranged |= r.headers.count("range") != 0;
    EXPECT_TRUE(ranged) << "the engine fetched pieces with range requests";
    for (const auto& r : files.Requests())
        EXPECT_EQ(r.headers.count("user-agent") ? r.headers.at("user-agent") : "", "TrxTorrent/0.7.0.0");
}

TEST(DialogDownload, CompleteFolderIsCheckedAndSeededWithoutDownloadingAgain)
{
    const Payload& p = Big().payload;
    DownloadRun run;
    run.Serve(p.torrent);
    run.dlg->poll = Seeding;
    run.Run(QString::fromStdString(p.dataDir));  // the folder that already holds it all

    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(run.Messages(), std::vector<QString>{});
    const engine::torrent_status st = run.dlg->m_handle.status();
    EXPECT_EQ(st.total_done, p.totalSize);
    EXPECT_EQ(st.total_payload_download, 0) << "nothing downloaded again";
    EXPECT_FALSE(run.dlg->m_handle.is_paused());
    EXPECT_EQ(DifferingFiles(p, p.dataDir), std::vector<std::string>{});
}

TEST(DialogDownload, PauseThenResumeMidDownloadGoesOnWithinSeconds)
{
    TempDir data("corvane-dl-pause"), save("corvane-dl-pausedst");
    Tracker tracker;
    const Payload p = MakeTrackedPayload(tracker, data.Path(), "slow", {12 * MiB, 8 * MiB, 4 * MiB});
    LibtorrentSeeder seeder(p, 2 * MiB);  // slow enough to act mid-download

    enum class Step { Downloading, Pausing, Paused, Resumed } step = Step::Downloading;
    std::int64_t atPause = 0;
    std::chrono::steady_clock::time_point since;
    bool idleWhilePaused = true;
    bool resumedInTime = false;
    DownloadRun run;
    run.Serve(p.torrent);
    run.dlg->deadline = std::chrono::seconds(120);
    run.dlg->poll = [&](DownloadDlg& d) {
        if (!d.m_handle.is_valid())
            return false;
        const engine::torrent_status st = d.m_handle.status();
        const auto now = std::chrono::steady_clock::now();
        switch (step) {
        case Step::Downloading:
            if (st.total_done >= 3 * MiB) {
                d.m_handle.pause();
                step = Step::Pausing;
            }
            return false;
        case Step::Pausing:
            if (st.num_peers == 0) {
                step = Step::Paused;
                since = now;
                atPause = st.total_done;
            }
            return false;
        case Step::Paused:
            idleWhilePaused &= st.num_peers == 0 && st.total_done == atPause;
            if (now - since >= std::chrono::seconds(2)) {
                d.m_handle.resume();
                step = Step::Resumed;
                since = now;
            }
            return false;
        case Step::Resumed:
            if (st.total_done > atPause + MiB) {
                resumedInTime = now - since <= std::chrono::seconds(15);
                return true;
            }
            return now - since > std::chrono::seconds(20);
        }
        return false;
    };
    run.Run(QString::fromStdString(save.Path()));

    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(step, Step::Resumed);
    EXPECT_TRUE(idleWhilePaused) << "a paused torrent neither connects nor downloads";
    EXPECT_TRUE(resumedInTime) << "no progress within seconds of the resume";
    EXPECT_EQ(run.Messages(), std::vector<QString>{});
}

struct NotATorrentCase
{
    const char* name;
    std::string body;
};

class DialogNotATorrent : public ::testing::TestWithParam<NotATorrentCase> {};

TEST_P(DialogNotATorrent, ShowsMessageFiveAndClosesWithTheSessionListening)
{
    TempDir save("corvane-dl-bad");
    DownloadRun run;
    run.Serve(GetParam().body);
    run.Run(QString::fromStdString(save.Path()));

    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_EQ(run.Messages(),
              std::vector<QString>{QStringLiteral("Cannot connect to server. Please check your network. (5)")});
    EXPECT_FALSE(run.dlg->m_handle.is_valid());
    const int port = run.dlg->m_session->listen_port();
    EXPECT_GE(port, 6881) << "the session was listening by then";
    EXPECT_LE(port, 6889);
    EXPECT_FALSE(run.dlg->refreshed) << "no timer was started";
}

INSTANTIATE_TEST_SUITE_P(Table, DialogNotATorrent,
                         ::testing::Values(NotATorrentCase{"HtmlPage", "<!DOCTYPE html><html><body><h1>502 Bad "
                                                                       "Gateway</h1></body></html>\n"},
                                           NotATorrentCase{"BencodedDictionary", "d8:announce3:abc4:infoi7ee"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

