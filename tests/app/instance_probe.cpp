// The program's start-up in a child process for the tests: the real
// application object and InitInstance, with message boxes answered and
// reported on stdout ("BOX<TAB>caption<TAB>text<TAB>icon"), "RUNNING" once
// the main window is up, and "END <result>" when InitInstance returns.
#include "app/CorvaneApp.h"
#include "app/CorvaneDlg.h"
#include "framework/Wnd.h"
#include "tests/support/ModalAnswerer.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

CCorvaneApp theApp;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    AfxWinInit(argv[0]);
    // The start-up alone: no configuration fetch.
    CCorvaneDlg::EnableStartRoutineForTesting(false);

    ModalAnswerer answerer;
    std::size_t reported = 0;
    bool running = false;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        for (; reported < answerer.SeenPrompts().size(); ++reported) {
            const auto& seen = answerer.SeenPrompts()[reported];
            std::printf("BOX\t%s\t%s\t%d\n", seen.caption.toUtf8().constData(), seen.text.toUtf8().constData(),
                        int(seen.icon));
        }
        CWnd* main = AfxGetApp()->m_pMainWnd;
        if (!running && main && main->GetSafeHwnd() && main->GetSafeHwnd()->isVisible()) {
            running = true;
            std::printf("RUNNING\n");
        }
        std::fflush(stdout);
    });
    report.start(20);

    const BOOL result = theApp.InitInstance();
    for (; reported < answerer.SeenPrompts().size(); ++reported) {
        const auto& seen = answerer.SeenPrompts()[reported];
        std::printf("BOX\t%s\t%s\t%d\n", seen.caption.toUtf8().constData(), seen.text.toUtf8().constData(),
                    int(seen.icon));
    }
    std::printf("END %d\n", result);
    std::fflush(stdout);
    return 0;
}
