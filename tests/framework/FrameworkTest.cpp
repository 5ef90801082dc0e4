// The framework's modal run, message boxes and single-instance lock.
#include "framework/Dialog.h"
#include "framework/NamedMutex.h"
#include "framework/WinApp.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/QStringPrinter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A dialog whose start is given by the test; a watchdog ends a run that
// would otherwise wait (99), so a fault fails instead of hanging.
class ScriptedDialog : public CDialog
{
public:
    ScriptedDialog() : CDialog(1) { m_template.width = 200; m_template.height = 100; }
    std::function<void(ScriptedDialog&)> onInit, onTimer;
    std::vector<std::string> log;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        SetTimer(9999, 5000);
        onInit(*this);
        return TRUE;
    }
    void OnTimer(UINT_PTR id) override
    {
        if (id == 9999 && IsEnding()) {  // a close asked for, never carried out
            ADD_FAILURE() << "the run did not end";
            QCoreApplication::exit(99);  // leaves every loop: later runs fail too, but none hangs
        } else if (id == 9999) {
            EndDialog(99);
        } else
            onTimer(*this);
    }
    void OnCancel() override
    {
        log.push_back("cancel");
        CDialog::OnCancel();
    }
};

TEST(Framework, CloseDuringSetUpEndsTheRunWithoutWaiting)
{
    const std::pair<std::function<void(ScriptedDialog&)>, INT_PTR> cases[] = {
        {[](ScriptedDialog& d) { d.SendMessage(WM_CLOSE); }, IDCANCEL},
        {[](ScriptedDialog& d) { d.EndDialog(7); }, 7},
        {[](ScriptedDialog& d) { d.PostMessage(WM_CLOSE); }, IDCANCEL},
        {[](ScriptedDialog& d) { d.SendMessage(WM_CLOSE); d.MessageBox("failure"); }, IDCANCEL},
    };
    for (const auto& [init, result] : cases) {
        ModalAnswerer answerer;
        ScriptedDialog dlg;
        dlg.onInit = init;
        EXPECT_EQ(dlg.DoModal(), result);
    }
}

TEST(Framework, CloseInsideABoxWaitsForTheHandlerToReturn)
{
    ModalAnswerer answerer(nullptr, 150);
    ScriptedDialog dlg;
    bool visibleAfterBox = false;
    dlg.onInit = [](ScriptedDialog& d) { d.SetTimer(1, 20); };
    dlg.onTimer = [&](ScriptedDialog& d) {
        d.KillTimer(1);
        d.SendMessage(WM_CLOSE);
        d.MessageBox("inside");  // the queued Cancel is delivered in here
        visibleAfterBox = d.GetSafeHwnd() && d.GetSafeHwnd()->isVisible();
        d.log.push_back("handler-end");
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(visibleAfterBox);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"cancel", "handler-end"}));
}

TEST(Framework, BoxesAreCaptionedWithTheProgramsName)
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    ModalAnswerer answerer;
    CWnd none;
    none.MessageBox("a");
    AfxMessageBox("b", MB_OK);
    ASSERT_EQ(answerer.SeenPrompts().size(), 2u);
    for (const auto& seen : answerer.SeenPrompts())
        EXPECT_EQ(seen.caption, name);
}

TEST(Framework, SingleInstanceLockIsExclusiveUntilItsOwnerGoes)
{
    QTemporaryDir dir;
    auto first = std::make_unique<CNamedMutex>("Morlaine Corvane", dir.path());
    EXPECT_EQ(first->GetState(), CNamedMutex::State::Created);
    EXPECT_EQ(CNamedMutex("Morlaine Corvane", dir.path()).GetState(), CNamedMutex::State::AlreadyExists);
    first.reset();
    EXPECT_EQ(CNamedMutex("Morlaine Corvane", dir.path()).GetState(), CNamedMutex::State::Created);
}

} // namespace
