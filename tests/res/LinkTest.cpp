// An executable that links the resources only through another static library
// still has every resource registered, without Q_INIT_RESOURCE.

#include "res/ResourceIds.h"

#include <gtest/gtest.h>

#include <QFile>

bool ProbeBackgroundExists();

TEST(ResourceLinking, RegisteredThroughAnotherStaticLibrary)
{
    EXPECT_TRUE(ProbeBackgroundExists());
    for (int id : {res::IDB_PROGRESS_FILL, res::IDB_RESUME_UP, res::IDB_ABOUT_LOGO,
                   res::IDB_QUESTION_FOCUS})
        EXPECT_TRUE(QFile::exists(res::BitmapPath(id))) << id;
    EXPECT_TRUE(QFile::exists(res::IconPath(res::IDI_MAINFRAME, 48)));
    EXPECT_TRUE(QFile::exists(res::StringPath(res::IDS_ABOUTBOX)));
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
