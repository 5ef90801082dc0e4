// One failed announce round of a dead tracker is one tracker error, however
// many local addresses the engine announced from (here loopback and a second
// interface inside the test's private network).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/session.h"
#include "tests/support/Swarm.h"

namespace {

TEST(TrackerRounds, OneErrorPerFailedRoundWithTwoInterfaces)
{
    ASSERT_EQ(std::system("ip link add veth0 type veth peer name veth1 && ip addr add 10.77.5.1/24 dev veth0 && "
                          "ip link set veth1 up && ip link set veth0 up"), 0);
    TempDir dir("corvane-rounds");
    const std::string dead = "http://10.77.5.1:" + std::to_string(FreePort()) + "/announce";
    const Payload p = MakePayload(dir.Path() + "/seed", "pack", {1 << 20}, {dead});
    auto s = engine::make_session(engine::fingerprint{"KQ", 0, 7, 0, 0});
    s->set_alert_severity_info();
    s->listen_on(6881, 6889);
    engine::torrent_handle h =
        s->add_torrent(engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size()), dir.Path());
    int errors = 0;
    const auto drain = [&] {
        const auto kinds = s->pop_alerts();
        errors += static_cast<int>(std::count(kinds.begin(), kinds.end(), engine::alert_kind::tracker_error));
    };
    const int rounds = 3;
    for (int round = 1; round <= rounds; ++round) {
        h.force_reannounce();
        ASSERT_TRUE(WaitUntil([&] { drain(); return errors >= round; }, std::chrono::seconds(10))) << round;
    }
    WaitUntil([&] { drain(); return errors > rounds; }, std::chrono::seconds(1));  // a late error of the last round
    EXPECT_EQ(errors, rounds);
}

}  // namespace
