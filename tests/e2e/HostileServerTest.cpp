// The real dialog class against a hostile or broken server: configuration
// and .torrent replies that are garbage, binary, exactly the buffer's size,
// 10 MB, cut off, stalled, or a redirect loop. Each run must end with its
// numbered message and close: never a crash, never a hang. A close arriving
// from outside while a box is up must end the run too.
#include "app/Configuration.h"
#include "app/CorvaneDlg.h"
#include "app/util/DownloadUrlToBuffer.h"
#include "app/util/ProcessLauncher.h"
#include "engine/fake_session.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const char kConfigPath[] = "/notarget/varcgi/dncgi.txt";
constexpr auto kStall = std::chrono::seconds(2);

QString Msg(int n)
{
    return QStringLiteral("Cannot connect to server. Please check your network. (%1)").arg(n);
}

// Pseudo-random bytes without the field separator (so a configuration text
// of them is one field) and, when asked, without NUL.
std::string Binary(std::size_t n, bool noNul, unsigned seed = 7)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) {
        do {
            c = static_cast<char>(rng() & 0xFF);
        } while (c == '|' || (noNul && c == '\0'));
    }
    return s;
}

// How a route answers; applied to the configuration or the .torrent path.
using Route = std::function<void(HttpTestServer&, const std::string& path)>;

Route Body(std::string body)
{
    return [body](HttpTestServer& s, const std::string& path) { s.Serve(path, body); };
}
Route Html404()
{
    return [](HttpTestServer& s, const std::string& path) {
        s.Serve(path, "<html><body><h1>404 Not Found</h1></body></html>", 404, "text/html");
    };
}
Route Truncated(std::string body, std::size_t sent, bool chunked)
{
    return [=](HttpTestServer& s, const std::string& path) { s.CloseMidBody(path, body, sent, chunked); };
}
Route Stalled(std::string body, std::size_t sent)
{
    return [=](HttpTestServer& s, const std::string& path) { s.Stall(path, body, sent); };
}
Route RedirectLoop()
{
    return [](HttpTestServer& s, const std::string& path) {
        s.Redirect(path, path + "-a");
        s.Redirect(path + "-a", path);
    };
}

// The real dialog on a fake engine. A run that reaches the engine's set-up
// ends once both timers have fired; anything else must close by itself.
class HostileDlg : public CCorvaneDlg
{
public:
    explicit HostileDlg(std::unique_ptr<engine::session> s) : CCorvaneDlg(std::move(s)) {}
    bool timersRan = false;
    void OnTimer(UINT_PTR id) override
    {
        CCorvaneDlg::OnTimer(id);
        if (id == kRefreshTimer || id == kReannounceTimer) {
            timersRan = true;
            EndDialog(IDOK);
        }
    }
};

struct Outcome
{
    INT_PTR result = 0;
    bool watchdogFired = false;
    std::vector<QString> messages;  // message boxes' texts, in order
    int folderDialogs = 0;
    bool engineUsed = false;
    bool timersRan = false;
    qint64 ms = 0;
};

// Runs the dialog once against the server; a watchdog that also fires inside
// nested loops ends a run that would otherwise wait. `whileBoxUp` may act on
// the dialog when the first message box appears (before anyone answers it).
Outcome RunDialog(HttpTestServer& server, const QString& folder,
                  const std::function<void(HostileDlg&)>& whileBoxUp = {})
{
    Outcome out;
    SetConfigurationAddressForTesting(server.WideUrl(kConfigPath));
    SetLaunchHookForTesting([](const QString&, const QStringList&) { return true; });
    const DownloadTimeouts before = SetDownloadTimeoutsForTesting({std::chrono::milliseconds(5000), kStall});

    auto fake = std::make_unique<engine::fake_session>();
    engine::fake_session* session = fake.get();
    auto dlg = std::make_unique<HostileDlg>(std::move(fake));

    // With an act to do, boxes wait for it before they are answered.
    ModalAnswerer answerer;
    answerer.ChooseFolder(folder);
    answerer.Hold(bool(whileBoxUp));
    QTimer actor;
    bool acted = false;
    if (whileBoxUp) {
        actor.setInterval(20);
        QObject::connect(&actor, &QTimer::timeout, [&] {
            if (!acted && QApplication::activeModalWidget()) {
                acted = true;
                whileBoxUp(*dlg);
                answerer.Hold(false);
            }
        });
        actor.start();
    }
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        out.watchdogFired = true;
        dlg->EndDialog(99);
    });
    watchdog.start(30000);

    QElapsedTimer clock;
    clock.start();
    out.result = RunAsMainWindow(*dlg);
    out.ms = clock.elapsed();
    watchdog.stop();
    actor.stop();

    for (const auto& seen : answerer.SeenPrompts()) {
        if (seen.kind == ModalAnswerer::Kind::MessageBox)
            out.messages.push_back(seen.text);
        else if (seen.kind == ModalAnswerer::Kind::FolderDialog)
            ++out.folderDialogs;
    }
    out.engineUsed = !session->calls.empty();
    out.timersRan = dlg->timersRan;
    dlg.reset();
    SetDownloadTimeoutsForTesting(before);
    SetLaunchHookForTesting({});
    SetConfigurationAddressForTesting({});
    return out;
}

struct HostileCase
{
    const char* name;
    Route config;   // how the configuration text is served
    Route torrent;  // how the .torrent is served
    int message;    // the numbered message the run must end with
    bool folderAsked;
};

std::string ValidTorrent()
{
    static TempDir dir("corvane-hostile");
    static const Payload p = MakePayload(dir.Path(), "pack", {40000, 0, 12345}, {});
    return p.torrent;
}

