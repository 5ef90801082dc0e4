// The HTTP fetch against the stand-in server: one row per way a server may
// answer, with bounds on the time the slow ones take.
#include "app/util/DownloadUrlToBuffer.h"
#include "tests/support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr std::uint32_t kUnset = 0xDEADBEEF;
const DownloadTimeouts kQuick{5000ms, 10s, 60s};  // never reached by a good fetch

std::string Body(std::size_t size, char first = 'a')
{
    std::string body(size, first);
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>(first + i % 26);
    return body;
}

struct FetchCase {
    const char* name;
    std::function<void(HttpTestServer&, const std::string& path)> serve;
    std::string expected;  // the content, or "" for a failed fetch
    DownloadTimeouts timeouts = kQuick;
    std::uint32_t minMs = 0, maxMs = 30000;
};

TEST(Fetch, EveryWayOfAnsweringGivesTheRightOutcome)
{
    const std::string small("d8:announce\0\0tail", 17), largest = Body(kDownloadBufferSize - 1);
    const std::string tooLarge = Body(kDownloadBufferSize), cut = Body(50000);
    const FetchCase cases[] = {
        {"whole, NULs inside", [&](auto& s, auto& p) { s.Serve(p, small); }, small},
        {"largest, chunked", [&](auto& s, auto& p) { s.ServeChunked(p, largest, 1000); }, largest},
        {"largest, in pieces", [&](auto& s, auto& p) { s.ServePieces(p, largest, 4093, 50us); }, largest},
        {"tiny pieces", [&](auto& s, auto& p) { s.ServePieces(p, Body(2000), 7, 100us); }, Body(2000)},
        {"error page is content", [](auto& s, auto& p) { s.Serve(p, "<h1>Gone</h1>", 404, "text/html"); },
         "<h1>Gone</h1>"},
        {"server error page", [](auto& s, auto& p) { s.Serve(p, "oops", 500); }, "oops"},
        {"redirect", [](auto& s, auto& p) { s.Serve("/new", "moved"); s.Redirect(p, "/new", 301); }, "moved"},
        {"redirect loop", [](auto& s, auto& p) { s.Redirect(p, p + "x"); s.Redirect(p + "x", p); }, ""},
        {"too large", [&](auto& s, auto& p) { s.Serve(p, tooLarge); }, ""},
        {"too large, chunked", [&](auto& s, auto& p) { s.ServeChunked(p, tooLarge, 1000); }, ""},
        {"empty", [](auto& s, auto& p) { s.Serve(p, ""); }, ""},
        {"cut mid-body", [&](auto& s, auto& p) { s.CloseMidBody(p, cut, 20000); }, ""},
        {"cut mid-chunks", [&](auto& s, auto& p) { s.CloseMidBody(p, cut, 20000, true); }, ""},
        {"cut before the body", [&](auto& s, auto& p) { s.CloseMidBody(p, cut, 0); }, ""},
        {"stalled before the reply", [](auto& s, auto& p) { s.Stall(p); }, "", {5000ms, 1s, 8s}, 1000, 6000},
        {"stalled mid-body", [&](auto& s, auto& p) { s.Stall(p, cut, 10000); }, "", {5000ms, 1s, 8s}, 1000, 6000},
        {"trickling", [](auto& s, auto& p) { s.ServePieces(p, Body(200), 1, 100ms); }, "", {5000ms, 5s, 2s},
         2000, 6000},
    };
    HttpTestServer server;
    std::vector<char> buffer;
    int row = 0;
    for (const FetchCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/" + std::to_string(++row);
        c.serve(server, path);
        buffer.assign(kDownloadBufferSize, '\x55');
        std::uint32_t length = kUnset, elapsed = kUnset;
        SetDownloadTimeoutsForTesting(c.timeouts);
        const int result = DownloadUrlToBuffer(server.WideUrl(path).c_str(), buffer.data(), &length, &elapsed);
        EXPECT_EQ(result, c.expected.empty() ? 0 : 1);
        EXPECT_NE(elapsed, kUnset);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
        if (result == 1) {
            ASSERT_EQ(length, c.expected.size());
            EXPECT_TRUE(std::string(buffer.data(), length) == c.expected);
            EXPECT_EQ(buffer[length], '\0');
        } else if (length != 0) {  // an empty body alone writes its length 0
            EXPECT_EQ(length, kUnset);
            EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '\0'), 0) << "a failed fetch stores no NUL";
        }
    }
    EXPECT_LE(server.RequestCount("/8") + server.RequestCount("/8x"), 12) << "the loop is cut short";
    SetDownloadTimeoutsForTesting({});
}

} // namespace
