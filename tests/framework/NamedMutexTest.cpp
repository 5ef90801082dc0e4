// The single-instance lock within one process: held, seen as taken, freed
// with its owner, and never someone else's file.
#include "framework/NamedMutex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(NamedMutex, SecondOpenSeesItTakenUntilTheFirstGoes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto first = std::make_unique<CNamedMutex>(QStringLiteral("Morlaine Corvane"), dir.path());
    EXPECT_EQ(first->GetState(), CNamedMutex::State::Created);
    EXPECT_TRUE(first->FilePath().startsWith(dir.path()));
    EXPECT_TRUE(first->FilePath().contains(QString::number(::getuid())));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(first->FilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    CNamedMutex second(QStringLiteral("Morlaine Corvane"), dir.path());
    EXPECT_EQ(second.GetState(), CNamedMutex::State::AlreadyExists);
    CNamedMutex other(QStringLiteral("Other name"), dir.path());
    EXPECT_EQ(other.GetState(), CNamedMutex::State::Created);

    const QString path = first->FilePath();
    first.reset();
    EXPECT_TRUE(QFile::exists(path)) << "the file stays";
    CNamedMutex third(QStringLiteral("Morlaine Corvane"), dir.path());
    EXPECT_EQ(third.GetState(), CNamedMutex::State::Created);
}

TEST(NamedMutex, RefusesSymlinksAndMissingDirectories)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString probe = CNamedMutex(QStringLiteral("x"), dir.path()).FilePath();
    QFile::remove(probe);
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("elsewhere")), probe));
    EXPECT_EQ(CNamedMutex(QStringLiteral("x"), dir.path()).GetState(), CNamedMutex::State::Failed);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("elsewhere"))));

    EXPECT_EQ(CNamedMutex(QStringLiteral("x"), dir.filePath(QStringLiteral("no/such/dir"))).GetState(),
              CNamedMutex::State::Failed);
}

TEST(NamedMutex, DefaultDirectoryIsTheRuntimeDirectoryElseTemp)
{
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    EXPECT_EQ(CNamedMutex::DefaultDirectory(), dir.path());
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(CNamedMutex::DefaultDirectory(), QDir::tempPath());
    if (!saved.isEmpty())
        qputenv("XDG_RUNTIME_DIR", saved);
}
