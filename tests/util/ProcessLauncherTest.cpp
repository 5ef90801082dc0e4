#include "app/util/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <QThread>

namespace {

TEST(ProcessLauncher, StartsADetachedProcessWithOneArgumentPerElement)
{
    const QString marker = QString::fromUtf8(::testing::TempDir().c_str())
                           + "/corvane launcher \"test\" $x";
    QFile::remove(marker);
    ASSERT_TRUE(LaunchDetached("touch", {marker}));
    for (int i = 0; i < 200 && !QFile::exists(marker); ++i)
        QThread::msleep(25);
    EXPECT_TRUE(QFile::exists(marker));
    QFile::remove(marker);
    EXPECT_FALSE(LaunchDetached("/nonexistent/corvane-no-such-program", {}));
}

} // namespace
