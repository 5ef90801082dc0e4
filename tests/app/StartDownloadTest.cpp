// The start routine through the real dialog class: configuration texts and
// .torrent files from a loopback HTTP server, boxes and the folder picker
// answered by ModalAnswerer, what would be opened recorded by the launch
// hook, and the engine a scripted fake that records the set-up.
#include "app/Configuration.h"
#include "app/CorvaneDlg.h"
#include "app/util/ProcessLauncher.h"
#include "engine/fake_session.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

const char kConfigPath[] = "/notarget/varcgi/dncgi.txt";

QString Msg(int n)
{
    return QStringLiteral("Cannot connect to server. Please check your network. (%1)").arg(n);
}
const QString kRetire = QStringLiteral(
    "This program ca no longer be used. Please check the notice at our homepage. Go to homepage?");
const QString kUpdate = QStringLiteral("New version has been updated. Would you like to update now?");

// The real dialog on a fake engine. A successful start ends the run once both
// timers have fired; a watchdog ends a run that would otherwise wait.
class StartDlg : public DrivenDialog<StartDlg>
{
public:
    explicit StartDlg(std::unique_ptr<engine::session> s) : DrivenDialog(std::move(s)) {}
    std::vector<UINT_PTR> timersFired;

protected:
    void OnProgramTimer(UINT_PTR id) override
    {
        timersFired.push_back(id);
        CCorvaneDlg::OnTimer(id);
        const auto fired = [&](UINT_PTR t) {
            return std::find(timersFired.begin(), timersFired.end(), t) != timersFired.end();
        };
        if (fired(kRefreshTimer) && fired(kReannounceTimer))
            EndDialog(IDOK);
    }
};

struct Launch
{
    QString program;
    QStringList args;
    std::size_t promptsAnsweredBefore = 0;
    bool modalOpen = false;
};

// A small .torrent (three files, one empty) shared by the tests.
const Payload& SmallTorrent()
{
    static TempDir dir("corvane-start");
    static const Payload p = MakePayload(dir.Path(), "pack", {40000, 0, 12345}, {});
    return p;
}

// One run of the dialog against the server.
struct StartRun
{
    HttpTestServer server;
    ModalAnswerer answerer;
    std::vector<Launch> launches;
    engine::fake_session* fake = nullptr;
    std::unique_ptr<StartDlg> dlg;
    INT_PTR result = 0;
    std::u16string address;  // of the configuration text; the server's when empty

    StartRun() { server.Serve("/t.torrent", SmallTorrent().torrent); }
    std::string TorrentUrl() const { return server.Url("/t.torrent"); }

    void Run(engine::fake_session::failure addFails = engine::fake_session::failure::none)
    {
        auto session = std::make_unique<engine::fake_session>();
        session->add_torrent_fails = addFails;
        fake = session.get();
        Run(std::move(session));
    }
    // With an engine of the test's own, around `fake`.
    void Run(std::unique_ptr<engine::session> session)
    {
        SetConfigurationAddressForTesting(address.empty() ? server.WideUrl(kConfigPath) : address);
        SetLaunchHookForTesting([this](const QString& program, const QStringList& args) {
            launches.push_back({program, args, answerer.SeenPrompts().size(),
                                QApplication::activeModalWidget() != nullptr});
            return true;
        });
        dlg = std::make_unique<StartDlg>(std::move(session));
        result = dlg->Run();
        SetLaunchHookForTesting({});
        SetConfigurationAddressForTesting({});
    }

    // What was opened (the one argument of each launch).
    std::vector<QString> Opened() const
    {
        std::vector<QString> out;
        for (const Launch& l : launches)
            out.push_back(l.args.join(QStringLiteral(" ")));
        return out;
    }
    // The prompts seen, as "text -> answer".
    std::vector<QString> Prompts() const
    {
        std::vector<QString> out;
        for (const auto& s : answerer.SeenPrompts())
            out.push_back(s.kind == ModalAnswerer::Kind::FolderDialog ? QStringLiteral("[folder] -> ") + s.answer
                                                                      : s.text + QStringLiteral(" -> ") + s.answer);
        return out;
    }
    bool AddedTorrent() const
    {
        return std::find(fake->calls.begin(), fake->calls.end(), "add_torrent") != fake->calls.end();
    }
};

