#include "app/util/DownloadUrlToBuffer.h"
#include "tests/support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kUnset = 0xDEADBEEF;
constexpr char kFill = 0x55;

// A body without NUL bytes, so a stray terminator is easy to spot.
std::string Body(std::size_t size)
{
    std::string body(size, 'x');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>('a' + i % 26);
    return body;
}

std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// A loopback port that nothing listens on.
std::uint16_t DeadPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

class Fetch : public ::testing::Test {
protected:
    void SetUp() override
    {
        buffer.assign(kDownloadBufferSize, kFill);
        // Short enough to keep failing fetches quick, long enough that a
        // busy machine never trips them; the stall test sets its own.
        previous = SetDownloadTimeoutsForTesting({std::chrono::milliseconds(5000),
                                                  std::chrono::seconds(10)});
    }
    void TearDown() override { SetDownloadTimeoutsForTesting(previous); }

    int Get(const std::u16string& url)
    {
        length = kUnset;
        elapsed = kUnset;
        return DownloadUrlToBuffer(url.c_str(), buffer.data(), &length, &elapsed);
    }
    int Get(const std::string& path) { return Get(server.WideUrl(path)); }

    std::string Stored() const { return std::string(buffer.data(), length); }
    bool AnyNul() const { return std::find(buffer.begin(), buffer.end(), '\0') != buffer.end(); }

    HttpTestServer server;
    std::vector<char> buffer;
    std::uint32_t length = kUnset;
    std::uint32_t elapsed = kUnset;
    DownloadTimeouts previous;
};

TEST_F(Fetch, ContentLengthBody)
{
    server.Serve("/config.txt", "7|http://example.invalid/|http://example.invalid/t.torrent");
    ASSERT_EQ(Get("/config.txt"), 1);
    EXPECT_EQ(Stored(), "7|http://example.invalid/|http://example.invalid/t.torrent");
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_GT(elapsed, 0u);
    EXPECT_NE(elapsed, kUnset);
}

// How the server delivers a body: in one go, chunked, or in many small writes.
enum class Delivery { Whole, Chunked, Pieces };

struct SizeCase {
    const char* name;
    std::size_t size;
    Delivery delivery;
    bool accepted;
};

class FetchSizes : public Fetch, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FetchSizes, LimitIsTestedBeforeEachPiece)
{
    const SizeCase& c = GetParam();
    const std::string body = Body(c.size);
    switch (c.delivery) {
    case Delivery::Whole: server.Serve("/b", body); break;
    case Delivery::Chunked: server.ServeChunked("/b", body, 1000); break;
    case Delivery::Pieces: server.ServePieces("/b", body, 4093, std::chrono::microseconds(50)); break;
    }
    const int result = Get("/b");
    if (c.accepted) {
        ASSERT_EQ(result, 1);
        ASSERT_EQ(length, c.size);
        EXPECT_TRUE(Stored() == body);
        EXPECT_EQ(buffer[c.size], '\0');
        EXPECT_GT(elapsed, 0u);
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(length, kUnset) << "length must not be written";
        EXPECT_EQ(elapsed, 0u);
        EXPECT_FALSE(AnyNul()) << "no terminator after the bytes read";
        // What was stored is the start of the body.
        EXPECT_EQ(std::memcmp(buffer.data(), body.data(), 1000), 0);
    }
}

const SizeCase kSizeCases[] = {
    {"OneByte", 1, Delivery::Whole, true},
    {"LargestWhole", kDownloadBufferSize - 1, Delivery::Whole, true},
    {"LargestChunked", kDownloadBufferSize - 1, Delivery::Chunked, true},
    {"LargestInPieces", kDownloadBufferSize - 1, Delivery::Pieces, true},
    {"LimitWhole", kDownloadBufferSize, Delivery::Whole, false},
    {"LimitChunked", kDownloadBufferSize, Delivery::Chunked, false},
    {"LimitInPieces", kDownloadBufferSize, Delivery::Pieces, false},
    {"BeyondWhole", 700000, Delivery::Whole, false},
    {"BeyondChunked", 1500000, Delivery::Chunked, false},
};

INSTANTIATE_TEST_SUITE_P(DownloadUrlToBuffer, FetchSizes, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Fetch, ManySmallPiecesArriveWhole)
{
    const std::string body = Body(20000);
    server.ServePieces("/small", body, 7, std::chrono::microseconds(100));
    ASSERT_EQ(Get("/small"), 1);
    EXPECT_TRUE(Stored() == body);
}