// A good configuration text naming the server's .torrent, as given or
// padded with blanks in its last field to `size` bytes.
std::string ConfigText(HttpTestServer& s, std::size_t size = 0)
{
    std::string text = "7|http://home.example/|||" + s.Url("/t.torrent");
    if (text.size() < size)
        text += std::string(size - text.size(), ' ');
    return text;
}
Route GoodConfig()
{
    return [](HttpTestServer& s, const std::string& path) { s.Serve(path, ConfigText(s)); };
}
Route PaddedConfig(std::size_t size)
{
    return [size](HttpTestServer& s, const std::string& path) { s.Serve(path, ConfigText(s, size)); };
}
Route TruncatedConfig(bool chunked)
{
    return [chunked](HttpTestServer& s, const std::string& path) {
        s.CloseMidBody(path, ConfigText(s, 100000), 5000, chunked);
    };
}
Route StalledConfig(std::size_t sent)
{
    return [sent](HttpTestServer& s, const std::string& path) { s.Stall(path, ConfigText(s, 100000), sent); };
}
std::string PaddedTorrent(std::size_t size)
{
    std::string t = ValidTorrent();
    return t + std::string(size - t.size(), '\0');
}

constexpr std::size_t k10MB = 10u << 20;

std::vector<HostileCase> Cases()
{
    const std::string torrent = ValidTorrent();
    return {
        // The configuration text.
        {"ConfigPlainGarbage", Body("Service temporarily unavailable\r\n"), Body(torrent), 2, false},
        {"ConfigErrorPage", Html404(), Body(torrent), 2, false},
        {"ConfigBinary", Body(Binary(4096, true)), Body(torrent), 2, false},
        {"ConfigBinaryWithNul", Body(Binary(4096, false, 3)), Body(torrent), 2, false},
        {"ConfigExactly512000", PaddedConfig(512000), Body(torrent), 1, false},
        {"Config10MB", PaddedConfig(k10MB), Body(torrent), 1, false},
        {"ConfigTruncated", TruncatedConfig(false), Body(torrent), 1, false},
        {"ConfigTruncatedChunked", TruncatedConfig(true), Body(torrent), 1, false},
        {"ConfigStalledBeforeBody", StalledConfig(0), Body(torrent), 1, false},
        {"ConfigStalledMidBody", StalledConfig(1000), Body(torrent), 1, false},
        {"ConfigRedirectLoop", RedirectLoop(), Body(torrent), 1, false},
        // The .torrent.
        {"TorrentPlainGarbage", GoodConfig(), Body("not a torrent at all"), 5, true},
        {"TorrentErrorPage", GoodConfig(), Html404(), 5, true},
        {"TorrentBinary", GoodConfig(), Body(Binary(100000, false)), 5, true},
        {"TorrentBencodedNotATorrent", GoodConfig(), Body("d5:helloi1e4:listl1:a1:bee"), 5, true},
        {"TorrentCutShortButComplete", GoodConfig(), Body(torrent.substr(0, torrent.size() / 2)), 5, true},
        {"TorrentNestedTooDeep", GoodConfig(), Body(std::string(200000, 'l') + std::string(200000, 'e')), 5, true},
        {"TorrentEmpty", GoodConfig(), Body(""), 3, false},
        {"TorrentExactly512000", GoodConfig(), Body(PaddedTorrent(512000)), 3, false},
        {"Torrent10MB", GoodConfig(), Body(PaddedTorrent(k10MB)), 3, false},
        {"TorrentTruncated", GoodConfig(), Truncated(torrent, torrent.size() / 2, false), 3, false},
        {"TorrentStalled", GoodConfig(), Stalled(torrent, 100), 3, false},
        {"TorrentRedirectLoop", GoodConfig(), RedirectLoop(), 3, false},
    };
}

class HostileServer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileServer, EndsInItsNumberedMessageAndCloses)
{
    const HostileCase& c = GetParam();
    HttpTestServer server;
    c.config(server, kConfigPath);
    c.torrent(server, "/t.torrent");
    TempDir folder("corvane-hostile-dl");

    const Outcome out = RunDialog(server, QString::fromStdString(folder.Path()));

    EXPECT_FALSE(out.watchdogFired) << "the run did not end by itself";
    EXPECT_EQ(out.result, IDCANCEL) << "closed through CloseDownloader";
    EXPECT_EQ(out.messages, std::vector<QString>{Msg(c.message)});
    EXPECT_EQ(out.folderDialogs, c.folderAsked ? 1 : 0);
    EXPECT_FALSE(out.timersRan) << "no download may start";
    // A stalled reply ends after the stall time-out, not after minutes.
    EXPECT_LT(out.ms, 20000);
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileServer, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& i) { return i.param.name; });

// The window manager's close arriving while the notice box is up ends the
// run: the dialog does not go on into a download once the box is answered.
TEST(HostileServerClose, CloseWhileABoxIsUpEndsTheRun)
{
    HttpTestServer server;
    server.Serve(kConfigPath, "7|http://home.example/|A notice||" + server.Url("/t.torrent"));
    server.Serve("/t.torrent", ValidTorrent());
    TempDir folder("corvane-hostile-dl");
    bool closedWithBoxUp = false;

    const Outcome out = RunDialog(server, QString::fromStdString(folder.Path()), [&](HostileDlg& dlg) {
        closedWithBoxUp = true;
        dlg.GetSafeHwnd()->close();
    });

    EXPECT_TRUE(closedWithBoxUp);
    EXPECT_FALSE(out.watchdogFired) << "the run did not end";
    EXPECT_EQ(out.result, IDCANCEL);
    ASSERT_FALSE(out.messages.empty());
    EXPECT_EQ(out.messages.front(), QStringLiteral("A notice"));
    EXPECT_FALSE(out.timersRan) << "the download must not run after the close";
}

}  // namespace
