// CWinApp: the one application object, and the framework's entry.
//
// As in MFC, the program defines one global object of a CWinApp subclass;
// its constructor registers it, and the framework's main() creates the
// QApplication and calls its InitInstance. When InitInstance returns FALSE
// (this program's only case) the process ends without a message loop of
// the application's own.
#pragma once

#include "framework/Afx.h"

class CWnd;

class CWinApp
{
public:
    explicit CWinApp(const CString& appName = CString());
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // Kept as a string: nothing here has a registry to use it with.
    void SetRegistryKey(const CString& key) { m_pszRegistryKey = key; }
    HICON LoadIcon(UINT id) const;

    // The application name: the one given to the constructor, else the
    // executable's file name without directory and extension.
    CString m_pszAppName;
    CString m_pszRegistryKey;
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
CString AfxGetAppName();

// An OK box without an icon gets the exclamation icon; caption: the
// application name. Owned by the main window when it is shown.
int AfxMessageBox(const CString& text, UINT type = MB_OK, UINT helpId = 0);

// String resource `id` (":/strings/<id>.txt", UTF-8). FALSE when missing.
BOOL AfxLoadString(UINT id, CString& text);

// What main() runs, first thing: makes LANG name UTF-8 and installs the
// close signals while the process has one thread, then creates the
// QApplication, names the application after the executable, and calls
// InitInstance of the registered object.
int AfxWinMain(int argc, char** argv);
// Names the application after the executable (/proc/self/exe, else argv0).
// AfxWinMain calls it; tests that make their own QApplication call it too.
void AfxWinInit(const char* argv0);
// The file name of this executable without directory and extension.
CString AfxExecutableBaseName(const char* argv0);

// The message box every box of the program goes through.
int AfxShowMessageBox(QWidget* owner, const CString& text, const CString& caption, UINT type);
