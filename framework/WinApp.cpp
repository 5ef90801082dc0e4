#include "framework/WinApp.h"

#include "framework/CloseSignals.h"
#include "framework/Utf8Locale.h"
#include "framework/Wnd.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <unistd.h>

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const CString& appName) : m_pszAppName(appName)
{
    // Like MFC: the first application object constructed is the one.
    if (!g_app)
        g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        const QString path = QStringLiteral(":/icons/%1/%2.png").arg(id).arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    if (icon.isNull())
        qWarning("CWinApp::LoadIcon: icon resource %u is missing", id);
    return icon;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

CString AfxGetAppName()
{
    if (g_app && !g_app->m_pszAppName.isEmpty())
        return g_app->m_pszAppName;
    return AfxExecutableBaseName(nullptr);
}

CString AfxExecutableBaseName(const char* argv0)
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    QString file;
    if (n > 0)
        file = QFile::decodeName(QByteArray(path, int(n)));
    else if (argv0 && *argv0)
        file = QFile::decodeName(argv0);
    else
        return QStringLiteral("Corvane");
    // Windows strips the last extension only ("a.b.exe" -> "a.b").
    return QFileInfo(file).completeBaseName();
}

void AfxWinInit(const char* argv0)
{
    if (g_app && g_app->m_pszAppName.isEmpty())
        g_app->m_pszAppName = AfxExecutableBaseName(argv0);
}

int AfxShowMessageBox(QWidget* owner, const CString& text, const CString& caption, UINT type)
{
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);  // texts may come from a server: never rich text
    box.setText(text);
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    QMessageBox::StandardButtons buttons;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MB_YESNOCANCEL: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case MB_YESNO: buttons = QMessageBox::Yes | QMessageBox::No; break;
    default: buttons = QMessageBox::Ok; break;
    }
    box.setStandardButtons(buttons);
    box.setDefaultButton(buttons & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok);
    box.exec();

    int result;
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok: result = IDOK; break;
    case QMessageBox::Yes: result = IDYES; break;
    case QMessageBox::No: result = IDNO; break;
    case QMessageBox::Cancel: result = IDCANCEL; break;
    default:
        // Closed without a button: what Windows reports for such a box.
        result = (buttons & QMessageBox::Cancel) ? IDCANCEL : (buttons & QMessageBox::No) ? IDNO : IDOK;
        break;
    }
    // Give the owner its activation back (buttons show their focus look again).
    if (owner && owner->isVisible())
        owner->window()->activateWindow();
    return result;
}

int AfxMessageBox(const CString& text, UINT type, UINT /*helpId*/)
{
    // MFC adds the exclamation icon to a box that names none.
    if ((type & MB_ICONMASK) == 0) {
        const UINT kind = type & MB_TYPEMASK;
        type |= (kind == MB_YESNO || kind == MB_YESNOCANCEL) ? MB_ICONQUESTION : MB_ICONEXCLAMATION;
    }
    QWidget* owner = nullptr;
    if (g_app && g_app->m_pMainWnd) {
        QWidget* main = g_app->m_pMainWnd->GetSafeHwnd();
        if (main && main->isVisible())
            owner = main;
    }
    return AfxShowMessageBox(owner, text, AfxGetAppName(), type);
}

BOOL AfxLoadString(UINT id, CString& text)
{
    QFile file(QStringLiteral(":/strings/%1.txt").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("AfxLoadString: string resource %u is missing", id);
        text.clear();
        return FALSE;
    }
    QString s = QString::fromUtf8(file.readAll());
    while (s.endsWith(u'\n') || s.endsWith(u'\r'))
        s.chop(1);
    text = s;
    return TRUE;
}

int AfxWinMain(int argc, char** argv)
{
    // While the process has one thread, before Qt or the engine start any.
    AfxUseUtf8Locale();
    AfxInstallCloseSignals();
    QApplication application(argc, argv);
    AfxWatchCloseSignals();
    AfxWinInit(argc > 0 ? argv[0] : nullptr);
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    if (app->InitInstance()) {
        // An application whose InitInstance returns TRUE runs its message
        // loop until the main window goes (not this program's path).
        if (app->m_pMainWnd && app->m_pMainWnd->GetSafeHwnd())
            application.exec();
    }
    return app->ExitInstance();
}