QString Arrow(const QString& text, const char* answer)
{
    return text + QStringLiteral(" -> ") + QString::fromLatin1(answer);
}

// ---- Runs that end before the engine is touched ----

struct EndingCase
{
    const char* name;
    // The configuration body; "{T}" stands for the .torrent's address, "{S}"
    // for the server's. Not
    // served at all when `serve` is false.
    std::string config;
    bool serve = true;
    std::vector<QMessageBox::StandardButton> answers;  // to the boxes, in order
    std::vector<QString> prompts;                       // expected "text -> answer"
    std::vector<QString> opened;
    bool cancelFolder = false;
};

std::string Replace(std::string s, const std::string& what, const std::string& with)
{
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
    return s;
}

class StartDownloadEnds : public ::testing::TestWithParam<EndingCase> {};

TEST_P(StartDownloadEnds, ShowsItsMessageOpensOnlyWhatItShouldAndCloses)
{
    const EndingCase& c = GetParam();
    StartRun run;
    if (c.serve)
        run.server.Serve(kConfigPath, Replace(Replace(c.config, "{T}", run.TorrentUrl()), "{S}", run.server.Url("")));
    run.server.Serve("/empty.torrent", "");
    for (auto a : c.answers)
        run.answerer.AnswerMessage(a);
    if (c.cancelFolder)
        run.answerer.CancelFolder();
    run.Run();

    EXPECT_EQ(run.result, IDCANCEL) << "closed through CloseDownloader";
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_EQ(run.Prompts(), c.prompts);
    EXPECT_EQ(run.Opened(), c.opened);
    EXPECT_TRUE(run.fake->calls.empty()) << "the engine is not set up";
    EXPECT_TRUE(run.dlg->timersFired.empty());
    for (const auto& seen : run.answerer.SeenPrompts()) {
        if (seen.kind != ModalAnswerer::Kind::MessageBox)
            continue;
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon) << seen.text.toStdString();
        EXPECT_EQ(seen.caption, AfxGetAppName()) << seen.text.toStdString();
    }
}

