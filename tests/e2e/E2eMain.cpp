// main() of the end-to-end tests: the process first moves into a private
// network namespace with only loopback up (these tests start the real
// engine), then an offscreen QApplication (unless a display was asked for)
// with no native dialogs, and the application object the framework expects.
#include "framework/WinApp.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    std::string why;
    if (!IsolateNetwork(false, &why)) {
        std::fprintf(stderr, "cannot isolate the network (%s): the engine is not started\n", why.c_str());
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    static CWinApp testApp;
    AfxWinInit(argc > 0 ? argv[0] : nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
