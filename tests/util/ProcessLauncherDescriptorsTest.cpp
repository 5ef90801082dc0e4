// A program started for the user (the file manager, the browser) must not
// inherit the downloader's open files and sockets: a long-lived browser
// would keep the listening port and the torrent's files open after the
// downloader has ended.
#include "app/util/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QString>
#include <QStringList>
#include <QThread>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString ReadWhenWritten(const QString& path)
{
    for (int i = 0; i < 400; ++i) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll().trimmed();
            if (text.endsWith("end"))
                return QString::fromUtf8(text);
        }
        QThread::msleep(25);
    }
    return QString();
}

TEST(ProcessLauncher, StartedProgramInheritsNoDescriptorButTheStandardOnes)
{
    QTemporaryDir tempDir;
    ASSERT_TRUE(tempDir.isValid());
    const QString dir = tempDir.path();
    const QString report = dir + "/corvane-launcher-fds.txt";

    // Opened the way a library may open them: without close-on-exec.
    const int file = ::open(QFile::encodeName(dir + "/corvane-launcher-open.bin").constData(),
                            O_RDWR | O_CREAT, 0600);
    ASSERT_GE(file, 0);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    const QString script = QStringLiteral(
        "{ for fd in %1 %2; do if [ -e /proc/$$/fd/$fd ]; then echo \"open $fd\"; fi; done; "
        "echo end; }")
                               .arg(file)
                               .arg(listener);
    ASSERT_TRUE(LaunchDetached("sh", {"-c", script + " > \"$0\"", report}));
    const QString seen = ReadWhenWritten(report);
    ::close(file);
    ::close(listener);
    QFile::remove(report);
    QFile::remove(dir + "/corvane-launcher-open.bin");

    ASSERT_FALSE(seen.isEmpty()) << "the started program did not report";
    EXPECT_FALSE(seen.contains("open")) << seen.toStdString();
}

} // namespace
