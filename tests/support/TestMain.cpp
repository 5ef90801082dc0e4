// main() of every test program: a UTF-8 LANG, a private network namespace
// with only loopback up (and a mount namespace of its own for a program built
// with CORVANE_TEST_MOUNT_NAMESPACE), an offscreen QApplication without
// native dialogs, the application object the framework expects, the tests.
#include "framework/Utf8Locale.h"
#include "framework/WinApp.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {
// Must run before any thread starts. Becomes root of a user namespace of its
// own first when not privileged.
const char* IsolateNetwork(bool mountNamespace)
{
    const int flags = CLONE_NEWNET | (mountNamespace ? CLONE_NEWNS : 0);
    if (::unshare(flags) != 0) {
        const auto uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
        if (::unshare(CLONE_NEWUSER | flags) != 0) return "unshare";
        std::ofstream("/proc/self/setgroups") << "deny";
        if (!(std::ofstream("/proc/self/uid_map") << "0 " + uid + " 1") ||
            !(std::ofstream("/proc/self/gid_map") << "0 " + gid + " 1"))
            return "id maps";
    }
    if (mountNamespace && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "private mounts";
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    ::close(fd);
    return up ? nullptr : "loopback up";
}
} // namespace

// A program that starts itself as a child (the program's own start, a probe
// of a fresh process) defines this; it runs instead of the tests when the
// first argument is "--child", in the namespaces its parent made.
int TestChildMain(int argc, char** argv) __attribute__((weak));

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0 && TestChildMain != nullptr)
        return TestChildMain(argc, argv);
    AfxUseUtf8Locale();
#ifdef CORVANE_TEST_MOUNT_NAMESPACE
    const bool mounts = true;
#else
    const bool mounts = false;
#endif
    if (const char* failed = IsolateNetwork(mounts)) {
        std::fprintf(stderr, "cannot run in a private network namespace: %s: %s\n", failed, std::strerror(errno));
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    static CWinApp testApp;
    AfxWinInit(argv[0]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
