// The body of main() for the tests that need a QApplication: optionally a
// private network (and mount) namespace first, then an offscreen
// QApplication (unless a display was asked for) with no native dialogs, the
// application object the framework expects, and the tests.
#pragma once

#include "framework/WinApp.h"
#include "tests/support/Swarm.h"

#include <QApplication>
#include <gtest/gtest.h>

enum class TestIsolation
{
    None,
    // A network namespace with only loopback up: for tests that start the
    // engine, a tracker or a peer. It comes before any thread.
    Network,
    // The same and a mount namespace of its own, to mount a small disk.
    NetworkAndMounts,
};

inline int RunQtTests(int argc, char** argv, TestIsolation isolation = TestIsolation::None)
{
    UseUtf8FileNames();
    if (isolation != TestIsolation::None && !IsolateNetworkOrReport(isolation == TestIsolation::NetworkAndMounts))
        return 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    static CWinApp testApp;
    AfxWinInit(argc > 0 ? argv[0] : nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
