// The about box: opened from the question button and from the system menu's
// about item (0x10..0x1F), its layout, colours and focus, closed by Esc,
// Enter and its close box, with the main window's display updating behind it.
#include "app/AboutDlg.h"
#include "tests/app/DisplayHarness.h"

#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using display_test::DisplayHarness;

const QString kCaption = QStringLiteral("Tarvix Downloader Information");

QWidget* OpenAboutBox()
{
    QWidget* w = QApplication::activeModalWidget();
    return w && w->windowTitle() == kCaption ? w : nullptr;
}

QWidget* ChildById(QWidget* box, int id)
{
    for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (CWnd* wnd = CWnd::FromHandle(child); wnd && wnd->GetDlgCtrlID() == id)
            return child;
    return nullptr;
}

void CheckLayout(QWidget* box, DisplayHarness& main)
{
    EXPECT_EQ(box->size(), QSize(470, 212));
    EXPECT_EQ(box->window(), box);
    EXPECT_EQ(box->parentWidget(), main.GetSafeHwnd()) << "owned by the main window";
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal) << "the main window takes no input meanwhile";
    EXPECT_FALSE(box->windowFlags() & Qt::FramelessWindowHint) << "an ordinary captioned dialog";
    EXPECT_TRUE(box->windowFlags() & Qt::WindowCloseButtonHint);

    struct Case { int id; QRect rect; const char* text; };
    const Case cases[] = {
        {1003, QRect(20, 86, 316, 26), "Tarvix  Downloader "},
        {1004, QRect(20, 108, 296, 28), "Copyright (C) Tarvix."},
        {1005, QRect(20, 132, 296, 18), "All rights reserved."},
        {IDOK, QRect(178, 166, 100, 32), "Close"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        QWidget* w = ChildById(box, c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), c.rect);
        EXPECT_EQ(CWnd::FromHandle(w)->GetWindowText(), QString::fromLatin1(c.text));
    }
    auto* close = qobject_cast<QPushButton*>(ChildById(box, IDOK));
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->hasFocus()) << "Close has the focus";
    EXPECT_TRUE(close->isDefault());

    // The two pictures at their places, at their bitmaps' sizes; the engine's notice.
    std::vector<QRect> pictures;
    QStringList texts;
    for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        CWnd* wnd = CWnd::FromHandle(child);
        if (!wnd || wnd->GetDlgCtrlID() != 0xFFFF)
            continue;
        if ((wnd->GetStyle() & 0x1F) == SS_BITMAP)
            pictures.push_back(child->geometry());
        else
            texts << wnd->GetWindowText();
    }
    EXPECT_EQ(pictures.size(), 2u);
    EXPECT_TRUE(std::count(pictures.begin(), pictures.end(), QRect(330, 12, 110, 107)));
    EXPECT_TRUE(std::count(pictures.begin(), pictures.end(), QRect(14, 72, 275, 2)));
    EXPECT_TRUE(texts.join(u'\n').contains(QStringLiteral("libtorrent")));

    // Texts 1003..1005 in RGB(116, 106, 101), without a box behind them;
    // other texts keep the default colour.
    const QImage shot = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QDir().mkpath(QStringLiteral("artifacts"));
    shot.save(QStringLiteral("artifacts/about.png"));
    const QRgb colour = qRgb(116, 106, 101);
    const QRgb window = box->palette().window().color().rgb();
    const auto near = [&](QRgb p) {
        return std::abs(qRed(p) - qRed(colour)) <= 24 && std::abs(qGreen(p) - qGreen(colour)) <= 24 &&
               std::abs(qBlue(p) - qBlue(colour)) <= 24;
    };
    for (int id : {1003, 1004, 1005}) {
        // Left of the picture, which the name's rectangle reaches into.
        const QRect r = ChildById(box, id)->geometry() & QRect(0, 0, 330, 212);
        int coloured = 0, darker = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const QRgb p = shot.pixel(x, y);
                coloured += near(p);
                darker += qGray(p) < qGray(colour) - 24;  // black text would show here
            }
        EXPECT_GT(coloured, 10) << id;
        EXPECT_EQ(darker, 0) << id;
        EXPECT_EQ(shot.pixel(r.left(), r.bottom()), window) << "no background of its own";
        EXPECT_EQ(shot.pixel(r.right(), r.bottom()), window) << "no background of its own";
    }
    // The engine's notice keeps the default (black) text.
    int black = 0;
    for (int y = 22; y < 36; ++y)
        for (int x = 20; x < 300; ++x)
            black += qGray(shot.pixel(x, y)) < 60;
    EXPECT_GT(black, 0);
}

TEST(AboutBox, OpensFromTheQuestionButtonAndTheSystemMenuWhileTheDisplayGoesOn)
{
    auto dlg = DisplayHarness::Make();
    dlg->startRefreshTimer = true;
    int opened = 0;
    std::vector<QString> sizesWhileOpen;
    dlg->drive = [&](DisplayHarness& d) {
        engine::fake_torrent& t = *d.torrent;
        t.size = 1000 * 1024;
        // Each opening is closed another way: Esc, Enter, the close box, Esc.
        enum Close { Esc, Enter, CloseBox };
        Close how = Esc;
        QTimer poll;
        bool busy = false;
        // A box closed through its close box stays up until its queued
        // cancel is delivered: count each box once.
        QPointer<QWidget> answered;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* box = OpenAboutBox();
            if (!box || busy || box == answered)
                return;
            busy = true;
            answered = box;
            ++opened;
            if (opened == 1)
                CheckLayout(box, d);
            // The main window's refresh goes on behind the box.
            const QString before = d.m_txtSize.GetWindowText();
            t.done += 100 * 1024;
            EXPECT_TRUE(PumpUntil([&] { return d.m_txtSize.GetWindowText() != before; }, 3000))
                << "display updated while the box is open";
            sizesWhileOpen.push_back(d.m_txtSize.GetWindowText());
            QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : box;
            if (how == CloseBox) {
                box->close();
            } else {
                QKeyEvent press(QEvent::KeyPress, how == Esc ? Qt::Key_Escape : Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(focus, &press);
            }
            busy = false;
        });
        poll.start(20);

        how = Esc;
        d.m_btnQuestion.Click();
        EXPECT_EQ(opened, 1);
        how = Enter;
        d.SendMessage(WM_SYSCOMMAND, CCorvaneDlg::kAboutCommand, 0);
        EXPECT_EQ(opened, 2);
        how = CloseBox;
        d.SendMessage(WM_SYSCOMMAND, 0x1F, 0);
        EXPECT_EQ(opened, 3);
        how = Esc;
        d.OnSysCommand(0x13, 0);
        EXPECT_EQ(opened, 4);
        poll.stop();
        EXPECT_EQ(OpenAboutBox(), nullptr);
        EXPECT_FALSE(d.IsEnding()) << "closing the box leaves the main window running";
    };
    EXPECT_EQ(dlg->Run(), IDOK);
    EXPECT_FALSE(dlg->watchdogFired);
    EXPECT_EQ(opened, 4);
    ASSERT_EQ(sizesWhileOpen.size(), 4u);
    EXPECT_EQ(sizesWhileOpen.back(), QStringLiteral(" : 400.00 KB / 1000.00 KB"));
}

} // namespace
