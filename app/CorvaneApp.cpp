#include "app/CorvaneApp.h"

#include "app/CorvaneDlg.h"
#include "crashdump/CrashDumpWriter.h"
#include "framework/NamedMutex.h"

CCorvaneApp::CCorvaneApp() : CWinApp(CString()) {}

BOOL CCorvaneApp::InitInstance()
{
    // 1. The crash-dump writer, before everything else: even a copy that
    // stops at the single-instance check has it. Dumps go to the current
    // directory, named after the executable.
    static CCrashDumpWriter crashDumpWriter(nullptr, nullptr);

    // 2.-4. Only one copy runs. The lock lasts until the process ends (it is
    // never given back, also not after the dialog has ended: a copy started
    // while this one shuts the engine down still sees it).
    static CNamedMutex mutex{QString::fromUtf16(kCorvaneMutexName)};
    switch (mutex.GetState()) {
    case CNamedMutex::State::Failed:
        return FALSE;
    case CNamedMutex::State::AlreadyExists:
        AfxMessageBox(QStringLiteral("Another program is running!"), MB_OK, 0);
        return FALSE;
    case CNamedMutex::State::Created:
        break;
    }

    // 5. Common controls need no initialisation here.
    // 6.
    CWinApp::InitInstance();
    // 7. Kept, never used: there is no registry.
    SetRegistryKey(QStringLiteral("Tarvix Corvane"));

    // 8.-10. The dialog's modal run is the program's life.
    {
        CCorvaneDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    return FALSE;
}
