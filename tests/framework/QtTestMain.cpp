// main() of the widget tests: an offscreen QApplication (unless a display
// was asked for), no native dialogs, and the application object the
// framework expects.
#include "framework/WinApp.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    static CWinApp testApp;
    AfxWinInit(argc > 0 ? argv[0] : nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
