// The modal run of CDialog: queued close, close during initialisation,
// timers by id inside message boxes, the dialog keys, message boxes.
#include "framework/Dialog.h"
#include "framework/Menu.h"
#include "framework/WinApp.h"
#include "tests/support/ModalAnswerer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A dialog whose handlers are given by the test. A watchdog ends any run
// that would otherwise wait, with result 99, so a fault fails instead of hanging.
class ScriptedDialog : public CDialog
{
public:
    ScriptedDialog() : CDialog(1) { m_template.width = 200; m_template.height = 100; }

    std::function<void(ScriptedDialog&)> onInit;
    std::function<void(ScriptedDialog&, UINT_PTR)> onTimer;
    std::vector<std::string> log;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        SetTimer(9999, 10000);  // watchdog
        if (onInit)
            onInit(*this);
        return TRUE;
    }
    void OnTimer(UINT_PTR id) override
    {
        if (id == 9999) {
            log.push_back("watchdog");
            EndDialog(99);
            return;
        }
        if (onTimer)
            onTimer(*this, id);
    }
    void OnCancel() override
    {
        log.push_back("cancel");
        CDialog::OnCancel();
    }
};

TEST(DialogModalRun, QueuedCloseLetsTheAskingHandlerFinishFirst)
{
    ModalAnswerer answerer(nullptr, 150);
    answerer.AnswerMessage(QMessageBox::Ok);
    ScriptedDialog dlg;
    bool visibleAfterBox = false;
    dlg.onInit = [](ScriptedDialog& d) { d.SetTimer(1, 20); };
    dlg.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
        if (id != 1)
            return;
        d.KillTimer(1);
        d.SendMessage(WM_CLOSE);
        d.log.push_back(d.IsEnding() ? "ended-at-once" : "still-running");
        // The queued Cancel is delivered inside this box's loop, but the
        // window stays until this handler returns.
        d.MessageBox(QStringLiteral("inside"));
        visibleAfterBox = d.GetSafeHwnd() && d.GetSafeHwnd()->isVisible();
        d.log.push_back("handler-end");
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(visibleAfterBox);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"still-running", "cancel", "handler-end"}));
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
}

TEST(DialogModalRun, CloseAskedDuringInitEndsWithoutWaiting)
{
    struct Case { const char* name; std::function<void(ScriptedDialog&)> init; INT_PTR result; };
    const std::vector<Case> cases = {
        {"WM_CLOSE", [](ScriptedDialog& d) { d.SendMessage(WM_CLOSE); }, IDCANCEL},
        {"EndDialog", [](ScriptedDialog& d) { d.EndDialog(7); }, 7},
        {"OnCancel", [](ScriptedDialog& d) { d.OnCancel(); }, IDCANCEL},
        {"posted WM_CLOSE", [](ScriptedDialog& d) { d.PostMessage(WM_CLOSE); }, IDCANCEL},
        {"close inside a box during init",
         [](ScriptedDialog& d) {
             d.SendMessage(WM_CLOSE);
             d.MessageBox(QStringLiteral("failure"));
         },
         IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModalAnswerer answerer(nullptr, 20);
        ScriptedDialog dlg;
        dlg.onInit = c.init;
        EXPECT_EQ(dlg.DoModal(), c.result);
        EXPECT_EQ(std::count(dlg.log.begin(), dlg.log.end(), "watchdog"), 0);
    }
}

TEST(DialogModalRun, SecondCloseChangesNothingAndDoesNotLeakIntoTheNextRun)
{
    ScriptedDialog dlg;
    dlg.onInit = [](ScriptedDialog& d) { d.SetTimer(1, 20); };
    dlg.onTimer = [](ScriptedDialog& d, UINT_PTR id) {
        if (id != 1)
            return;
        d.KillTimer(1);
        d.SendMessage(WM_CLOSE);
        d.SendMessage(WM_CLOSE);
        d.log.push_back(d.IsEnding() ? "ended-at-once" : "still-running");
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.log.at(0), "still-running");
    EXPECT_EQ(dlg.log.at(1), "cancel");

    // The same object runs again; nothing left over from the first run ends it.
    dlg.log.clear();
    dlg.onInit = [](ScriptedDialog& d) { d.SetTimer(2, 200); };
    dlg.onTimer = [](ScriptedDialog& d, UINT_PTR id) {
        if (id == 2)
            d.EndDialog(42);
    };
    EXPECT_EQ(dlg.DoModal(), 42);
    EXPECT_EQ(dlg.log, std::vector<std::string>{});
}

TEST(DialogTimers, DispatchedByIdAndStillFiringInsideAMessageBox)
{
    // The box stays up until timer 107 has run in it three times (or, should
    // it not run there, until a deadline), however late it opens.
    ModalAnswerer answerer;
    answerer.Hold(true);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] { answerer.Hold(false); });
    ScriptedDialog dlg;
    int ticks107 = 0, ticks108 = 0, ticks107InBox = 0, depth108 = 0, maxDepth108 = 0;
    bool inBox = false;
    dlg.onInit = [](ScriptedDialog& d) {
        d.SetTimer(107, 20);
        d.SetTimer(108, 50);
    };
    dlg.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
        if (id == 107) {
            ++ticks107;
            if (inBox && ++ticks107InBox >= 3)
                answerer.Hold(false);
            return;
        }
        ASSERT_EQ(id, 108u);
        ++ticks108;
        maxDepth108 = std::max(maxDepth108, ++depth108);
        if (ticks108 == 1) {
            inBox = true;
            deadline.start(10000);
            EXPECT_EQ(d.MessageBox(QStringLiteral("box from timer 108"), nullptr, MB_YESNO), IDNO);
            inBox = false;
        } else if (ticks108 == 3) {
            d.KillTimer(108);
            d.SendMessage(WM_CLOSE);
        }
        --depth108;
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_GE(ticks107InBox, 3) << "timer 107 must go on while the box is open";
    EXPECT_EQ(maxDepth108, 1) << "a timer is not delivered again while its handler runs";
    EXPECT_EQ(ticks108, 3);
    ASSERT_EQ(answerer.SeenPrompts().size(), 1u);
    EXPECT_EQ(answerer.SeenPrompts()[0].caption, AfxGetAppName());
}

