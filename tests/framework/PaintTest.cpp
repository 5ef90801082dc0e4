// Painting stand-ins: bitmaps by id, memory DCs and blits, the owner-drawn
// bitmap button's choice of face, statics asking their parent for colour and
// font, the progress control's position.
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

QImage Rgb(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

TEST(Bitmaps, LoadByIdWithTheirSizesAndFailLoudlyWhenMissing)
{
    struct Case { UINT id; int w, h; };
    for (const Case c : {Case{171, 610, 400}, Case{152, 5, 13}, Case{163, 92, 31}, Case{159, 163, 31},
                         Case{172, 15, 14}, Case{216, 110, 107}, Case{217, 275, 2}}) {
        SCOPED_TRACE(c.id);
        CBitmap bitmap;
        ASSERT_TRUE(bitmap.LoadBitmap(c.id));
        BITMAP bm;
        EXPECT_EQ(bitmap.GetObject(sizeof bm, &bm), int(sizeof bm));
        EXPECT_EQ(bm.bmWidth, c.w);
        EXPECT_EQ(bm.bmHeight, c.h);
    }
    CBitmap missing;
    EXPECT_FALSE(missing.LoadBitmap(4242));
    BITMAP bm;
    EXPECT_EQ(missing.GetBitmap(&bm), 0);
    EXPECT_EQ(bm.bmWidth, 0);

    CString about;
    ASSERT_TRUE(AfxLoadString(101, about));
    EXPECT_EQ(about, QString::fromUtf8("Corvane 정보(&A)..."));
    CString none;
    EXPECT_FALSE(AfxLoadString(4242, none));
    EXPECT_FALSE(AfxGetApp()->LoadIcon(200).isNull());
    EXPECT_TRUE(AfxGetApp()->LoadIcon(4242).isNull());
}

TEST(DeviceContexts, BitBltCopiesAndStretchBltStretchesWithoutSmoothing)
{
    CBitmap source;
    ASSERT_TRUE(source.LoadBitmap(152));  // 5 x 13, a vertical profile
    CDC mem;
    mem.CreateCompatibleDC(nullptr);
    EXPECT_EQ(mem.SelectObject(&source), nullptr);

    QImage target(40, 20, QImage::Format_RGB32);
    target.fill(Qt::magenta);
    {
        QPainter painter(&target);
        CDC dc(&painter);
        ASSERT_TRUE(dc.BitBlt(1, 2, 5, 13, &mem, 0, 0, SRCCOPY));
        ASSERT_TRUE(dc.StretchBlt(10, 0, 27, 13, &mem, 0, 0, 5, 13, SRCCOPY));
        EXPECT_TRUE(dc.StretchBlt(0, 0, 0, 13, &mem, 0, 0, 5, 13, SRCCOPY));  // zero width: nothing
        EXPECT_FALSE(dc.BitBlt(0, 0, 5, 5, nullptr, 0, 0, SRCCOPY));
    }
    const QImage src = Rgb(source.Image());
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(target.pixel(1 + x, 2 + y), src.pixel(x, y));
        for (int x = 10; x < 37; ++x)
            EXPECT_EQ(target.pixel(x, y), src.pixel(0, y)) << x << "," << y;
    }
    EXPECT_EQ(target.pixel(37, 0), QColor(Qt::magenta).rgb());  // nothing beyond the width
    EXPECT_EQ(target.pixel(0, 0), QColor(Qt::magenta).rgb());
}

TEST(BitmapButton, ChoosesDownFocusDisabledUpAndFallsThroughMissingOnes)
{
    CBitmapButton button;
    ASSERT_TRUE(button.LoadBitmaps(163, 165, 166, 164));
    CBitmapButton upOnly;
    ASSERT_TRUE(upOnly.LoadBitmaps(163));
    CBitmapButton noFocus;
    ASSERT_TRUE(noFocus.LoadBitmaps(163, 165, 0, 164));

    const auto face = [](UINT id) {
        CBitmap b;
        b.LoadBitmap(id);
        return Rgb(b.Image());
    };
    struct Case { CBitmapButton* button; UINT state; UINT expected; };
    const Case cases[] = {
        {&button, 0, 163},
        {&button, ODS_SELECTED, 165},
        {&button, ODS_SELECTED | ODS_FOCUS | ODS_DISABLED, 165},
        {&button, ODS_FOCUS, 166},
        {&button, ODS_FOCUS | ODS_DISABLED, 166},
        {&button, ODS_DISABLED, 164},
        {&upOnly, ODS_SELECTED | ODS_FOCUS | ODS_DISABLED, 163},
        {&noFocus, ODS_FOCUS | ODS_DISABLED, 164},
        {&noFocus, ODS_FOCUS, 163},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " expected " << c.expected);
        QImage target(92, 31, QImage::Format_RGB32);
        target.fill(Qt::black);
        QPainter painter(&target);
        CDC dc(&painter);
        DRAWITEMSTRUCT item;
        item.itemState = c.state;
        item.rcItem = CRect(0, 0, 92, 31);
        item.pDC = &dc;
        c.button->DrawItem(&item);
        painter.end();
        EXPECT_TRUE(target == face(c.expected));
    }
    // Loading a look again replaces all four.
    ASSERT_TRUE(button.LoadBitmaps(167, 133, 170, 168));
    EXPECT_TRUE(Rgb(button.m_bitmapSel.Image()) == face(133));
    EXPECT_FALSE(button.LoadBitmaps(4242, 165));
}