TEST_F(Fetch, EmptyBodyFailsWithLengthZero)
{
    server.Serve("/empty", "");
    server.ServeChunked("/empty-chunked", "");
    for (const char* path : {"/empty", "/empty-chunked"}) {
        buffer.assign(kDownloadBufferSize, kFill);
        EXPECT_EQ(Get(path), 0) << path;
        EXPECT_EQ(length, 0u) << path;
        EXPECT_EQ(buffer[0], '\0') << path;
        EXPECT_EQ(buffer[1], kFill) << path;
        EXPECT_EQ(elapsed, 0u) << path;
    }
}

TEST_F(Fetch, BytesAfterANulAreKept)
{
    const std::string body("d8:announce\0\0tail", 17);
    server.Serve("/t.torrent", body);
    ASSERT_EQ(Get("/t.torrent"), 1);
    EXPECT_EQ(length, 17u);
    EXPECT_EQ(Stored(), body);
}

TEST_F(Fetch, ErrorPageIsContent)
{
    const std::string page = "<html><body>Gone</body></html>";
    server.Serve("/gone", page, 404, "text/html");
    ASSERT_EQ(Get("/gone"), 1);
    EXPECT_EQ(Stored(), page);
    server.Serve("/broken", "oops", 500, "text/plain");
    ASSERT_EQ(Get("/broken"), 1);
    EXPECT_EQ(Stored(), "oops");
}

TEST_F(Fetch, TruncatedBodyIsAFailure)
{
    const std::string body = Body(50000);
    server.CloseMidBody("/cut", body, 20000);
    server.CloseMidBody("/cut-chunked", body, 20000, true);
    server.CloseMidBody("/cut-before-body", body, 0);
    for (const char* path : {"/cut", "/cut-chunked", "/cut-before-body"}) {
        buffer.assign(kDownloadBufferSize, kFill);
        EXPECT_EQ(Get(path), 0) << path;
        EXPECT_EQ(length, kUnset) << path;
        EXPECT_FALSE(AnyNul()) << path;
        EXPECT_GT(elapsed, 0u) << path;
        EXPECT_NE(elapsed, kUnset) << path;
    }
}

TEST_F(Fetch, StalledServerTimesOut)
{
    SetDownloadTimeoutsForTesting({std::chrono::milliseconds(5000), std::chrono::seconds(1)});
    server.Stall("/stall");                        // no reply at all
    server.Stall("/stall-mid", Body(30000), 10000); // headers and part of the body
    for (const char* path : {"/stall", "/stall-mid"}) {
        buffer.assign(kDownloadBufferSize, kFill);
        EXPECT_EQ(Get(path), 0) << path;
        EXPECT_EQ(length, kUnset) << path;
        EXPECT_FALSE(AnyNul()) << path;
        EXPECT_GE(elapsed, 1000u) << path; // the stall time-out set for the test
        EXPECT_NE(elapsed, kUnset) << path;
    }
}

TEST_F(Fetch, TricklingServerTimesOutAsAWhole)
{
    // A byte every 100 ms never trips the stall time-out; the whole transfer
    // is bounded all the same.
    SetDownloadTimeoutsForTesting({std::chrono::milliseconds(5000), std::chrono::seconds(30), std::chrono::seconds(2)});
    server.ServePieces("/trickle", Body(200), 1, std::chrono::milliseconds(100));
    EXPECT_EQ(Get("/trickle"), 0);
    EXPECT_EQ(length, kUnset);
    EXPECT_FALSE(AnyNul());
    EXPECT_GE(elapsed, 2000u);
    EXPECT_LT(elapsed, 15000u);
}

TEST_F(Fetch, RefusedConnectionReportsTimeSpentTrying)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(DeadPort()) + "/config.txt";
    EXPECT_EQ(Get(Wide(url)), 0);
    EXPECT_EQ(length, kUnset);
    EXPECT_GT(elapsed, 0u);
    EXPECT_NE(elapsed, kUnset);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), kFill),
              static_cast<std::ptrdiff_t>(kDownloadBufferSize)) << "buffer untouched";
}

