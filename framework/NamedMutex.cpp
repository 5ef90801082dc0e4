#include "framework/NamedMutex.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString CNamedMutex::DefaultDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QFile::decodeName(runtime)).exists())
        return QFile::decodeName(runtime);
    return QDir::tempPath();
}

CNamedMutex::CNamedMutex(const QString& name, const QString& directory)
{
    QString safeName = name;
    safeName.replace(u'/', u'_');
    const QString dir = directory.isEmpty() ? DefaultDirectory() : directory;
    m_path = QDir(dir).filePath(QStringLiteral("%1.%2.lock").arg(safeName).arg(::getuid()));

    const QByteArray path = QFile::encodeName(m_path);
    int fd;
    do
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    // Only a regular file of our own counts (never someone else's planted file).
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        ::close(fd);
        return;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_fd = fd;
        m_state = State::Created;
    } else if (errno == EWOULDBLOCK) {
        ::close(fd);
        m_state = State::AlreadyExists;
    } else {
        ::close(fd);
    }
}

CNamedMutex::~CNamedMutex()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