TEST(DialogKeys, EnterMeansOkAndEscMeansCancel)
{
    struct Case { Qt::Key key; INT_PTR result; };
    for (const Case c : {Case{Qt::Key_Return, IDOK}, Case{Qt::Key_Enter, IDOK}, Case{Qt::Key_Escape, IDCANCEL}}) {
        SCOPED_TRACE(c.key);
        ScriptedDialog dlg;
        dlg.onInit = [](ScriptedDialog& d) { d.SetTimer(1, 20); };
        dlg.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
            if (id != 1)
                return;
            d.KillTimer(1);
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QApplication::sendEvent(d.GetSafeHwnd(), &press);
        };
        EXPECT_EQ(dlg.DoModal(), c.result);
    }
}

TEST(MessageBoxes, ResultsCaptionsAndIcons)
{
    struct Case
    {
        const char* name;
        UINT type;
        QMessageBox::StandardButton answer;
        int result;
        QMessageBox::Icon icon;
        bool afx;
    };
    const std::vector<Case> cases = {
        {"ok", MB_OK, QMessageBox::Ok, IDOK, QMessageBox::NoIcon, false},
        {"yes", MB_YESNO, QMessageBox::Yes, IDYES, QMessageBox::NoIcon, false},
        {"no", MB_YESNO | MB_ICONQUESTION, QMessageBox::No, IDNO, QMessageBox::Question, false},
        {"cancel", MB_OKCANCEL | MB_ICONSTOP, QMessageBox::Cancel, IDCANCEL, QMessageBox::Critical, false},
        {"afx ok gets the exclamation", MB_OK, QMessageBox::Ok, IDOK, QMessageBox::Warning, true},
        {"afx keeps a given icon", MB_OK | MB_ICONINFORMATION, QMessageBox::Ok, IDOK, QMessageBox::Information, true},
    };
    CWnd none;  // a window object without a window: the box has no owner
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModalAnswerer answerer;
        answerer.AnswerMessage(c.answer);
        const QString text = QStringLiteral("<b>not rich</b> %1").arg(c.name);
        const int result = c.afx ? AfxMessageBox(text, c.type) : none.MessageBox(text, nullptr, c.type);
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(answerer.SeenPrompts().size(), 1u);
        const auto& seen = answerer.SeenPrompts()[0];
        EXPECT_TRUE(seen.scripted);
        EXPECT_EQ(seen.text, text);
        EXPECT_EQ(seen.caption, AfxGetAppName());
        EXPECT_EQ(seen.icon, c.icon);
    }
    ModalAnswerer answerer;
    answerer.AnswerMessage(QMessageBox::Ok);
    none.MessageBox(QStringLiteral("t"), QStringLiteral("Given caption"));
    EXPECT_EQ(answerer.SeenPrompts().at(0).caption, QStringLiteral("Given caption"));
}

