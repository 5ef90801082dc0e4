#include "framework/CloseSignals.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void OnCloseSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);  // full pipe: a close is pending anyway
    errno = saved;
}

} // namespace

void AfxInstallCloseSignals()
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    // Reset after the first: stopping the engine waits up to 5 s for a hung
    // tracker, and a second Ctrl-C must not have to wait for it.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void AfxWatchCloseSignals()
{
    if (g_pipe[0] < 0 || QCoreApplication::instance() == nullptr)
        return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd && app->m_pMainWnd->GetSafeHwnd())
            app->m_pMainWnd->SendMessage(WM_CLOSE);
        // The window ends only once the handler that showed a box returns: a
        // logout must not wait for somebody to answer it. Boxes closed this
        // way answer as their close button does (OK, No or Cancel), and the
        // picker as cancelled; each of those ends the run too. The start
        // routine may show another box after the one closed, so keep at it.
        static QTimer* closer = nullptr;
        if (closer != nullptr)
            return;
        closer = new QTimer(QCoreApplication::instance());
        QObject::connect(closer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        closer->start(100);
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();  // e.g. "Another program is running!", shown before the window
    });
}
