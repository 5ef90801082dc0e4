// One run of the main window as the program runs it: the real start routine
// against a loopback server, prompts answered by ModalAnswerer, nothing
// launched (what would be opened is recorded), and a scripted engine that
// records what it is given. A run ends by itself or by the harness's deadline.
#pragma once

#include "app/Configuration.h"
#include "app/util/ProcessLauncher.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"

#include <QDir>
#include <gtest/gtest.h>
#include <QTimer>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <utility>

// The engine's one torrent, scripted. After `callsLeft` more calls it is gone.
struct FakeTorrent final : engine::detail::torrent_backend
{
    std::int64_t size = 1000, done = 0;
    float rate = 0;
    int peers = 0, pauses = 0, resumes = 0;
    bool seeding = false, paused = false;
    mutable bool gone = false;
    mutable int callsLeft = -1;
    std::vector<std::string> seeds;

    void Enter() const
    {
        gone = gone || callsLeft == 0;
        callsLeft -= callsLeft > 0;
        if (gone) throw engine::invalid_handle();
    }
    bool valid() const override { try { Enter(); } catch (...) { return false; } return true; }
    engine::torrent_status status() const override { Enter(); return {done, done, rate, peers, seeding, paused}; }
    bool is_seed() const override { Enter(); return seeding; }
    bool is_paused() const override { Enter(); return paused; }
    void pause() override { Enter(); paused = true; ++pauses; }
    void resume() override { Enter(); paused = false; ++resumes; }
    std::int64_t total_size() const override { Enter(); return size; }
    std::string name() const override { Enter(); return "payload"; }
    void force_reannounce() override { Enter(); }
    int peer_count() const override { Enter(); return 0; }
    void add_url_seed(const std::string& url) override { Enter(); seeds.push_back(url); }
    void set_max_connections(int) override { Enter(); }
    void set_max_uploads(int) override { Enter(); }
    void set_upload_limit(int) override { Enter(); }
    void set_download_limit(int) override { Enter(); }
};

struct FakeSession final : engine::session
{
    std::shared_ptr<FakeTorrent> torrent = std::make_shared<FakeTorrent>();
    int addFails = 0;  // 1: a std::exception, 2: anything else
    std::optional<std::string> savePath;
    std::vector<engine::alert_kind> alerts;  // handed out by the next pop_alerts
    bool listening = false;

    void add_extension_ut_pex() override {}
    void set_settings(const engine::session_settings&) override {}
    void set_max_half_open_connections(int) override {}
    void set_max_connections(int) override {}
    void set_max_uploads(int) override {}
    void set_upload_rate_limit(int) override {}
    void set_download_rate_limit(int) override {}
    void set_alert_severity_info() override {}
    void start_lsd() override {}
    void start_upnp() override {}
    void start_natpmp() override {}
    void set_pe_settings(const engine::pe_settings&) override {}
    void listen_on(int, int) override { listening = true; }
    int listen_port() const override { return listening ? 6881 : 0; }
    engine::torrent_handle add_torrent(const engine::torrent_info&, const std::string& path) override
    {
        if (addFails) addFails == 1 ? throw std::runtime_error("refused") : throw 42;
        savePath = path;
        return engine::torrent_handle(torrent);
    }
    std::vector<engine::alert_kind> pop_alerts() override { return std::exchange(alerts, {}); }
};

class Window : public DrivenDialog<Window>
{
public:
    explicit Window(std::unique_ptr<engine::session> s) : DrivenDialog(std::move(s)) { deadline = std::chrono::seconds(15); }
    void OnTimer(UINT_PTR id) override
    {
        // Asked to end long ago and still running: nothing can end the run
        // any more, so the test ends here rather than wait for ever.
        if (id == kWatchdogTimer && IsEnding()) {
            ADD_FAILURE() << "the window was closed, yet its run goes on";
            std::_Exit(1);
        }
        DrivenDialog::OnTimer(id);
    }
};

inline const char kConfigPath[] = "/notarget/varcgi/dncgi.txt";
inline QString Msg(int n) { return QStringLiteral("Cannot connect to server. Please check your network. (%1)").arg(n); }

struct WindowRun
{
    HttpTestServer server;
    ModalAnswerer answerer;
    std::vector<QString> opened;  // each launch's argument; "[box up] " when a box was still open
    FakeSession* fake = nullptr;
    std::unique_ptr<Window> dlg;
    QString folder = QDir::tempPath();

    // The configuration text ("{T}" stands for the .torrent's address) and a
    // one-file .torrent.
    std::string config;
    static inline const std::string kTorrent =
        "d4:infod6:lengthi1000e4:name7:payload12:piece lengthi16384e6:pieces20:" + std::string(20, 'x') + "ee";

    explicit WindowRun(std::string text = "7|h|||{T}") : config(std::move(text))
    {
        if (const auto at = config.find("{T}"); at != std::string::npos)
            config.replace(at, 3, server.Url("/t.torrent"));
        server.Serve(kConfigPath, config);
        server.Serve("/t.torrent", kTorrent);
        auto session = std::make_unique<FakeSession>();
        fake = session.get();
        dlg = std::make_unique<Window>(std::move(session));
    }
    FakeTorrent& Torrent() { return *fake->torrent; }

    // Runs the window; `drive` acts once it is up, then the run ends unless
    // `drive` closed it already.
    INT_PTR Run(std::function<void(Window&)> drive = {}, bool chooseFolder = true)
    {
        SetConfigurationAddressForTesting(server.WideUrl(kConfigPath));
        SetLaunchHookForTesting([this](const QString&, const QStringList& args) {
            opened.push_back((QApplication::activeModalWidget() ? QStringLiteral("[box up] ") : QString()) + args.join(' '));
            return true;
        });
        if (chooseFolder)
            answerer.ChooseFolder(folder);
        else
            answerer.CancelFolder();
        // Ends the run once what `drive` set off (a close, say) has been handled.
        dlg->drive = [drive](Window& d) {
            if (drive)
                drive(d);
            QTimer::singleShot(0, d.GetSafeHwnd(), [&d] { if (!d.IsEnding()) d.EndDialog(IDOK); });
        };
        const INT_PTR result = dlg->Run();
        SetLaunchHookForTesting({});
        SetConfigurationAddressForTesting({});
        return result;
    }
    // The message boxes' texts and the folder picker ("[folder]"), in order.
    std::vector<QString> Prompts() const
    {
        std::vector<QString> out;
        for (const auto& s : answerer.SeenPrompts())
            out.push_back(s.kind == ModalAnswerer::Kind::FolderDialog ? QStringLiteral("[folder]") : s.text);
        return out;
    }
};