TEST(SystemMenu, StandardItemsThenAppendedOnesAndDefaultCommands)
{
    ScriptedDialog dlg;
    dlg.onInit = [](ScriptedDialog& d) {
        d.SetWindowLong(GWL_STYLE, LONG(WS_SYSMENU | WS_MINIMIZEBOX));
        CMenu* menu = d.GetSystemMenu(FALSE);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu, d.GetSystemMenu(FALSE));
        const std::vector<UINT> ids = {SC_RESTORE, SC_MOVE, SC_MINIMIZE, 0, SC_CLOSE};
        ASSERT_EQ(menu->GetMenuItemCount(), int(ids.size()));
        for (int i = 0; i < int(ids.size()); ++i)
            EXPECT_EQ(menu->GetMenuItemID(i), ids[i]) << i;
        menu->AppendMenu(MF_SEPARATOR);
        menu->AppendMenu(MF_STRING, 0x10, QStringLiteral("About"));
        EXPECT_EQ(menu->GetMenuItemID(6), 0x10u);
        EXPECT_EQ(menu->GetMenuItemID(7), UINT(-1));
        d.SetTimer(1, 20);
    };
    bool minimized = false;
    dlg.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
        if (id != 1)
            return;
        d.KillTimer(1);
        d.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        minimized = d.IsIconic();
        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        d.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);  // closes as WM_CLOSE does
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(minimized);

    // No system menu without WS_SYSMENU.
    ScriptedDialog plain;
    plain.onInit = [](ScriptedDialog& d) {
        d.SetWindowLong(GWL_STYLE, LONG(WS_POPUP));
        EXPECT_EQ(d.GetSystemMenu(FALSE), nullptr);
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(plain.DoModal(), IDOK);
}

TEST(WindowManagerClose, TakesTheQueuedCancelPath)
{
    ScriptedDialog dlg;
    dlg.onInit = [](ScriptedDialog& d) { d.SetTimer(1, 20); };
    dlg.onTimer = [](ScriptedDialog& d, UINT_PTR id) {
        if (id != 1)
            return;
        d.KillTimer(1);
        d.GetSafeHwnd()->close();  // what Alt+F4 or the taskbar does
        d.log.push_back(d.GetSafeHwnd() && d.GetSafeHwnd()->isVisible() ? "still-shown" : "gone");
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"still-shown", "cancel"}));
}

} // namespace

namespace {

// Picks the item named `text` of the popup menu that is open, as a click does.
QStringList ChooseFromPopup(const QString& text)
{
    QStringList seen;
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
        return seen;
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions()) {
        seen << (action->isSeparator() ? QStringLiteral("-") : action->text());
        if (action->text() == text)
            chosen = action;
    }
    if (chosen) {
        const QPoint at = menu->actionGeometry(chosen).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, menu->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(menu, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, menu->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(menu, &release);
    } else {
        menu->close();
    }
    return seen;
}

class SysMenuDialog : public ScriptedDialog
{
public:
    std::vector<UINT> commands;
    void OnSysCommand(UINT id, LPARAM lParam) override
    {
        commands.push_back(id);
        if (id != 0x10)
            ScriptedDialog::OnSysCommand(id, lParam);
    }
};

TEST(SystemMenu, RightClickAndAltSpacePopItUpAndSendTheChosenCommand)
{
    SysMenuDialog dlg;
    QStringList firstMenu, secondMenu;
    bool minimized = false;
    dlg.onInit = [](ScriptedDialog& d) {
        d.SetWindowLong(GWL_STYLE, LONG(WS_SYSMENU | WS_MINIMIZEBOX));
        d.GetSystemMenu(FALSE)->AppendMenu(MF_SEPARATOR);
        d.GetSystemMenu(FALSE)->AppendMenu(MF_STRING, 0x10, QStringLiteral("About..."));
        d.SetTimer(1, 20);
    };
    dlg.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
        if (id != 1)
            return;
        d.KillTimer(1);
        QWidget* w = d.GetSafeHwnd();
        QTimer::singleShot(100, [&] { firstMenu = ChooseFromPopup(QStringLiteral("About...")); });
        QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(10, 10), w->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(w, &context);  // returns when the menu has closed

        QTimer::singleShot(100, [&] { secondMenu = ChooseFromPopup(QStringLiteral("Mi&nimize")); });
        QKeyEvent altSpace(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier);
        QApplication::sendEvent(w, &altSpace);
        minimized = d.IsIconic();
        d.SendMessage(WM_CLOSE);
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    const QStringList expected = {QStringLiteral("&Restore"), QStringLiteral("&Move"), QStringLiteral("Mi&nimize"),
                                  QStringLiteral("-"), QStringLiteral("&Close"), QStringLiteral("-"),
                                  QStringLiteral("About...")};
    EXPECT_EQ(firstMenu, expected);
    EXPECT_EQ(secondMenu, expected);
    EXPECT_EQ(dlg.commands, (std::vector<UINT>{0x10, SC_MINIMIZE}));
    EXPECT_TRUE(minimized);
}

} // namespace