std::vector<EndingCase> EndingCases()
{
    const QString home = QStringLiteral("http://home.example/");
    const std::string pad511 = std::string(511999 - 3, 'x');
    const std::string pad512 = std::string(512000 - 3, 'x');
    const std::string long2048 = "http://h.example/" + std::string(2048 - 17, 'a');
    const std::string long2047 = "http://h.example/" + std::string(2047 - 17, 'a');
    using B = QMessageBox::StandardButton;
    std::vector<EndingCase> v = {
        {"NotServedTheErrorPageIsOneField", "", false, {}, {Arrow(Msg(2), "Ok")}, {}},
        {"EmptyBody", "", true, {}, {Arrow(Msg(1), "Ok")}, {}},
        {"BodyOf512000Bytes", "-1|" + pad512, true, {}, {Arrow(Msg(1), "Ok")}, {}},
        {"OneField", "7", true, {}, {Arrow(Msg(2), "Ok")}, {}},
        {"LeadingNulByte", std::string("\0" "7|h|||{T}", 10), true, {}, {Arrow(Msg(2), "Ok")}, {}},
        {"RetireYesOpensHomepage", "-1|http://home.example/", true, {B::Yes}, {Arrow(kRetire, "Yes")}, {home}},
        {"RetireNoOpensNothing", "-1|http://home.example/|notice|http://p.example/|{T}", true, {B::No},
         {Arrow(kRetire, "No")}, {}},
        {"BodyOf511999BytesIsRead", "-1|" + pad511, true, {B::Yes}, {Arrow(kRetire, "Yes")}, {}},
        {"OtherCodeUpdateYesReadsNothingAfterField1", "8|http://home.example/|notice|http://p.example/|{T}", true,
         {B::Yes}, {Arrow(kUpdate, "Yes")}, {home}},
        {"UpdateNo", "6|http://home.example/", true, {B::No}, {Arrow(kUpdate, "No")}, {}},
        {"ByteOrderMarkBeforeCode", "\xEF\xBB\xBF" "7|h|||{T}", true, {}, {Arrow(kUpdate, "No")}, {}},
        {"BlankBeforeCode", " 7|h|||{T}", true, {}, {Arrow(kUpdate, "No")}, {}},
        {"BlankAfterCode", "7 |h|||{T}", true, {}, {Arrow(kUpdate, "No")}, {}},
        {"LineEndAfterCode", "7\r\n|h|||{T}", true, {}, {Arrow(kUpdate, "No")}, {}},
        {"LeadingZero", "07|h|||{T}", true, {}, {Arrow(kUpdate, "No")}, {}},
        {"RetireCodeWithBlankIsUpdate", "-1 |http://home.example/", true, {B::Yes}, {Arrow(kUpdate, "Yes")},
         {home}},
        {"TwoFieldsNoTorrent", "7|h", true, {}, {Arrow(Msg(3), "Ok")}, {}},
        {"ThreeFieldsNoticeThenNoTorrent", "7|h|Notice", true, {}, {Arrow("Notice", "Ok"), Arrow(Msg(3), "Ok")}, {}},
        {"EmptyField4", "7|h||||", true, {}, {Arrow(Msg(3), "Ok")}, {}},
        {"TorrentEmptyBody", "7|h|||{S}/empty.torrent", true, {}, {Arrow(Msg(3), "Ok")}, {}},
        {"TorrentServerDown", "7|h|||http://127.0.0.1:1/t.torrent", true, {}, {Arrow(Msg(3), "Ok")}, {}},
        {"CancelledPickerClosesWithoutMessage", "7|h|||{T}", true, {}, {QStringLiteral("[folder] -> rejected")},
         {}, true},
        // Fields 1 and 3 reach the desktop's opener only as web addresses.
        {"HomepageLocalPathNotOpened", "-1|/etc/passwd", true, {B::Yes}, {Arrow(kRetire, "Yes")}, {}},
        {"HomepageFileSchemeNotOpened", "8|file:///etc/passwd", true, {B::Yes}, {Arrow(kUpdate, "Yes")}, {}},
        {"HomepageOtherSchemeNotOpened", "8|javascript:alert(1)", true, {B::Yes}, {Arrow(kUpdate, "Yes")}, {}},
        {"HomepageSchemeInCapitals", "8|HTTPS://HOME.EXAMPLE/", true, {B::Yes}, {Arrow(kUpdate, "Yes")},
         {QStringLiteral("HTTPS://HOME.EXAMPLE/")}},
        {"Homepage2048CharsNotOpened", "8|" + long2048, true, {B::Yes}, {Arrow(kUpdate, "Yes")}, {}},
        {"Homepage2047CharsOpened", "8|" + long2047, true, {B::Yes}, {Arrow(kUpdate, "Yes")},
         {QString::fromStdString(long2047)}},
        {"UnsafePageNotOpenedRunGoesOn", "7|h||/usr/bin|{T}", true, {}, {QStringLiteral("[folder] -> rejected")},
         {}, true},
    };
    return v;
}

