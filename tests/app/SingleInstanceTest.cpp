// Start-up as separate processes: a second copy sees the first, tells the
// user and ends while the first goes on; a killed copy leaves the lock free;
// the message box caption follows the executable's name.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

// A started copy of the program (the probe), with its own lock directory.
class Copy
{
public:
    Copy(const QString& program, const QString& lockDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), lockDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(program, {});
    }
    ~Copy()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Reads stdout until `line` appears or the deadline passes.
    bool WaitForLine(const QString& prefix, int ms = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            if (Output().contains(QLatin1Char('\n') + prefix) || Output().startsWith(prefix))
                return true;
            if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
                return Output().contains(prefix);
            m_process.waitForReadyRead(100);
            m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        }
        return false;
    }
    bool WaitForExit(int ms = 20000)
    {
        const bool done = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        return done;
    }
    bool Running() const { return m_process.state() == QProcess::Running; }
    void Kill()
    {
        m_process.kill();  // SIGKILL: no clean-up runs
        m_process.waitForFinished(5000);
    }
    const QString& Output() const { return m_out; }

private:
    QProcess m_process;
    QString m_out;
};

class SingleInstance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_lockDir.isValid());
        ASSERT_TRUE(m_binDir.isValid());
        ASSERT_TRUE(QFile::exists(QStringLiteral(INSTANCE_PROBE_PATH)));
    }
    QString Probe() const { return QStringLiteral(INSTANCE_PROBE_PATH); }
    // A copy of the probe under another file name.
    QString Renamed(const QString& name)
    {
        const QString path = m_binDir.filePath(name);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(Probe(), path));
        QFile::setPermissions(path, QFile::permissions(Probe()));
        return path;
    }

    QTemporaryDir m_lockDir;
    QTemporaryDir m_binDir;
};

TEST_F(SingleInstance, SecondCopyShowsTheMessageAndEndsWhileTheFirstGoesOn)
{
    Copy first(Probe(), m_lockDir.path());
    ASSERT_TRUE(first.WaitForLine(QStringLiteral("RUNNING"))) << first.Output().toStdString();

    // Any copy, whatever its file name, finds the first; the caption is the
    // copy's own executable name without directory and extension.
    struct Case { QString program; QString caption; };
    const Case cases[] = {
        {Probe(), QStringLiteral("instance_probe")},
        {Renamed(QStringLiteral("Renamed Corvane.bin")), QStringLiteral("Renamed Corvane")},
        {Renamed(QStringLiteral("corvane-copy")), QStringLiteral("corvane-copy")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption.toStdString());
        Copy second(c.program, m_lockDir.path());
        ASSERT_TRUE(second.WaitForExit()) << "the second copy must end by itself";
        const QString expected =
            QStringLiteral("BOX\t%1\tAnother program is running!\t%2\n").arg(c.caption).arg(int(2 /*Warning*/));
        EXPECT_TRUE(second.Output().contains(expected)) << second.Output().toStdString();
        EXPECT_TRUE(second.Output().contains(QStringLiteral("END 0"))) << second.Output().toStdString();
        EXPECT_FALSE(second.Output().contains(QStringLiteral("RUNNING"))) << "no window in the second copy";
    }
    EXPECT_TRUE(first.Running()) << "the first copy goes on";
    EXPECT_FALSE(first.Output().contains(QStringLiteral("BOX")));
}

TEST_F(SingleInstance, ALockHeldByAKilledCopyIsFreeAgain)
{
    {
        Copy first(Probe(), m_lockDir.path());
        ASSERT_TRUE(first.WaitForLine(QStringLiteral("RUNNING"))) << first.Output().toStdString();
        first.Kill();
    }
    Copy next(Probe(), m_lockDir.path());
    ASSERT_TRUE(next.WaitForLine(QStringLiteral("RUNNING"))) << next.Output().toStdString();
    EXPECT_FALSE(next.Output().contains(QStringLiteral("BOX")));
    // The lock file is left in place, owned by this user only.
    const QStringList files = QDir(m_lockDir.path()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith(QStringLiteral("Morlaine Corvane")));
}

TEST_F(SingleInstance, UnusableLockDirectoryEndsSilently)
{
    // A lock that cannot be taken at all: the program ends without a word
    // and without a window (the lock name is a directory here).
    Copy probeName(Probe(), m_lockDir.path());
    ASSERT_TRUE(probeName.WaitForLine(QStringLiteral("RUNNING")));
    const QStringList files = QDir(m_lockDir.path()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    probeName.Kill();
    QTemporaryDir other;
    ASSERT_TRUE(QDir(other.path()).mkdir(files[0]));
    Copy blocked(Probe(), other.path());
    ASSERT_TRUE(blocked.WaitForExit());
    EXPECT_FALSE(blocked.Output().contains(QStringLiteral("BOX"))) << blocked.Output().toStdString();
    EXPECT_FALSE(blocked.Output().contains(QStringLiteral("RUNNING")));
    EXPECT_TRUE(blocked.Output().contains(QStringLiteral("END 0")));
}

} // namespace
