#include "app/util/ProcessLauncher.h"

#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

extern char** environ;

namespace {

std::mutex g_hookMutex;
LaunchHook g_hook;

// Marks every descriptor from 3 up close-on-exec. Runs in the forked child
// of a threaded process: system calls only.
void CloseOnExecFromThree(int openMax)
{
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    for (int fd = 3; fd < openMax; ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Starts the program in a new session through a short-lived intermediate
// child, so that no zombie is left and nothing waits for the program. The
// program gets our standard descriptors only: a file manager or browser
// that outlives us must not keep the engine's listening port or the
// torrent's files open, and libraries do not always open them
// close-on-exec. Returns false when the program could not be executed.
bool SpawnDetached(const QString& program, const QStringList& args)
{
    const QString path =
        program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return false;

    // Everything the children need is prepared here: after fork only
    // async-signal-safe calls are made.
    const QByteArray file = QFile::encodeName(path);
    std::vector<QByteArray> storage;
    storage.reserve(static_cast<std::size_t>(args.size()) + 1);
    storage.push_back(QFile::encodeName(program));
    for (const QString& arg : args)
        storage.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    rlimit limit{};
    const int openMax = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                            ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
                            : 65536;

    // The exec's outcome comes back through a close-on-exec pipe: closed
    // without a byte when the program runs, an errno otherwise.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;

    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::setsid();
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            CloseOnExecFromThree(openMax);
            ::execve(file.constData(), argv.data(), environ);
            const int error = errno;
            [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }

    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do
        n = ::read(report[0], &error, sizeof error);
    while (n < 0 && errno == EINTR);
    ::close(report[0]);
    const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && n == 0;
}

} // namespace

bool LaunchDetached(const QString& program, const QStringList& args)
{
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        if (g_hook)
            return g_hook(program, args);
    }
    return SpawnDetached(program, args);
}

void SetLaunchHookForTesting(LaunchHook hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}
