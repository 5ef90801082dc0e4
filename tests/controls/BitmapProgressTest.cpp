// The bitmap progress bar alone: its fill widths and what it paints.
#include "app/controls/BitmapProgress.h"

#include <QPalette>
#include <gtest/gtest.h>

namespace {

TEST(BitmapProgress, FillWidthIsTheQuotientTimesThePositionTruncated)
{
    struct Case { int width, pos, fill; };
    const Case cases[] = {
        {386, 0, 0}, {386, 1, 3}, {386, 33, 127}, {386, 50, 193}, {386, 99, 382}, {386, 100, 386},
        {29, 100, 28},  // 29 / 100.0 * 100 is just below 29
        {0, 100, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CBitmapProgress::FillWidth(c.width, c.pos), c.fill) << c.width << " at " << c.pos;
}

// A plain top-level window in a colour of its own, to hold the bar.
class Host : public CWnd
{
public:
    Host()
    {
        auto* widget = new QWidget;
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, Qt::magenta);
        widget->setPalette(palette);
        widget->resize(470, 40);
        Attach(widget, WS_POPUP | WS_VISIBLE, 0);
        widget->show();
    }
};

TEST(BitmapProgress, PaintsTheStretchedFillAtTheBitmapsHeightAndNothingElse)
{
    Host host;
    CBitmapProgress bar;
    // Taller than the bitmap: only the top 13 rows get the fill.
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, RECT{41, 10, 427, 30}, &host, 100));
    CBitmap fill;
    ASSERT_TRUE(fill.LoadBitmap(152));
    const QImage profile = fill.Image().convertToFormat(QImage::Format_RGB32);
    const QRgb magenta = QColor(Qt::magenta).rgb();

    for (int pos : {0, 1, 33, 50, 99, 100, 150, -5}) {
        SCOPED_TRACE(pos);
        bar.SendMessage(PBM_SETPOS, WPARAM(pos), 0);
        const int clamped = std::clamp(pos, 0, 100);
        EXPECT_EQ(bar.SendMessage(PBM_GETPOS, 0, 0), clamped);
        const int width = CBitmapProgress::FillWidth(386, clamped);
        const QImage shot = host.GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int wrong = 0;
        for (int y = 10; y < 30; ++y) {
            for (int x = 30; x < 440; ++x) {
                const bool filled = x >= 41 && x < 41 + width && y < 10 + 13;
                const QRgb expected = filled ? profile.pixel(0, y - 10) : magenta;
                wrong += shot.pixel(x, y) != expected;
            }
        }
        EXPECT_EQ(wrong, 0) << "fill " << width << " px wide, 13 rows high, nothing around it";
    }
}

} // namespace
