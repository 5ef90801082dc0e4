#include "crashdump/CrashDumpWriter.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "crashdump/CrashDumpNaming.h"

using CrashDumpNaming::kMaxPath;
using CrashDumpNaming::SYSTEMTIME;

namespace {

constexpr long EXCEPTION_CONTINUE_SEARCH = 0;

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kFatalSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

// Module-level state. Everything but the two atomics is written only by the
// constructor, before the handler is installed; the handler only reads it.
void* s_hDbgHelp = nullptr;
char s_szBaseName[kMaxPath + 1];
char s_szDirPrefix[kMaxPath + 1];

// MiniDumpWriteDump, looked up once when the library is loaded: dlsym may take
// the dynamic loader's lock, which another thread may hold when a crash
// happens, so the handler never calls it. The destructor clears the pointer
// before it unloads the library, which keeps the behaviour of a look-up at
// crash time: after that, a crash finds nothing and writes no file.
std::atomic<MINIDUMPWRITEDUMP> s_pfnMiniDumpWriteDump{nullptr};

// Set by the first thread that enters the handler: a second thread crashing
// at the same time waits for the process to die instead of writing over the
// same file, and the destructor does not unload the library under a writer.
std::atomic<bool> s_bDumping{false};

// The actions in force before the handler, in kFatalSignals order.
struct sigaction s_aPrevActions[kFatalSignalCount];

// Local time in the handler: localtime_r takes the time-zone lock, so the
// offsets from UTC, with the zone's changes over the next two years, are
// found at construction and looked up by the handler.
CrashDumpNaming::UtcOffsetTable s_utcOffsets;

// The main thread's alternate signal stack, so that a stack overflow on it
// still gets a dump. Threads created later (the engine's, Qt's) have none of
// ours: a fault on them runs the handler on their own stack, which works for
// every fault but a stack overflow there (the kernel then kills the process
// without a dump).
constexpr std::size_t kAltStackSize = 256 * 1024;
alignas(16) char s_aAltStack[kAltStackSize];

static_assert(std::atomic<MINIDUMPWRITEDUMP>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void GetLocalTime(SYSTEMTIME* pTime)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    *pTime = CrashDumpNaming::SystemTimeFromUnix(now.tv_sec, CrashDumpNaming::UtcOffsetAt(s_utcOffsets, now.tv_sec),
                                                 static_cast<int>(now.tv_nsec / 1000000));
}

// The full path of the executable's folder, ending in "/", or "" when it
// cannot be found.
void ExecutableFolder(char (&folder)[4096])
{
    ssize_t n = readlink("/proc/self/exe", folder, sizeof folder - 1);
    if (n <= 0) {
        folder[0] = '\0';
        return;
    }
    folder[n] = '\0';
    char* slash = strrchr(folder, '/');
    if (slash != nullptr)
        slash[1] = '\0';
    else
        folder[0] = '\0';
}

void* LoadDbgHelp()
{
    char path[4096];
    ExecutableFolder(path);
    if (path[0] == '\0')
        return nullptr;
    if (strlen(path) + sizeof CORVANE_DBGHELP_LIBRARY > sizeof path)
        return nullptr;
    strcat(path, CORVANE_DBGHELP_LIBRARY);
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

bool IsDefaultAction(const struct sigaction& action)
{
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

int SignalIndex(int sig)
{
    for (int i = 0; i < kFatalSignalCount; ++i) {
        if (kFatalSignals[i] == sig)
            return i;
    }
    return -1;
}

void FatalSignalHandler(int sig, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const int index = SignalIndex(sig);

    bool expected = false;
    if (s_bDumping.compare_exchange_strong(expected, true)) {
        EXCEPTION_POINTERS pointers{sig, info, static_cast<ucontext_t*>(context)};
        CCrashDumpWriter::OnUnhandledException(&pointers);
    } else {
        // Another thread is writing the dump and will end the process when
        // it re-raises; wait for that (bounded, in case it never does).
        for (int i = 0; i < 300; ++i) {
            timespec pause{0, 100 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }

    // "Continue search": the previous action takes over.
    if (index >= 0)
        sigaction(sig, &s_aPrevActions[index], nullptr);
    else
        signal(sig, SIG_DFL);
    errno = savedErrno;
    // A fault the kernel raised happens again when the faulting instruction
    // is re-executed on return, now under the previous action and with the
    // real siginfo. Anything sent (abort, kill, raise) is sent again; it stays
    // pending until this handler returns.
    if (info != nullptr && info->si_code > 0 && sig != SIGABRT)
        return;
    raise(sig);
}

} // namespace

CCrashDumpWriter::CCrashDumpWriter(const char* pszBaseName, const char* pszDirectory)
{
    // 1.
    m_pfnPrevFilter = nullptr;

    // 2. Base name.
    if (pszBaseName != nullptr)
        CrashDumpNaming::CopyTruncated(s_szBaseName, sizeof s_szBaseName, pszBaseName, kMaxPath);
    else
        memset(s_szBaseName, 0, sizeof s_szBaseName);

    // 3. Directory: only its last component is created; one that exists
    // already counts as success.
    memset(s_szDirPrefix, 0, sizeof s_szDirPrefix);
    if (pszDirectory != nullptr) {
        if (mkdir(pszDirectory, 0777) == 0 || errno == EEXIST)
            CrashDumpNaming::FormatDirPrefix(s_szDirPrefix, kMaxPath, pszDirectory);
    }

    // 4. The dump-writing library, by name, from the executable's folder.
    s_hDbgHelp = LoadDbgHelp();
    if (s_hDbgHelp == nullptr)
        return; // 6. inert: nothing installed

    // 5.
    if (s_szBaseName[0] == '\0')
        SetDefaultBaseName();
    s_pfnMiniDumpWriteDump.store(
        reinterpret_cast<MINIDUMPWRITEDUMP>(dlsym(s_hDbgHelp, "MiniDumpWriteDump")));
    CrashDumpNaming::BuildUtcOffsetTable(s_utcOffsets, time(nullptr));

    // An alternate stack for the main thread, unless it has a big enough
    // one already.
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) != 0
        || current.ss_size < kAltStackSize) {
        stack_t altStack{};
        altStack.ss_sp = s_aAltStack;
        altStack.ss_size = kAltStackSize;
        altStack.ss_flags = 0;
        sigaltstack(&altStack, nullptr);
    }

    bool hadHandler = false;
    for (int i = 0; i < kFatalSignalCount; ++i) {
        sigaction(kFatalSignals[i], nullptr, &s_aPrevActions[i]);
        if (!IsDefaultAction(s_aPrevActions[i]))
            hadHandler = true;
    }
    struct sigaction action {};
    action.sa_sigaction = FatalSignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A second fault while the dump is written kills the process at once.
    sigemptyset(&action.sa_mask);
    for (int sig : kFatalSignals)
        sigaddset(&action.sa_mask, sig);
    for (int sig : kFatalSignals)
        sigaction(sig, &action, nullptr);
    m_pfnPrevFilter = hadHandler ? s_aPrevActions : nullptr;
}

CCrashDumpWriter::~CCrashDumpWriter()
{
    // 1. Put the previous handlers back when there were some. When all five
    // were the default action, this writer's handler stays in force (it lives
    // in the executable, not in the library): after step 2 it writes nothing
    // and hands the signal to the default action, so the process dies as it
    // would have without it.
    if (m_pfnPrevFilter != nullptr) {
        for (int i = 0; i < kFatalSignalCount; ++i)
            sigaction(kFatalSignals[i], &m_pfnPrevFilter[i], nullptr);
    }
    // 2. Unload the library; the handler stops calling into it first. A
    // crash being written right now keeps it (the process is ending anyway).
    if (s_hDbgHelp != nullptr) {
        s_pfnMiniDumpWriteDump.store(nullptr);
        if (!s_bDumping.load())
            dlclose(s_hDbgHelp);
        s_hDbgHelp = nullptr;
    }
}

long CCrashDumpWriter::OnUnhandledException(EXCEPTION_POINTERS* pExceptionInfo)
{
    // 1.-2. The file name, in local time, cut at 259 characters.
    SYSTEMTIME localTime;
    GetLocalTime(&localTime);
    char szDumpPath[kMaxPath];
    CrashDumpNaming::FormatDumpPath(szDumpPath, kMaxPath, s_szDirPrefix, s_szBaseName, localTime);

    // 3.
    MINIDUMPWRITEDUMP pfnMiniDumpWriteDump = s_pfnMiniDumpWriteDump.load();
    if (pfnMiniDumpWriteDump == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;

    // 4. CREATE_ALWAYS: a dump of ours of the same name (two crashes in one
    // second) is truncated. But the name is predictable and the folder may be
    // shared, so nothing planted there is followed or overwritten: no
    // symbolic link, no FIFO or device (O_NONBLOCK: opening a FIFO must not
    // hang the crash), no file of another user, no hard link to a file
    // elsewhere. Readable by the owner only: the dump holds stack memory.
    int hFile = open(szDumpPath, O_CREAT | O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (hFile < 0)
        return EXCEPTION_CONTINUE_SEARCH;
    struct stat st;
    if (fstat(hFile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1
        || ftruncate(hFile, 0) != 0) {
        close(hFile);
        return EXCEPTION_CONTINUE_SEARCH;
    }

    // 5.-6.
    MINIDUMP_EXCEPTION_INFORMATION exceptionInformation;
    exceptionInformation.ThreadId = static_cast<pid_t>(syscall(SYS_gettid));
    exceptionInformation.ExceptionPointers = pExceptionInfo;
    exceptionInformation.ClientPointers = 0;
    pfnMiniDumpWriteDump(getpid(), hFile, MiniDumpNormal, &exceptionInformation, nullptr, nullptr);

    // 7.-8.
    close(hFile);
    return EXCEPTION_CONTINUE_SEARCH;
}

void CCrashDumpWriter::SetDefaultBaseName()
{
    char szModulePath[kMaxPath + 1];
    ssize_t n = readlink("/proc/self/exe", szModulePath, kMaxPath - 1);
    szModulePath[n > 0 ? n : 0] = '\0';
    CrashDumpNaming::BaseNameFromModulePath(s_szBaseName, szModulePath);
}
