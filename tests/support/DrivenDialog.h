// The main window driven by a test: a CCorvaneDlg (of the type `Self` derives
// from it) with a watchdog that ends a run that would otherwise wait (99), a
// `drive` hook run once from a timer of the test's own once the window is up,
// and a `poll` hook called at intervals until it returns true, which ends the
// run (IDOK). Run() runs the window modally as the program's main window.
#pragma once

#include "app/CorvaneDlg.h"
#include "framework/WinApp.h"

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <memory>

// Runs `dlg` modally as the program's main window.
inline INT_PTR RunAsMainWindow(CDialog& dlg)
{
    AfxGetApp()->m_pMainWnd = &dlg;
    const INT_PTR result = dlg.DoModal();
    AfxGetApp()->m_pMainWnd = nullptr;
    return result;
}

// Lets the event loop run until `done` holds or `ms` have passed.
inline bool PumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

template <class Self>
class DrivenDialog : public CCorvaneDlg
{
public:
    static constexpr UINT_PTR kDriveTimer = 5000;
    static constexpr UINT_PTR kWatchdogTimer = 5001;
    static constexpr UINT_PTR kPollTimer = 5002;

    using CCorvaneDlg::CCorvaneDlg;

    std::function<void(Self&)> drive;
    std::function<bool(Self&)> poll;
    std::chrono::milliseconds pollInterval{200};
    // How long a run may last from the end of the window's set-up.
    std::chrono::milliseconds deadline{20000};
    // End the run (IDOK) once the drive timer has fired, whether or not
    // there is a `drive`.
    bool endAfterDrive = false;
    bool watchdogFired = false;

    INT_PTR Run() { return RunAsMainWindow(*this); }

    // The window as the program sets it up (start routine included), then
    // the test's timers.
    BOOL OnInitDialog() override
    {
        const BOOL result = CCorvaneDlg::OnInitDialog();
        StartTestTimers();
        return result;
    }

    void OnTimer(UINT_PTR id) override
    {
        if (id == kWatchdogTimer) {
            watchdogFired = true;
            if (IsEnding())  // a close asked for, never carried out: leave every loop
                QCoreApplication::exit(99);
            EndDialog(99);
        } else if (id == kDriveTimer) {
            KillTimer(kDriveTimer);
            if (drive)
                drive(self());
            if (endAfterDrive)
                EndDialog(IDOK);
        } else if (id == kPollTimer) {
            if (!IsEnding() && poll(self()))
                EndDialog(IDOK);
        } else {
            OnProgramTimer(id);
        }
    }

protected:
    // The watchdog, and the drive and poll timers when there is something
    // for them to do. A harness with its own OnInitDialog calls this last.
    void StartTestTimers()
    {
        SetTimer(kWatchdogTimer, static_cast<UINT>(deadline.count()));
        if (drive || endAfterDrive)
            SetTimer(kDriveTimer, 30);
        if (poll)
            SetTimer(kPollTimer, static_cast<UINT>(pollInterval.count()));
    }

    // The program's own timers (refresh, re-announce); a harness may watch them.
    virtual void OnProgramTimer(UINT_PTR id) { CCorvaneDlg::OnTimer(id); }

private:
    Self& self() { return static_cast<Self&>(*this); }
};
