// The start routine's decisions, one row per configuration text or server
// behaviour: the prompts shown (in order), what is opened, what the engine
// is given, and that every run ends by itself.
#include "app/util/DownloadUrlToBuffer.h"
#include "tests/app/WindowRun.h"
#include "tests/support/QStringPrinter.h"

#include <gtest/gtest.h>

namespace {

using B = QMessageBox::StandardButton;
const QString kRetire =
    QStringLiteral("This program ca no longer be used. Please check the notice at our homepage. Go to homepage?");
const QString kUpdate = QStringLiteral("New version has been updated. Would you like to update now?");
const QString kFolder = QStringLiteral("[folder]");
const QString kHome = QStringLiteral("http://home.example/");

// How the server answers: the text as given, or broken in one way.
enum class Serve { Body, NotFound, Empty, Cut, Stall, Loop, Garbage };

struct Row
{
    const char* name;
    std::string config;  // "{T}": the .torrent's address
    Serve configHow, torrentHow;
    std::vector<B> answers;        // to the message boxes, in order
    std::vector<QString> prompts;  // seen, in order
    std::vector<QString> opened;
    bool added = false;            // the engine was given the torrent
    std::vector<std::string> seeds;
    int addFails = 0;
    bool folderChosen = true;
    bool closedAtFirstBox = false;  // by the window manager, while the box is up
};

void Apply(HttpTestServer& s, const std::string& path, Serve how, const std::string& body)
{
    switch (how) {
    case Serve::Body: return s.Serve(path, body);
    case Serve::NotFound: return s.Serve(path, "<html><body>404 Not Found</body></html>", 404, "text/html");
    case Serve::Empty: return s.Serve(path, "");
    case Serve::Cut: return s.CloseMidBody(path, body + std::string(100000, ' '), 5000);
    case Serve::Stall: return s.Stall(path, body, 10);
    case Serve::Loop: s.Redirect(path, path + "-a"); return s.Redirect(path + "-a", path);
    case Serve::Garbage: return s.Serve(path, "d5:helloi1e4:listl1:a1:bee");
    }
}

const std::string kOk = "7|h|||{T}";

std::vector<Row> Rows()
{
    const std::string home = "|" + kHome.toStdString();
    const auto S = Serve::Body;
    return {
        {"ConfigNotFoundIsOneField", kOk, Serve::NotFound, S, {}, {Msg(2)}, {}},
        {"ConfigEmpty", kOk, Serve::Empty, S, {}, {Msg(1)}, {}},
        {"Config512000Bytes", "-1|" + std::string(511997, 'x'), S, S, {}, {Msg(1)}, {}},
        {"Config511999BytesIsRead", "-1|" + std::string(511996, 'x'), S, S, {}, {kRetire}, {}},
        {"ConfigCutMidBody", kOk, Serve::Cut, S, {}, {Msg(1)}, {}},
        {"ConfigStalled", kOk, Serve::Stall, S, {}, {Msg(1)}, {}},
        {"ConfigRedirectLoop", kOk, Serve::Loop, S, {}, {Msg(1)}, {}},
        {"OneField", "7", S, S, {}, {Msg(2)}, {}},
        {"LeadingNul", std::string("\0" "7|h|||{T}", 10), S, S, {}, {Msg(2)}, {}},
        {"RetireYesOpensHomepage", "-1" + home, S, S, {B::Yes}, {kRetire}, {kHome}},
        {"RetireNoReadsNoFurther", "-1" + home + "|notice|http://p.example/|{T}", S, S, {B::No}, {kRetire}, {}},
        {"UpdateYesOpensHomepageOnly", "8" + home + "|notice|http://p.example/|{T}", S, S, {B::Yes}, {kUpdate}, {kHome}},
        {"CodeAsPrefixIsAnUpdate", "77" + home + "|||{T}", S, S, {}, {kUpdate}, {}},
        {"CodeWithBlankIsAnUpdate", "7 " + home + "|||{T}", S, S, {}, {kUpdate}, {}},
        {"RetireCodeWithBlankIsAnUpdate", "-1 " + home, S, S, {}, {kUpdate}, {}},
        {"HomepageNotAWebAddressNotOpened", "-1|file:///etc/passwd", S, S, {B::Yes}, {kRetire}, {}},
        {"NoticeThenPageThenFolder", "7|h|Notice|http://p.example/|{T}", S, S, {}, {"Notice", kFolder},
         {"http://p.example/"}, true},
        {"BlankNoticeIsShown", "7|h| ||{T}", S, S, {}, {" ", kFolder}, {}, true},
        {"NoTorrentField", "7|h", S, S, {}, {Msg(3)}, {}},
        {"TorrentNotFoundPage", kOk, S, Serve::NotFound, {}, {kFolder, Msg(5)}, {}},
        {"TorrentNotATorrent", kOk, S, Serve::Garbage, {}, {kFolder, Msg(5)}, {}},
        {"TorrentEmpty", kOk, S, Serve::Empty, {}, {Msg(3)}, {}},
        {"TorrentCutMidBody", kOk, S, Serve::Cut, {}, {Msg(3)}, {}},
        {"TorrentStalled", kOk, S, Serve::Stall, {}, {Msg(3)}, {}},
        {"TorrentRedirectLoop", kOk, S, Serve::Loop, {}, {Msg(3)}, {}},
        {"FolderCancelledClosesSilently", kOk, S, S, {}, {kFolder}, {}, false, {}, 0, false},
        {"EngineRefusesTheTorrent", kOk, S, S, {}, {kFolder, Msg(5)}, {}, false, {}, 1},
        {"EngineFailsOtherwise", kOk, S, S, {}, {kFolder, Msg(6)}, {}, false, {}, 2},
        {"FiveFieldsAndATrailingBarNoSeed", "7|h|||{T}|", S, S, {}, {kFolder}, {}, true},
        {"SeedOf12BytesIgnored", "7|h|||{T}|http://a.b/c", S, S, {}, {kFolder}, {}, true},
        {"ClosedWhileTheNoticeIsUp", "7|h|Notice||{T}", S, S, {}, {"Notice", kFolder}, {}, true, {}, 0, true, true},
        {"SeedOf13BytesTaken", "7|h|||{T}|http://a.b/cd|more", S, S, {}, {kFolder}, {}, true, {"http://a.b/cd"}},
    };
}

class StartTable : public ::testing::TestWithParam<Row> {};

TEST_P(StartTable, PromptsOpensAndEngine)
{
    const Row& r = GetParam();
    static bool hung = false;  // one run that hangs is enough to know
    if (hung)
        GTEST_SKIP() << "an earlier run did not end by itself";
    // A fetch ends after 4 s at most, even one whose stall check is broken
    // (the fetch's own table catches that): the run then still ends.
    const DownloadTimeouts before =
        SetDownloadTimeoutsForTesting({std::chrono::seconds(5), std::chrono::seconds(2), std::chrono::seconds(4)});
    WindowRun run(r.config);
    Apply(run.server, kConfigPath, r.configHow, run.config);
    Apply(run.server, "/t.torrent", r.torrentHow, WindowRun::kTorrent);
    run.fake->addFails = r.addFails;
    for (B b : r.answers)
        run.answerer.AnswerMessage(b);

    QTimer closer;
    closer.callOnTimeout([&] {
        if (QApplication::activeModalWidget()) {
            closer.stop();
            run.dlg->GetSafeHwnd()->close();
            run.answerer.Hold(false);
        }
    });
    if (r.closedAtFirstBox) {
        run.answerer.Hold(true);
        closer.start(20);
    }
    run.dlg->deadline = std::chrono::seconds(6);  // the longest run waits 2 s for a stalled reply
    const INT_PTR result = run.Run({}, r.folderChosen);
    SetDownloadTimeoutsForTesting(before);

    hung = run.dlg->watchdogFired;
    EXPECT_FALSE(hung) << "the run did not end by itself";
    EXPECT_EQ(result, r.added && !r.closedAtFirstBox ? IDOK : IDCANCEL);
    EXPECT_EQ(run.Prompts(), r.prompts);
    EXPECT_EQ(run.opened, r.opened);
    EXPECT_EQ(run.fake->savePath.has_value(), r.added);
    if (r.added) {
        EXPECT_EQ(*run.fake->savePath, run.folder.toStdString());
        EXPECT_EQ(run.Torrent().seeds, r.seeds);
        EXPECT_TRUE(run.fake->listening);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, StartTable, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& i) { return i.param.name; });

}  // namespace
