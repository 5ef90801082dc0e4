// The main window in-process: its window, background, system menu, keys,
// dragging, and repeated runs in one process.
#include "app/CorvaneDlg.h"
#include "framework/Menu.h"
#include "framework/WinApp.h"
#include "tests/support/DrivenDialog.h"
#include "tests/support/ModalAnswerer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace {

// These tests are about the window alone: no configuration fetch.
const bool kWindowOnly = (CCorvaneDlg::EnableStartRoutineForTesting(false), true);

// The real dialog, driven from a timer of the test's own once it runs. A
// watchdog ends a run that would otherwise wait.
class DrivenDlg : public DrivenDialog<DrivenDlg>
{
public:
    DrivenDlg() { deadline = std::chrono::seconds(10); }
    std::function<void(DrivenDlg&)> afterInit;

    BOOL OnInitDialog() override
    {
        const BOOL result = CCorvaneDlg::OnInitDialog();
        StartTestTimers();
        if (afterInit)
            afterInit(*this);
        return result;
    }
};

// True when `shown` is `expected` everywhere but under the window's child
// controls, which draw over the background.
bool SameOutsideControls(const QWidget* window, const QImage& shown, const QImage& expected)
{
    if (shown.size() != expected.size())
        return false;
    QRegion controls;
    for (const QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            controls += child->geometry();
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != expected.pixel(x, y) && !controls.contains(QPoint(x, y)))
                return false;
    return true;
}

void Pump()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

TEST(MainWindow, FramelessFixedTitledWithIconBackgroundAndSystemMenu)
{
    auto dlg = std::make_unique<DrivenDlg>();  // half a megabyte: not on the test's stack
    bool checked = false;
    dlg->drive = [&](DrivenDlg& d) {
        QWidget* w = d.GetSafeHwnd();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->windowType(), Qt::Window) << "not a Qt::Dialog: it keeps its taskbar entry";
        const Qt::WindowFlags wanted =
            Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint | Qt::WindowSystemMenuHint;
        EXPECT_EQ(w->windowFlags() & wanted, wanted);
        EXPECT_EQ(w->windowModality(), Qt::NonModal);
        EXPECT_EQ(w->size(), QSize(610, 400));
        EXPECT_EQ(w->minimumSize(), w->maximumSize());
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Morlaine Corvane"));
        EXPECT_FALSE(w->windowIcon().isNull());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(d.GetStyle() & (WS_SYSMENU | WS_MINIMIZEBOX), WS_SYSMENU | WS_MINIMIZEBOX);

        CBitmap background;
        ASSERT_TRUE(background.LoadBitmap(171));
        const QImage expected = background.Image().convertToFormat(QImage::Format_RGB32);
        const QImage shown = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(SameOutsideControls(w, shown, expected)) << "the window shows bitmap 171 around its controls";

        CMenu* menu = d.GetSystemMenu(FALSE);
        ASSERT_NE(menu, nullptr);
        const int n = menu->GetMenuItemCount();
        ASSERT_GE(n, 3);
        EXPECT_EQ(menu->GetMenuState(n - 2) & MF_SEPARATOR, MF_SEPARATOR);
        EXPECT_EQ(menu->GetMenuItemID(n - 1), CCorvaneDlg::kAboutCommand);
        EXPECT_EQ(menu->GetMenuString(n - 1), QString::fromUtf8("Corvane 정보(&A)..."));
        EXPECT_EQ(menu->GetMenuItemID(n - 3), SC_CLOSE);

        // Enter and Esc do nothing, wherever they are typed.
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(w, &press);
        }
        Pump();
        EXPECT_FALSE(d.IsEnding());
        checked = true;
        d.CloseDownloader();
        EXPECT_FALSE(d.IsEnding()) << "the close is queued, not immediate";
    };
    EXPECT_EQ(RunAsMainWindow(*dlg), IDCANCEL);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(dlg->watchdogFired);
}

TEST(MainWindow, SystemCommandsTakeTheirDefaultCourse)
{
    auto dlg = std::make_unique<DrivenDlg>();
    bool minimized = false;
    dlg->drive = [&](DrivenDlg& d) {
        ModalAnswerer answerer;  // closes the about box
        d.SendMessage(WM_SYSCOMMAND, CCorvaneDlg::kAboutCommand | 0xF, 0);  // about box: not a close
        EXPECT_EQ(answerer.SeenPrompts().size(), 1u);
        Pump();
        EXPECT_FALSE(d.IsEnding());
        d.OnBnClickedMinimize();
        minimized = d.IsIconic();
        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        d.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    };
    EXPECT_EQ(RunAsMainWindow(*dlg), IDCANCEL);
    EXPECT_TRUE(minimized);
    EXPECT_FALSE(dlg->watchdogFired);
}

// Sends a press at `at` (client coordinates) to whatever Qt would deliver it
// to, moves the mouse by `by` and releases.
void PressMoveRelease(QWidget* window, QPoint at, QPoint by)
{
    QWidget* target = window->childAt(at);
    if (!target)
        target = window;
    const QPoint local = target->mapFrom(window, at);
    const QPoint global = window->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent move(QEvent::MouseMove, local + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + by, global + by, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

TEST(MainWindow, PressOnBackgroundOrLabelDragsPressOnButtonDoesNot)
{
    auto dlg = std::make_unique<DrivenDlg>();
    CStatic label;
    CButton button;
    dlg->drive = [&](DrivenDlg& d) {
        QWidget* w = d.GetSafeHwnd();
        ASSERT_TRUE(label.Create(QStringLiteral("File path"), WS_CHILD | WS_VISIBLE | SS_LEFT,
                                 CRect(50, 148, 500, 166), &d, 104));
        ASSERT_TRUE(button.Create(QStringLiteral("Button"), WS_CHILD | WS_VISIBLE, CRect(109, 292, 201, 323), &d,
                                  555));
        const QPoint start = w->pos();

        PressMoveRelease(w, QPoint(300, 50), QPoint(40, 25));  // background
        Pump();
        EXPECT_EQ(w->pos(), start + QPoint(40, 25));

        const QPoint second = w->pos();
        PressMoveRelease(w, QPoint(60, 150), QPoint(-15, 10));  // on the label
        Pump();
        EXPECT_EQ(w->pos(), second + QPoint(-15, 10));

        const QPoint third = w->pos();
        PressMoveRelease(w, QPoint(150, 300), QPoint(30, 30));  // on the button
        Pump();
        EXPECT_EQ(w->pos(), third);
        d.CloseDownloader();
    };
    EXPECT_EQ(RunAsMainWindow(*dlg), IDCANCEL);
    EXPECT_FALSE(dlg->watchdogFired);
}

TEST(MainWindow, RunsManyTimesInOneProcessAndEndsAtOnceWhenClosedDuringInit)
{
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        auto dlg = std::make_unique<DrivenDlg>();
        CBitmap background;
        ASSERT_TRUE(background.LoadBitmap(171));
        bool backgroundShown = false;
        dlg->afterInit = [&](DrivenDlg& d) {
            const QImage shown = d.GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            backgroundShown = SameOutsideControls(d.GetSafeHwnd(), shown,
                                                  background.Image().convertToFormat(QImage::Format_RGB32));
            d.CloseDownloader();  // as a start routine that fails does
            d.CloseDownloader();
        };
        EXPECT_EQ(RunAsMainWindow(*dlg), IDCANCEL);
        EXPECT_FALSE(dlg->watchdogFired);
        EXPECT_EQ(dlg->GetSafeHwnd(), nullptr);
        EXPECT_TRUE(backgroundShown) << "the kept background paints every run";
    }
}

} // namespace
