// The tracker watchdog through the real engine: a tracker on a loopback port
// where nothing listens fails every announce at once, and with no peer at
// all each failure counts, through the engine's own alerts.
#include "tests/app/RealDialogHarness.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace realdlg;

const QString kText4 = QStringLiteral("Cannot connect to server. Please check your network. (4)");

// The count rises with each failure of the engine's own announces (one at
// the start, then the forced re-announce every 20 s, as no peer is ever
// connected). Eleven real failures take over three minutes, so once the
// first has counted, the count is moved on to 9: the next two real failures
// reach the limit and the watchdog stops and closes the window.
TEST(RealTrackerWatchdog, FailuresOfAnUnreachableTrackerCountUpToTheStop)
{
    TempDir data("corvane-wd-src"), save("corvane-wd-dst");
    const int closedPort = FreePort();  // asked from the kernel and released: nothing listens
    const Payload p = MakePayload(data.Path(), "pack", {1 << 20},
                                  {"http://127.0.0.1:" + std::to_string(closedPort) + "/announce"});
    RealRun run;
    run.Serve(p.torrent);
    run.dlg->deadline = std::chrono::seconds(150);
    std::vector<int> counts;  // as seen by the poll, each change once
    bool jumped = false;
    run.dlg->poll = [&](RealDlg& d) {
        if (counts.empty() || counts.back() != d.m_trackerFailures)
            counts.push_back(d.m_trackerFailures);
        EXPECT_EQ(d.m_handle.status().num_peers, 0);
        if (!jumped && d.m_trackerFailures == 1) {
            d.m_trackerFailures = 9;
            jumped = true;
        }
        return false;  // the watchdog ends the run
    };
    run.Run(save.Path());

    EXPECT_EQ(run.result, IDCANCEL) << "closed by the watchdog";
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_EQ(run.Count(kText4), 1);
    EXPECT_EQ(run.Messages().size(), 1u);
    EXPECT_EQ(counts.front(), 0);
    EXPECT_TRUE(jumped) << "no failure counted";
    EXPECT_EQ(run.dlg->m_trackerFailures, 11);
    EXPECT_TRUE(std::find(counts.begin(), counts.end(), 10) != counts.end()) << "one failure at a time";
    ASSERT_TRUE(run.dlg->m_handle.is_valid());
    EXPECT_TRUE(run.dlg->m_handle.is_paused()) << "the watchdog paused the download";
}

}  // namespace