INSTANTIATE_TEST_SUITE_P(Table, StartDownloadEnds, ::testing::ValuesIn(EndingCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The decision alone ----

TEST(Configuration, WidensFieldsAsUtf8KeepingEveryByte)
{
    const ConfigurationDecision d =
        DecideConfiguration("7|http://home.example/|\xEF\xBB\xBF\xEA\xB3\xB5\xEC\xA7\x80 \t|"
                            "https://page.example/\xC3\xBC|http://t.example/a b|seed\xFF|x");
    EXPECT_EQ(d.action, ConfigurationDecision::Action::Proceed);
    EXPECT_EQ(d.notice, QStringView(u"\uFEFF\uACF5\uC9C0 \t").toString()) << "a byte-order mark is text";
    EXPECT_EQ(d.pageToOpen, QStringView(u"https://page.example/\u00FC").toString());
    EXPECT_EQ(d.torrentAddress, QStringLiteral("http://t.example/a b"));
    EXPECT_EQ(d.webSeed, "seed\xFF") << "field 5 byte for byte";
    EXPECT_TRUE(d.homepageToOpen.isEmpty()) << "field 1 only matters to the questions";

    const ConfigurationDecision cut = DecideConfiguration(std::string_view("-1|http://h.example/\0|x", 24));
    EXPECT_EQ(cut.action, ConfigurationDecision::Action::Retire);
    EXPECT_EQ(cut.homepageToOpen, QStringLiteral("http://h.example/")) << "the text ends at its first NUL";
    EXPECT_EQ(DecideConfiguration("").action, ConfigurationDecision::Action::TooFewFields);
    EXPECT_EQ(DecideConfiguration("|").action, ConfigurationDecision::Action::TooFewFields);
}

TEST(Configuration, BuiltInAddressIsPlainHttpToTheConfiguredHost)
{
    SetConfigurationAddressForTesting({});
    EXPECT_EQ(QString::fromStdU16String(ConfigurationAddress()),
              QStringLiteral("http://" CORVANE_CONFIG_HOST "/notarget/varcgi/dncgi.txt"));
}

// ---- Runs that reach the engine ----

TEST(StartDownload, SetsUpTheEngineInOrderAndStartsBothTimers)
{
    StartRun run;
    TempDir base("corvane-start-folder");
    const QString folder = QString::fromStdString(base.Path()) + QString::fromUtf8("/내려받기 é");
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::string seed = "http://seed.example/files/";
    run.server.Serve(kConfigPath, "7|http://home.example/|||" + run.TorrentUrl() + "|" + seed);
    run.answerer.ChooseFolder(folder);
    run.Run();

    EXPECT_EQ(run.result, IDOK) << "both timers fired";
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_EQ(run.Prompts(), std::vector<QString>{QStringLiteral("[folder] -> ") + folder});
    ASSERT_EQ(run.answerer.SeenPrompts().size(), 1u);
    EXPECT_EQ(run.answerer.SeenPrompts()[0].caption,
              QStringLiteral("Select the directory you would like to save the file to"));
    EXPECT_TRUE(run.Opened().empty()) << "field 1 is read only for the questions";
    const std::vector<std::string> order = {
        "add_extension_ut_pex", "set_max_half_open_connections", "set_max_connections", "set_max_uploads",
        "set_upload_rate_limit", "set_download_rate_limit", "set_settings", "set_alert_severity_info",
        "start_lsd", "start_upnp", "start_natpmp", "set_pe_settings", "listen_on", "add_torrent"};
    std::vector<std::string> sessionCalls = run.fake->calls;
    sessionCalls.erase(std::remove(sessionCalls.begin(), sessionCalls.end(), "pop_alerts"), sessionCalls.end());
    EXPECT_EQ(sessionCalls, order);

    ASSERT_TRUE(run.fake->settings);
    const engine::session_settings& s = *run.fake->settings;
    EXPECT_EQ(s.user_agent, "TrxTorrent/0.7.0.0");
    EXPECT_EQ(s.num_want, 100);
    EXPECT_TRUE(s.ignore_limits_on_local_network);
    EXPECT_TRUE(s.allow_multiple_connections_per_ip);
    EXPECT_EQ(s.handshake_timeout, 20);
    EXPECT_EQ(s.initial_picker_threshold, 200);
    EXPECT_EQ(s.allowed_fast_set_size, 30);
    EXPECT_EQ(s.connection_speed, 8);
    EXPECT_EQ(s.peer_connect_timeout, 10);
    EXPECT_EQ(s.min_reconnect_time, 1);
    EXPECT_EQ(s.max_failcount, 2);
    EXPECT_EQ(run.fake->half_open, -1) << "version class 0: no half-open limit";
    EXPECT_EQ(run.fake->max_connections, 500);
    EXPECT_EQ(run.fake->max_uploads, 50);
    EXPECT_EQ(run.fake->upload_rate_limit, 0);
    EXPECT_EQ(run.fake->download_rate_limit, 0);
    EXPECT_TRUE(run.fake->ut_pex && run.fake->severity_info && run.fake->lsd && run.fake->upnp &&
                run.fake->natpmp);
    ASSERT_TRUE(run.fake->pe);
    EXPECT_EQ(run.fake->pe->out_enc_policy, engine::pe_settings::enabled);
    EXPECT_EQ(run.fake->pe->in_enc_policy, engine::pe_settings::enabled);
    EXPECT_EQ(run.fake->pe->allowed_enc_level, engine::pe_settings::both);
    EXPECT_FALSE(run.fake->pe->prefer_rc4);
    EXPECT_EQ(run.fake->listen_range, std::make_pair(6881, 6889));

    EXPECT_EQ(run.fake->save_path, folder.toStdString()) << "the folder as exact UTF-8";
    ASSERT_TRUE(run.fake->added);
    EXPECT_EQ(run.fake->added->info_hash_hex(), SmallTorrent().infoHashHex);

    const engine::fake_torrent& t = *run.fake->torrent;
    EXPECT_EQ(t.max_connections, 500);
    EXPECT_EQ(t.max_uploads, 50);
    EXPECT_EQ(t.upload_limit, 0);
    EXPECT_EQ(t.download_limit, 0);
    EXPECT_EQ(t.url_seeds, std::vector<std::string>{seed});
    const std::vector<std::string> firstTorrentCalls = {"set_max_connections", "set_max_uploads",
                                                        "set_upload_limit",    "set_download_limit",
                                                        "add_url_seed",        "status",
                                                        "total_size",          "name"};
    ASSERT_GE(t.calls.size(), firstTorrentCalls.size());
    EXPECT_EQ(std::vector<std::string>(t.calls.begin(), t.calls.begin() + firstTorrentCalls.size()),
              firstTorrentCalls);

    EXPECT_EQ(QStringView(run.dlg->m_saveFolder).toString(), folder);
    EXPECT_TRUE(run.dlg->m_self == run.dlg.get());
    EXPECT_EQ(run.dlg->timersFired.front(), CCorvaneDlg::kRefreshTimer) << "107 (500 ms) fires before 108 (1 s)";
}

struct SeedCase
{
    const char* name;
    std::string tail;  // what follows field 4
    std::vector<std::string> seeds;
};

class StartDownloadWebSeed : public ::testing::TestWithParam<SeedCase> {};

TEST_P(StartDownloadWebSeed, TakesField5UnchangedWhenLongerThan12Bytes)
{
    StartRun run;
    TempDir folder("corvane-start-seed");
    run.server.Serve(kConfigPath, "7|h|||" + run.TorrentUrl() + GetParam().tail);
    run.answerer.ChooseFolder(QString::fromStdString(folder.Path()));
    run.Run();
    ASSERT_EQ(run.result, IDOK);
    EXPECT_TRUE(run.AddedTorrent());
    EXPECT_EQ(run.fake->torrent->url_seeds, GetParam().seeds);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartDownloadWebSeed,
    ::testing::Values(SeedCase{"FiveFields", "", {}},
                      SeedCase{"FiveFieldsOneTrailingSeparator", "|", {}},
                      SeedCase{"FiveFieldsTwoTrailingSeparators", "||", {}},
                      SeedCase{"Exactly12Bytes", "|http://a.b/c", {}},
                      SeedCase{"Exactly13Bytes", "|http://a.b/cd", {"http://a.b/cd"}},
                      SeedCase{"LineEndKept", "|http://seed.example/\r\n", {"http://seed.example/\r\n"}},
                      SeedCase{"SevenFieldsFieldsAfter5Ignored", "|http://seed.example/|x|y|http://z.example/",
                               {"http://seed.example/"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartDownload, NoticeBoxIsClosedBeforeThePageOpens)
{
    StartRun run;
    TempDir folder("corvane-start-notice");
    run.server.Serve(kConfigPath, "7|http://home.example/|Maintenance tonight|http://page.example/news|" +
                                      run.TorrentUrl());
    run.answerer.ChooseFolder(QString::fromStdString(folder.Path()));
    run.Run();
    ASSERT_EQ(run.result, IDOK);
    ASSERT_EQ(run.launches.size(), 1u);
    EXPECT_EQ(run.Opened(), std::vector<QString>{QStringLiteral("http://page.example/news")});
    EXPECT_EQ(run.launches[0].promptsAnsweredBefore, 1u);
    EXPECT_FALSE(run.launches[0].modalOpen) << "the notice box is gone when the page opens";
    ASSERT_FALSE(run.Prompts().empty());
    EXPECT_EQ(run.Prompts().front(), Arrow(QStringLiteral("Maintenance tonight"), "Ok"));
}

TEST(StartDownload, ConfigurationServerDownGivesMessageOne)
{
    StartRun run;
    const int port = FreePort();  // nothing listens there
    run.address = QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(kConfigPath)).toStdU16String();
    run.Run();
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(run.Prompts(), std::vector<QString>{Arrow(Msg(1), "Ok")});
    EXPECT_TRUE(run.fake->calls.empty());
}

TEST(StartDownload, LineEndAfterField4StaysInTheTorrentAddress)
{
    StartRun run;
    TempDir folder("corvane-start-crlf");
    run.server.Serve(kConfigPath, "7|h|||" + run.TorrentUrl() + "\r\n");
    run.answerer.ChooseFolder(QString::fromStdString(folder.Path()));
    run.Run();
    EXPECT_EQ(run.server.RequestCount("/t.torrent%0D%0A"), 1);
    EXPECT_EQ(run.server.RequestCount("/t.torrent"), 0);
    // That address is not found: the error page is not a torrent.
    ASSERT_FALSE(run.Prompts().empty());
    EXPECT_EQ(run.Prompts().back(), Arrow(Msg(5), "Ok"));
}

TEST(StartDownload, NoticeOfOneBlankIsShown)
{
    StartRun run;
    run.server.Serve(kConfigPath, "7|h| ||" + run.TorrentUrl());
    run.answerer.CancelFolder();
    run.Run();
    EXPECT_EQ(run.Prompts(), (std::vector<QString>{Arrow(QStringLiteral(" "), "Ok"),
                                                   QStringLiteral("[folder] -> rejected")}));
}

TEST(StartDownload, BufferHoldsOnlyTheTorrentAfterALongerConfiguration)
{
    StartRun run;
    TempDir folder("corvane-start-buffer");
    const std::string& torrent = SmallTorrent().torrent;
    // Fields after 5 are ignored but make the text far longer than the .torrent.
    const std::string config = "7|h|||" + run.TorrentUrl() + "||" + std::string(torrent.size() * 4, 'Z');
    run.server.Serve(kConfigPath, config);
    run.answerer.ChooseFolder(QString::fromStdString(folder.Path()));
    run.Run();
    ASSERT_EQ(run.result, IDOK);
    const char* buffer = run.dlg->m_buffer;
    EXPECT_EQ(std::string(buffer, torrent.size()), torrent);
    EXPECT_TRUE(std::all_of(buffer + torrent.size(), buffer + config.size() + 1, [](char c) { return c == 0; }))
        << "nothing of the configuration text is left behind the .torrent";
}

struct SetupFailureCase
{
    const char* name;
    std::string torrentBody;  // empty: the valid small torrent; "half": its first half
    engine::fake_session::failure addFails;
    int message;
};

class StartDownloadSetupFails : public ::testing::TestWithParam<SetupFailureCase> {};

TEST_P(StartDownloadSetupFails, ShowsFiveOrSixAndClosesWithoutTimers)
{
    const SetupFailureCase& c = GetParam();
    StartRun run;
    TempDir folder("corvane-start-fail");
    if (c.torrentBody == "half")
        run.server.Serve("/t.torrent", SmallTorrent().torrent.substr(0, SmallTorrent().torrent.size() / 2));
    else if (!c.torrentBody.empty())
        run.server.Serve("/t.torrent", c.torrentBody, 200, "text/html");
    run.server.Serve(kConfigPath, "7|h|||" + run.TorrentUrl() + "|http://seed.example/long-enough");
    run.answerer.ChooseFolder(QString::fromStdString(folder.Path()));
    run.Run(c.addFails);
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_FALSE(run.dlg->watchdogFired);
    EXPECT_EQ(run.Prompts(), (std::vector<QString>{QStringLiteral("[folder] -> ") +
                                                       QString::fromStdString(folder.Path()),
                                                   Arrow(Msg(c.message), "Ok")}));
    EXPECT_TRUE(run.dlg->timersFired.empty()) << "no timer exists after a failed set-up";
    EXPECT_TRUE(run.fake->listen_range) << "the session was set up and listening before the failure";
    EXPECT_TRUE(run.fake->torrent->url_seeds.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartDownloadSetupFails,
    ::testing::Values(
        SetupFailureCase{"HtmlInsteadOfTorrent", "<html><body>502 Bad Gateway</body></html>",
                         engine::fake_session::failure::none, 5},
        SetupFailureCase{"BencodedButNotATorrent", "d3:fooi42e3:bar4:spame", engine::fake_session::failure::none,
                         5},
        SetupFailureCase{"TruncatedTorrent", "half", engine::fake_session::failure::none, 5},
        SetupFailureCase{"AddFailsWithStdException", "", engine::fake_session::failure::std_exception, 5},
        SetupFailureCase{"AddFailsWithOtherException", "", engine::fake_session::failure::other_exception, 6}),
    [](const auto& info) { return std::string(info.param.name); });

// The fake engine, except that adding the torrent runs out of memory.
class OutOfMemorySession final : public engine::session
{
public:
    engine::fake_session inner;
    void add_extension_ut_pex() override { inner.add_extension_ut_pex(); }
    void set_settings(const engine::session_settings& s) override { inner.set_settings(s); }
    void set_max_half_open_connections(int n) override { inner.set_max_half_open_connections(n); }
    void set_max_connections(int n) override { inner.set_max_connections(n); }
    void set_max_uploads(int n) override { inner.set_max_uploads(n); }
    void set_upload_rate_limit(int v) override { inner.set_upload_rate_limit(v); }
    void set_download_rate_limit(int v) override { inner.set_download_rate_limit(v); }
    void set_alert_severity_info() override { inner.set_alert_severity_info(); }
    void start_lsd() override { inner.start_lsd(); }
    void start_upnp() override { inner.start_upnp(); }
    void start_natpmp() override { inner.start_natpmp(); }
    void set_pe_settings(const engine::pe_settings& s) override { inner.set_pe_settings(s); }
    void listen_on(int first, int last) override { inner.listen_on(first, last); }
    engine::torrent_handle add_torrent(const engine::torrent_info&, const std::string&) override
    {
        throw std::bad_alloc();
    }
    std::vector<engine::alert_kind> pop_alerts() override { return inner.pop_alerts(); }
    int listen_port() const override { return inner.listen_port(); }
};

TEST(StartDownload, RunningOutOfMemoryInTheSetUpGivesMessageSix)
{
    StartRun run;
    TempDir folder("corvane-start-oom");
    run.server.Serve(kConfigPath, "7|h|||" + run.TorrentUrl());
    run.answerer.ChooseFolder(QString::fromStdString(folder.Path()));
    auto session = std::make_unique<OutOfMemorySession>();
    run.fake = &session->inner;
    run.Run(std::move(session));
    EXPECT_EQ(run.result, IDCANCEL);
    ASSERT_FALSE(run.Prompts().empty());
    EXPECT_EQ(run.Prompts().back(), Arrow(Msg(6), "Ok")) << "memory, not the engine, failed";
    EXPECT_TRUE(run.dlg->timersFired.empty());
}

}  // namespace
