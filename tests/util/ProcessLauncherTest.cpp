#include "app/util/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

namespace {

TEST(ProcessLauncher, StartsADetachedProcessWithOneArgumentPerElement)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString marker = dir.path() + "/corvane launcher \"test\" $x";
    ASSERT_TRUE(LaunchDetached("touch", {marker}));
    for (int i = 0; i < 200 && !QFile::exists(marker); ++i)
        QThread::msleep(25);
    EXPECT_TRUE(QFile::exists(marker));
    QFile::remove(marker);
    EXPECT_FALSE(LaunchDetached("/nonexistent/corvane-no-such-program", {}));
}

} // namespace
