// The skinned window's controls on the real dialog (fake engine, offscreen):
// places, visibility, texts, colours and fonts of the statics, the bar's fill
// inside the window, and the button faces. Also writes a screenshot of the
// whole window to artifacts/window.png.
#include "tests/app/DisplayHarness.h"

#include <QDir>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using display_test::DisplayHarness;

// Text pixels are the text colour blended over the dark background by
// anti-aliasing: judge them by hue and brightness, not exact values.
bool Gold(QRgb p)
{
    return qRed(p) >= 200 && qGreen(p) >= 140 && qGreen(p) <= 215 && qBlue(p) <= 80;
}

bool White(QRgb p)
{
    return qRed(p) >= 190 && qGreen(p) >= 190 && qBlue(p) >= 190 &&
           std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)}) <= 16;
}

QImage Bitmap(UINT id)
{
    CBitmap b;
    b.LoadBitmap(id);
    return b.Image().convertToFormat(QImage::Format_RGB32);
}

QRect Rect(const RECT& r)
{
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

// Pixels of `shot` in `area` (clipped to the window) that differ from the
// background bitmap.
std::vector<QPoint> Changed(const QImage& shot, const QRect& area)
{
    static const QImage background = Bitmap(171);
    std::vector<QPoint> points;
    const QRect r = area & shot.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (shot.pixel(x, y) != background.pixel(x, y))
                points.emplace_back(x, y);
    return points;
}

int CountColour(const QImage& shot, const std::vector<QPoint>& points, bool (*colour)(QRgb))
{
    return int(std::count_if(points.begin(), points.end(), [&](QPoint p) { return colour(shot.pixel(p)); }));
}

void RunWindow(const std::function<void(DisplayHarness&)>& check, const std::function<void(DisplayHarness&)>& setup = {})
{
    auto dlg = DisplayHarness::Make();
    if (setup)
        setup(*dlg);
    bool ran = false;
    dlg->drive = [&](DisplayHarness& d) {
        check(d);
        ran = true;
    };
    EXPECT_EQ(dlg->Run(), IDOK);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(dlg->watchdogFired);
}

TEST(SkinnedControls, CreatedAtTheirPlacesWithIdsTextsStylesAndVisibility)
{
    bool hiddenDuringFirstDisplay = false;
    int barBeforeFirstDisplay = -1;
    RunWindow(
        [](DisplayHarness& d) {
            struct Case { CWnd* wnd; int id; RECT rect; bool visible; const char* text; DWORD style; };
            const Case cases[] = {
                {&d.m_btnPauseResume, 100, {109, 292, 201, 323}, true, "Pause/Resume", BS_OWNERDRAW},
                {&d.m_btnShowFolder, 101, {203, 292, 366, 323}, true, "ShowContainingFolder", BS_OWNERDRAW},
                {&d.m_btnMinimize, 102, {570, 7, 585, 21}, true, "Minimize", BS_OWNERDRAW},
                {&d.m_btnClose, 103, {587, 7, 602, 21}, true, "Close", BS_OWNERDRAW},
                {&d.m_btnQuestion, 106, {553, 7, 568, 21}, true, "Question", BS_OWNERDRAW},
                {&d.m_progress, 100, {41, 232, 427, 245}, true, nullptr, 0},
                {&d.m_lblPath, 104, {50, 148, 500, 166}, true, "File path", SS_LEFT},
                {&d.m_lblSize, 104, {50, 166, 500, 184}, true, "File size", SS_LEFT},
                {&d.m_lblRate, 104, {50, 184, 500, 202}, true, "Down rate", SS_LEFT},
                {&d.m_lblPeers, 104, {50, 202, 500, 220}, true, "Peer", SS_LEFT},
                {&d.m_txtPercentSuffix, 105, {205, 262, 500, 520}, true, "/100%", SS_LEFT},
                {&d.m_txtPath, 105, {115, 148, 415, 166}, true, nullptr, SS_ENDELLIPSIS},
                {&d.m_txtSize, 105, {115, 166, 415, 184}, true, nullptr, SS_ENDELLIPSIS},
                {&d.m_txtRate, 105, {115, 184, 415, 202}, true, nullptr, SS_ENDELLIPSIS},
                {&d.m_txtPeers, 105, {80, 202, 400, 220}, true, nullptr, SS_ENDELLIPSIS},
                {&d.m_txtPercent, 104, {178, 262, 204, 520}, true, nullptr, SS_RIGHT},
                {&d.m_txtCaption, 108, {30, 30, 300, 80}, true, "Corvane", SS_LEFT},
            };
            for (const Case& c : cases) {
                SCOPED_TRACE(c.text ? c.text : "value");
                QWidget* w = c.wnd->GetSafeHwnd();
                ASSERT_NE(w, nullptr);
                EXPECT_EQ(w->parentWidget(), d.GetSafeHwnd());
                EXPECT_EQ(c.wnd->GetDlgCtrlID(), c.id);
                EXPECT_EQ(w->geometry(), Rect(c.rect));
                EXPECT_EQ(c.wnd->IsWindowVisible(), c.visible);
                EXPECT_EQ(c.wnd->GetStyle() & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
                EXPECT_EQ(c.wnd->GetStyle() & c.style, c.style);
                if (c.text) {
                    EXPECT_EQ(c.wnd->GetWindowText(), QString::fromLatin1(c.text));
                }
            }
            for (CBitmapButton* b : {&d.m_btnPauseResume, &d.m_btnShowFolder, &d.m_btnMinimize, &d.m_btnClose,
                                     &d.m_btnQuestion})
                EXPECT_EQ(b->GetStyle() & WS_TABSTOP, 0u) << "buttons are reached by mouse only";
        },
        [&](DisplayHarness& d) {
            d.firstDisplay = [&](DisplayHarness& h) {
                hiddenDuringFirstDisplay = true;
                for (CWnd* w : std::initializer_list<CWnd*>{&h.m_progress, &h.m_txtPercentSuffix, &h.m_txtPath,
                                                            &h.m_txtSize, &h.m_txtRate, &h.m_txtPeers,
                                                            &h.m_txtPercent})
                    hiddenDuringFirstDisplay = hiddenDuringFirstDisplay && !w->IsWindowVisible();
                for (CWnd* w : std::initializer_list<CWnd*>{&h.m_btnPauseResume, &h.m_lblPath, &h.m_txtCaption})
                    hiddenDuringFirstDisplay = hiddenDuringFirstDisplay && w->IsWindowVisible();
                barBeforeFirstDisplay = h.m_progress.GetPos();
                DisplayHarness::StandardFirstDisplay(h, *h.torrent);
            };
        });
    EXPECT_TRUE(hiddenDuringFirstDisplay) << "values and bar hidden, buttons and labels shown";
    EXPECT_EQ(barBeforeFirstDisplay, 50);
}

TEST(SkinnedControls, FontsAreMadeOnceAndChosenByIdWithTheirColours)
{
    RunWindow([](DisplayHarness& d) {
        struct Case { CWnd* wnd; CFont* font; COLORREF colour; };
        const Case cases[] = {
            {&d.m_lblPath, &d.m_fontLabel, RGB(255, 204, 0)},   {&d.m_txtPercent, &d.m_fontLabel, RGB(255, 204, 0)},
            {&d.m_txtSize, &d.m_fontValue, RGB(255, 255, 255)}, {&d.m_txtPercentSuffix, &d.m_fontValue, RGB(255, 255, 255)},
            {&d.m_txtCaption, &d.m_fontCaption, RGB(255, 255, 255)},
        };
        for (const Case& c : cases) {
            for (int call = 0; call < 2; ++call) {
                CDC dc;
                d.OnCtlColor(&dc, c.wnd, CTLCOLOR_STATIC);
                EXPECT_EQ(dc.GetBkMode(), TRANSPARENT);
                EXPECT_TRUE(dc.HollowBrush());
                EXPECT_EQ(dc.GetCurrentFont(), c.font) << "the kept font, every call";
                EXPECT_EQ(dc.GetTextColor(), c.colour);
            }
        }
        // Other controls: transparent and hollow, nothing else.
        for (CWnd* other : std::initializer_list<CWnd*>{&d.m_btnPauseResume, &d.m_progress, &d}) {
            CDC dc;
            dc.SetTextColor(RGB(1, 2, 3));
            EXPECT_EQ(d.OnCtlColor(&dc, other, CTLCOLOR_STATIC), nullptr);
            EXPECT_EQ(dc.GetBkMode(), TRANSPARENT);
            EXPECT_TRUE(dc.HollowBrush());
            EXPECT_EQ(dc.GetCurrentFont(), nullptr);
            EXPECT_EQ(dc.GetTextColor(), RGB(1, 2, 3));
        }

        const QFont label = d.m_fontLabel.Font(), value = d.m_fontValue.Font(), caption = d.m_fontCaption.Font();
        EXPECT_EQ(label.families().value(0), QString::fromUtf8("굴림체"));
        EXPECT_TRUE(label.families().contains(QStringLiteral("NanumGothicCoding")));
        EXPECT_EQ(label.weight(), 700);
        EXPECT_EQ(value.weight(), 400);
        EXPECT_EQ(QFontInfo(label).family(), QStringLiteral("NanumGothicCoding"));
        EXPECT_EQ(QFontMetrics(label).height(), 12) << "a 12-pixel character cell";
        EXPECT_EQ(caption.families().value(0), QStringLiteral("Berlin Sans FB Demi"));
        const QFontInfo shown(caption);
        EXPECT_TRUE(shown.family() == QStringLiteral("NanumSquareRound") || shown.family() == QStringLiteral("Quicksand"))
            << shown.family().toStdString();
        EXPECT_GE(shown.weight(), 700) << "the caption face is bold";
        EXPECT_EQ(caption.weight(), 956);
        EXPECT_LE(QFontMetrics(caption).height(), 26);
        EXPECT_GE(QFontMetrics(caption).height(), 24);
    });
}

TEST(SkinnedControls, TextsDrawInTheirColoursStraightOnTheBackground)
{
    RunWindow([](DisplayHarness& d) {
        d.ShowPeersText(12);
        d.ShowPercent(42);
        const QImage shot = d.Shot();

        // Label "File path": gold, no white.
        const auto label = Changed(shot, QRect(50, 148, 60, 18));
        EXPECT_GT(label.size(), 20u);
        EXPECT_GT(CountColour(shot, label, Gold), 0);
        EXPECT_EQ(CountColour(shot, label, White), 0);

        // The value " : 12 peers": white; right of its text the background
        // shows untouched through the value's and the label's rectangles.
        const QString text = d.m_txtPeers.GetWindowText();
        const int end = 80 + QFontMetrics(d.m_fontValue.Font()).horizontalAdvance(text) + 2;
        const auto value = Changed(shot, QRect(80, 202, end - 80, 18));
        EXPECT_GT(CountColour(shot, value, White), 0);
        EXPECT_EQ(CountColour(shot, value, Gold), 0);
        EXPECT_TRUE(Changed(shot, QRect(end, 202, 500 - end, 18)).empty()) << "no box behind the texts";
        // Above and below the glyphs of a row nothing is filled either.
        EXPECT_TRUE(Changed(shot, QRect(130, 220, 280, 10)).empty());

        // A path wider than its static is cut short of the static's end.
        d.ShowPathText(QStringLiteral("/home/ann/") + QString(60, u'x'), QStringLiteral("Game"));
        const QImage cut = d.Shot();
        EXPECT_GT(CountColour(cut, Changed(cut, QRect(380, 148, 35, 18)), White), 0);
        EXPECT_TRUE(Changed(cut, QRect(415, 148, 85, 18)).empty()) << "nothing drawn past x = 415";

        // The caption: white.
        const auto caption = Changed(shot, QRect(30, 30, 270, 50));
        EXPECT_GT(CountColour(shot, caption, White), 20);

        // "42%" then "/100%": the number gold and right-aligned against "/100%", white.
        for (int percent : {7, 42, 100}) {
            SCOPED_TRACE(percent);
            d.ShowPercent(percent);
            const QImage s = d.Shot();
            const auto number = Changed(s, QRect(170, 262, 35, 20));
            const auto suffix = Changed(s, QRect(205, 262, 60, 20));
            ASSERT_FALSE(number.empty());
            int left = 999, right = 0;
            for (QPoint p : number) {
                if (Gold(s.pixel(p))) {
                    left = std::min(left, p.x());
                    right = std::max(right, p.x());
                }
            }
            EXPECT_GE(left, 178);
            EXPECT_GE(right, 199) << "right-aligned at x = 204";
            EXPECT_LE(right, 204);
            EXPECT_GT(CountColour(s, suffix, White), 0);
            EXPECT_EQ(CountColour(s, suffix, Gold), 0);
        }
    });
}

TEST(SkinnedControls, BarFillsItsShareOf386PixelsInTheWindow)
{
    RunWindow([](DisplayHarness& d) {
        const QImage fill = Bitmap(152);
        const QImage background = Bitmap(171);
        struct Case { int pos, width; };
        for (const Case c : {Case{0, 0}, Case{33, 127}, Case{50, 193}, Case{99, 382}, Case{100, 386}}) {
            SCOPED_TRACE(c.pos);
            d.ShowPercent(c.pos);
            const QImage shot = d.Shot();
            int wrong = 0;
            for (int y = 232; y < 245; ++y)
                for (int x = 41; x < 427; ++x)
                    wrong += shot.pixel(x, y) != (x < 41 + c.width ? fill.pixel(0, y - 232) : background.pixel(x, y));
            EXPECT_EQ(wrong, 0);
        }
    });
}

TEST(SkinnedControls, ButtonFacesFollowTheirState)
{
    RunWindow([](DisplayHarness& d) {
        const auto face = [&](CWnd& b) {
            return d.Shot().copy(b.GetSafeHwnd()->geometry());
        };
        EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(163));
        EXPECT_EQ(face(d.m_btnShowFolder), Bitmap(159));
        EXPECT_EQ(face(d.m_btnQuestion), Bitmap(194));
        EXPECT_EQ(face(d.m_btnMinimize), Bitmap(172));
        EXPECT_EQ(face(d.m_btnClose), Bitmap(131));

        auto* pause = qobject_cast<QPushButton*>(d.m_btnPauseResume.GetSafeHwnd());
        ASSERT_NE(pause, nullptr);
        pause->setDown(true);
        EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(165)) << "pressed";
        pause->setDown(false);

        d.GetSafeHwnd()->activateWindow();
        d.m_btnPauseResume.SetFocus();
        if (pause->hasFocus()) {
            EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(166)) << "focused";
            pause->setDown(true);
            EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(165)) << "pressed while focused";
            pause->setDown(false);
        } else {
            ADD_FAILURE() << "the button could not take the focus";
        }

        d.m_btnPauseResume.EnableWindow(FALSE);
        EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(164)) << "disabled";

        // The paused look, as the pause handler loads it.
        d.m_btnPauseResume.LoadBitmaps(167, 133, 170, 168);
        d.m_btnPauseResume.InvalidateRect(nullptr, TRUE);
        EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(168)) << "disabled, paused look";
        d.m_btnPauseResume.EnableWindow(TRUE);
        d.m_btnShowFolder.SetFocus();
        EXPECT_EQ(face(d.m_btnPauseResume), Bitmap(167)) << "up, paused look";
    });
}

TEST(SkinnedControls, ScreenshotAfterAFirstDisplay)
{
    RunWindow(
        [](DisplayHarness& d) {
            engine::fake_torrent& t = *d.torrent;
            t.done = t.size * 42 / 100 + 1;
            t.rate = 2.5f * 1024 * 1024;
            t.peers = 7;
            d.RefreshProgress();
            const QImage shot = d.Shot();
            QDir().mkpath(QStringLiteral("artifacts"));
            EXPECT_TRUE(shot.save(QStringLiteral("artifacts/window.png")));
            EXPECT_EQ(d.m_txtPercent.GetWindowText(), QStringLiteral("42%"));
            EXPECT_EQ(shot.size(), QSize(610, 400));
        },
        [](DisplayHarness& d) {
            d.firstDisplay = [](DisplayHarness& h) {
                h.torrent->torrent_name = "Tarvix Adventure Installer";
                DisplayHarness::StandardFirstDisplay(h, *h.torrent);
            };
        });
}

} // namespace