// A parent that records the colour requests of its statics.
class ParentDialog : public CDialog
{
public:
    ParentDialog() : CDialog(1) { m_template.width = 300; m_template.height = 120; }
    std::function<void(ParentDialog&)> onInit;
    int ctlColorCalls = 0;
    CWnd* lastControl = nullptr;
    CFont font;
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT) override
    {
        ++ctlColorCalls;
        lastControl = wnd;
        dc->SetBkMode(TRANSPARENT);
        dc->SelectStockObject(NULL_BRUSH);
        dc->SetTextColor(RGB(255, 204, 0));
        if (font.IsNull())
            font.CreateFont(12, 0, 0, 0, 700, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, FF_SWISS,
                            QString::fromUtf8("굴림체"));
        dc->SelectObject(&font);
        return nullptr;
    }
    BOOL OnEraseBkgnd(CDC* dc) override
    {
        dc->Painter()->fillRect(QRect(0, 0, 300, 120), QColor(10, 20, 30));
        return TRUE;
    }
    BOOL OnInitDialog() override
    {
        if (onInit)
            onInit(*this);
        EndDialog(IDOK);  // the checks run during initialisation
        return TRUE;
    }
};

TEST(StaticText, AsksTheParentForColourAndFontDrawsNoBackgroundAndLetsPressesThrough)
{
    ParentDialog dlg;
    dlg.onInit = [](ParentDialog& d) {
        d.ShowWindow(SW_SHOWNORMAL);
        CStatic label;
        ASSERT_TRUE(label.Create(QStringLiteral("File path"), WS_CHILD | WS_VISIBLE | SS_LEFT,
                                 CRect(10, 10, 200, 40), &d, 104));
        CStatic hidden;
        ASSERT_TRUE(hidden.Create(QString(), WS_CHILD | SS_ENDELLIPSIS, CRect(10, 50, 200, 70), &d, 105));
        EXPECT_FALSE(hidden.IsWindowVisible());
        EXPECT_EQ(label.GetDlgCtrlID(), 104);
        EXPECT_EQ(label.GetParent(), &d);

        const QImage image = d.GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_GE(d.ctlColorCalls, 1);
        EXPECT_EQ(d.lastControl, &label);
        int textPixels = 0, otherPixels = 0;
        for (int y = 10; y < 40; ++y)
            for (int x = 10; x < 200; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c == QColor(10, 20, 30))
                    continue;
                // Anti-aliased text lies between the background and the colour.
                if (c.red() >= 10 && c.green() >= 20 && c.green() <= 204 && c.blue() <= 30)
                    ++textPixels;
                else
                    ++otherPixels;
            }
        EXPECT_GT(textPixels, 20) << "the text in the parent's colour";
        EXPECT_EQ(otherPixels, 0) << "no background of its own";
        EXPECT_TRUE(label.GetSafeHwnd()->testAttribute(Qt::WA_TransparentForMouseEvents));

        hidden.ModifyStyle(0, WS_VISIBLE);
        EXPECT_TRUE(hidden.IsWindowVisible());
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(ProgressControl, PositionInRangeAndMessages)
{
    ParentDialog dlg;
    dlg.onInit = [](ParentDialog& d) {
        CProgressCtrl bar;
        ASSERT_TRUE(bar.Create(WS_CHILD, CRect(41, 32, 427, 45), &d, 100));
        EXPECT_FALSE(bar.IsWindowVisible());
        EXPECT_EQ(bar.GetPos(), 0);
        EXPECT_EQ(bar.SendMessage(PBM_SETPOS, 50, 0), 0);
        EXPECT_EQ(bar.SendMessage(PBM_GETPOS, 0, 0), 50);
        EXPECT_EQ(bar.SetPos(150), 50);
        EXPECT_EQ(bar.GetPos(), 100);
        bar.SetPos(-3);
        EXPECT_EQ(bar.GetPos(), 0);
        RECT r;
        bar.GetClientRect(&r);
        EXPECT_EQ(r.right, 386);
        EXPECT_EQ(r.bottom, 13);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    CProgressCtrl orphan;
    EXPECT_FALSE(orphan.Create(WS_CHILD, CRect(0, 0, 10, 10), nullptr, 100));
    EXPECT_EQ(orphan.SetPos(30), 0);  // still keeps a position without a window
}

TEST(Buttons, ClicksReachTheParentAsCommandsWithTheirId)
{
    struct Recorder : ParentDialog
    {
        std::vector<WPARAM> commands;
        BOOL OnCommand(WPARAM w, LPARAM l) override
        {
            commands.push_back(w);
            return CDialog::OnCommand(w, l);
        }
    } dlg;
    dlg.onInit = [&dlg](ParentDialog& d) {
        CBitmapButton button;
        ASSERT_TRUE(button.Create(QStringLiteral("Minimize"), WS_CHILD | WS_VISIBLE | BS_OWNERDRAW,
                                  CRect(570, 7, 0, 0), &d, 102));
        ASSERT_TRUE(button.LoadBitmaps(172, 174, 175, 173));
        button.SizeToContent();
        RECT r;
        button.GetWindowRect(&r);
        EXPECT_EQ(r.right - r.left, 15);
        EXPECT_EQ(r.bottom - r.top, 14);
        EXPECT_EQ(button.GetWindowText(), QStringLiteral("Minimize"));
        static_cast<QAbstractButton*>(button.GetSafeHwnd())->click();
        button.EnableWindow(FALSE);
        EXPECT_FALSE(button.IsWindowEnabled());
        static_cast<QAbstractButton*>(button.GetSafeHwnd())->click();  // disabled: nothing
        ASSERT_EQ(dlg.commands.size(), 1u);
        EXPECT_EQ(dlg.commands[0], WPARAM(102 | (BN_CLICKED << 16)));
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

} // namespace

namespace {

TEST(Fonts, KeepWeightFaceAndSubstitutesAndCellHeight)
{
    CFont caption;
    ASSERT_TRUE(caption.CreateFont(26, 0, 0, 0, 956, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, FF_SWISS,
                                   QStringLiteral("Berlin Sans FB Demi")));
    EXPECT_EQ(caption.Font().weight(), 956);
    EXPECT_EQ(caption.Font().families().value(0), QStringLiteral("Berlin Sans FB Demi"));
    EXPECT_GT(caption.Font().families().size(), 1) << "a substitute follows";
    EXPECT_LE(QFontMetrics(caption.Font()).height(), 27) << "a positive height is the cell height";

    CFont label;
    ASSERT_TRUE(label.CreateFont(-12, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, FF_SWISS,
                                 QString::fromUtf8("굴림체")));
    EXPECT_EQ(label.Font().pixelSize(), 12);
    EXPECT_EQ(label.Font().weight(), QFont::Normal);
    EXPECT_TRUE(label.Font().families().contains(QStringLiteral("NanumGothicCoding")));
}

TEST(BitmapStaticAndFocus, BitmapStaticsTakeTheirBitmapsSizeAndTheFirstTabStopGetsTheFocus)
{
    ParentDialog dlg;
    CStatic picture;
    dlg.onInit = [&](ParentDialog& d) {
        ASSERT_TRUE(picture.Create(QString(), WS_CHILD | WS_VISIBLE | SS_BITMAP, CRect(5, 5, 10, 10), &d));
        CBitmap rule;
        ASSERT_TRUE(rule.LoadBitmap(217));
        picture.SetBitmap(&rule);
        RECT r;
        picture.GetClientRect(&r);
        EXPECT_EQ(r.right, 275);
        EXPECT_EQ(r.bottom, 2);
        const QImage shown = picture.GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(shown == rule.Image().convertToFormat(QImage::Format_RGB32));
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);

    // A button without WS_TABSTOP is passed over for the focus; a click on
    // the button with id IDOK ends the dialog through OnOK.

    struct FocusDialog : CDialog
    {
        FocusDialog() : CDialog(1) { m_template.width = 200; m_template.height = 100; }
        CButton plain, tabbed;
        bool tabbedHadFocus = false;
        BOOL OnInitDialog() override
        {
            plain.Create(QStringLiteral("No tab"), WS_CHILD | WS_VISIBLE, CRect(0, 50, 80, 70), this, 3);
            tabbed.Create(QStringLiteral("Close"), WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(90, 50, 170, 70), this,
                          IDOK);
            SetTimer(1, 30);
            return TRUE;
        }
        void OnTimer(UINT_PTR) override
        {
            KillTimer(1);
            tabbedHadFocus = tabbed.GetSafeHwnd()->hasFocus();
            static_cast<QAbstractButton*>(tabbed.GetSafeHwnd())->click();  // the Close button: IDOK
        }
    } focus;
    EXPECT_EQ(focus.DoModal(), IDOK);
    EXPECT_TRUE(focus.tabbedHadFocus);
}

} // namespace