TEST_F(Fetch, UnansweredConnectionTimesOut)
{
    // A listener that never accepts, its queue already full: further
    // connection attempts get no answer at all.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> queued;
    for (int i = 0; i < 3; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ::usleep(100 * 1000);

    SetDownloadTimeoutsForTesting({std::chrono::milliseconds(1000), std::chrono::seconds(30)});
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";
    EXPECT_EQ(Get(Wide(url)), 0);
    EXPECT_EQ(length, kUnset);
    EXPECT_GE(elapsed, 1000u); // the connect time-out set for the test
    EXPECT_NE(elapsed, kUnset);
    for (int fd : queued)
        ::close(fd);
    ::close(listener);
}

TEST_F(Fetch, FollowsRedirects)
{
    server.Serve("/new", "moved content");
    server.Redirect("/old", "/new");
    server.Redirect("/absolute", server.Url("/old"), 301);
    server.Redirect("/see-other", "/new", 303);
    server.Redirect("/temporary", "/new", 307);
    for (const char* path : {"/old", "/absolute", "/see-other", "/temporary"}) {
        ASSERT_EQ(Get(path), 1) << path;
        EXPECT_EQ(Stored(), "moved content") << path; // no redirect page mixed in
    }
}

TEST_F(Fetch, RedirectLoopFails)
{
    server.Redirect("/a", "/b");
    server.Redirect("/b", "/a");
    EXPECT_EQ(Get("/a"), 0);
    EXPECT_EQ(length, kUnset);
    EXPECT_LE(server.RequestCount("/a") + server.RequestCount("/b"), 12);
}

TEST_F(Fetch, OnlyHttpIsFetched)
{
    char file[] = "/tmp/corvane-fetch-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "secret", 6), 6);
    ::close(fd);
    server.Redirect("/to-file", std::string("file://") + file);

    EXPECT_EQ(Get(Wide(std::string("file://") + file)), 0);
    EXPECT_EQ(Get("/to-file"), 0);
    EXPECT_EQ(Get(Wide("ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x")), 0);
    EXPECT_EQ(Get(Wide("not a url")), 0);
    ::unlink(file);
}

TEST_F(Fetch, RequestIdentifiesItselfAndBypassesCaches)
{
    server.Serve("/c", "c");
    ASSERT_EQ(Get("/c"), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.headers.at("user-agent"), "Corvane");
    EXPECT_EQ(r.headers.at("cache-control"), "no-cache");
    EXPECT_EQ(r.headers.at("pragma"), "no-cache");
}

TEST_F(Fetch, ProxyEnvironmentIsIgnored)
{
    const std::string proxy = "http://127.0.0.1:" + std::to_string(DeadPort());
    const char* names[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY"};
    for (const char* name : names)
        ::setenv(name, proxy.c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    server.Serve("/direct", "direct");
    const int result = Get("/direct");
    for (const char* name : names)
        ::unsetenv(name);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(Stored(), "direct");
}

TEST_F(Fetch, BlanksAndNonAsciiArePercentEncoded)
{
    server.Serve("/a%20b/%C3%A9t%C3%A9.txt", "summer");
    server.Serve("/q", "query");
    std::u16string url = server.WideUrl("/a b/") + u"\u00e9t\u00e9.txt";
    ASSERT_EQ(Get(url), 1);
    EXPECT_EQ(Stored(), "summer");

    ASSERT_EQ(Get(server.WideUrl("/q?name=a b&x=") + u"\uD55C"), 1);
    EXPECT_EQ(Stored(), "query");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/a%20b/%C3%A9t%C3%A9.txt");
    EXPECT_EQ(requests[1].target, "/q?name=a%20b&x=%ED%95%9C");
}

TEST_F(Fetch, NoUrlOrNoBufferWritesNothing)
{
    std::uint32_t len = kUnset;
    std::uint32_t ms = kUnset;
    EXPECT_EQ(DownloadUrlToBuffer(u"", buffer.data(), &len, &ms), 0);
    EXPECT_EQ(DownloadUrlToBuffer(nullptr, buffer.data(), &len, &ms), 0);
    server.Serve("/x", "x");
    EXPECT_EQ(DownloadUrlToBuffer(server.WideUrl("/x").c_str(), nullptr, &len, &ms), 0);
    EXPECT_EQ(len, kUnset);
    EXPECT_EQ(ms, kUnset);
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_EQ(buffer[0], kFill);
}

TEST_F(Fetch, NullElapsedOutputChangesNothingElse)
{
    server.Serve("/x", "payload");
    std::uint32_t len = kUnset;
    ASSERT_EQ(DownloadUrlToBuffer(server.WideUrl("/x").c_str(), buffer.data(), &len, nullptr), 1);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(std::string(buffer.data()), "payload");
    server.Serve("/empty", "");
    EXPECT_EQ(DownloadUrlToBuffer(server.WideUrl("/empty").c_str(), buffer.data(), &len, nullptr), 0);
    EXPECT_EQ(len, 0u);
}

TEST_F(Fetch, SameBufferServesTwoFetchesInARow)
{
    server.Serve("/long", Body(5000));
    server.Serve("/short", "ab");
    ASSERT_EQ(Get("/long"), 1);
    ASSERT_EQ(Get("/short"), 1);
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(buffer.data(), "ab");
}

} // namespace
