// One failed announce round of a dead tracker is one tracker error, however
// many local addresses the engine announced from (here loopback and a second
// interface inside the test's private network).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

#include "engine/session.h"
#include "tests/support/Swarm.h"

namespace {

// The engine's session with one torrent that announces to `tracker`; counts
// the tracker errors the engine passes on.
struct Announcer {
    TempDir dir{"corvane-rounds"};
    std::unique_ptr<engine::session> s = engine::make_session(engine::fingerprint{"KQ", 0, 7, 0, 0});
    engine::torrent_handle h;
    int errors = 0;

    explicit Announcer(const std::string& tracker)
    {
        const Payload p = MakePayload(dir.Path() + "/seed", "pack", {1 << 20}, {tracker});
        s->set_alert_severity_info();
        s->listen_on(6881, 6889);
        h = s->add_torrent(engine::torrent_info::from_buffer(p.torrent.data(), p.torrent.size()), dir.Path());
    }
    // Takes the alerts until `n` errors have come, for at most `within`.
    bool ErrorsReach(int n, std::chrono::milliseconds within)
    {
        return WaitUntil(
            [&] {
                const auto kinds = s->pop_alerts();
                errors += static_cast<int>(std::count(kinds.begin(), kinds.end(), engine::alert_kind::tracker_error));
                return errors >= n;
            },
            within);
    }
};

TEST(TrackerRounds, OneErrorPerFailedRoundWithTwoInterfaces)
{
    ASSERT_EQ(std::system("ip link add veth0 type veth peer name veth1 && ip addr add 10.77.5.1/24 dev veth0 && "
                          "ip link set veth1 up && ip link set veth0 up"), 0);
    Announcer a("http://10.77.5.1:" + std::to_string(FreePort()) + "/announce");
    const int rounds = 3;
    for (int round = 1; round <= rounds; ++round) {
        a.h.force_reannounce();
        ASSERT_TRUE(a.ErrorsReach(round, std::chrono::seconds(10))) << round;
    }
    a.ErrorsReach(rounds + 1, std::chrono::seconds(1));  // a late error of the last round
    EXPECT_EQ(a.errors, rounds);
}

// A tracker that takes the connection from one local address and never
// answers: that address never finishes an announce, and the loopback one
// (which cannot reach the tracker's network) fails at once every round. The
// first round can only be known to be over when the next begins, but from
// then on every failed round is one error: the eleventh failed round must
// bring the watchdog's eleventh error, not the tenth.
TEST(TrackerRounds, EveryFailedRoundCountsWhenAnAddressNeverAnnounces)
{
    ASSERT_EQ(std::system("ip link add veth2 type veth peer name veth3 && ip addr add 10.77.6.1/24 dev veth2 && "
                          "ip link set veth3 up && ip link set veth2 up"), 0);
    const int hung = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    ::inet_pton(AF_INET, "10.77.6.1", &at.sin_addr);
    socklen_t len = sizeof at;
    ASSERT_EQ(::bind(hung, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(hung, 16), 0);  // never accepted: the request waits unanswered
    ASSERT_EQ(::getsockname(hung, reinterpret_cast<sockaddr*>(&at), &len), 0);
    Announcer a("http://10.77.6.1:" + std::to_string(ntohs(at.sin_port)) + "/announce");
    // Round 1 is the announce of the start. All of this stays well inside the
    // engine's 10 s wait for the silent tracker's answer.
    a.ErrorsReach(2, std::chrono::seconds(1));
    EXPECT_LE(a.errors, 1);
    const int rounds = 4;
    for (int round = 2; round <= rounds; ++round) {
        a.h.force_reannounce();
        ASSERT_TRUE(a.ErrorsReach(round, std::chrono::seconds(2)))
            << "round " << round << " brought " << a.errors << " errors";
    }
    a.ErrorsReach(rounds + 1, std::chrono::milliseconds(500));
    EXPECT_EQ(a.errors, rounds);
    ::close(hung);
}

}  // namespace
