// A small program for the crash-dump tests: it sets up CCrashDumpWriter the
// way the application does (NULL, NULL), then crashes, or checks the signal
// actions, as its first argument asks. Exit codes other than a signal:
// 0 = the checks held, 2 = bad usage, 3 = a check failed.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "crashdump/CrashDumpWriter.h"

namespace {

volatile int* volatile g_pNull = nullptr;
volatile int g_sink = 0;

__attribute__((noinline, no_sanitize("address", "undefined"))) void CrashByNullDereference()
{
    *g_pNull = 42;
    g_sink = 1; // not a tail position: keeps this frame on the stack
}

__attribute__((noinline)) void AbortOnSecondThread()
{
    std::abort();
}

__attribute__((noinline)) void ThrowUncaught()
{
    throw std::runtime_error("nobody catches this");
}

__attribute__((noinline)) int OverflowTheStack(int depth)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (g_sink == -1) // never: keeps the compiler from calling this endless
        return 0;
    return OverflowTheStack(depth + 1) + frame[0]; // not a tail call
}

void CustomHandler(int) {}

bool IsCustom(int sig)
{
    struct sigaction action {};
    sigaction(sig, nullptr, &action);
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == CustomHandler;
}

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// The handlers in force for the five signals (a sanitizer runtime may have
// installed some before main).
struct Snapshot {
    void* handlers[5];
};

Snapshot Take()
{
    Snapshot snapshot{};
    for (int i = 0; i < 5; ++i) {
        struct sigaction action {};
        sigaction(kSignals[i], nullptr, &action);
        snapshot.handlers[i] = (action.sa_flags & SA_SIGINFO) != 0 ? reinterpret_cast<void*>(action.sa_sigaction)
                                                                     : reinterpret_cast<void*>(action.sa_handler);
    }
    return snapshot;
}

bool Same(const Snapshot& a, const Snapshot& b, int i)
{
    return a.handlers[i] == b.handlers[i];
}

int Check(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "check failed: %s\n", what);
    return ok ? 0 : 3;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const char* mode = argv[1];

    if (std::strcmp(mode, "segv") == 0 || std::strcmp(mode, "abort-thread") == 0
        || std::strcmp(mode, "throw") == 0 || std::strcmp(mode, "overflow") == 0) {
        static CCrashDumpWriter s_writer(NULL, NULL);
        if (std::strcmp(mode, "segv") == 0) {
            CrashByNullDereference();
        } else if (std::strcmp(mode, "abort-thread") == 0) {
            std::thread second(AbortOnSecondThread);
            second.join();
        } else if (std::strcmp(mode, "overflow") == 0) {
            g_sink = OverflowTheStack(0);
        } else {
            ThrowUncaught();
        }
        return 0;
    }

    if (std::strcmp(mode, "named") == 0 && argc == 4) {
        // named BASE DIR: explicit names ("-" for NULL)
        const char* base = std::strcmp(argv[2], "-") == 0 ? nullptr : argv[2];
        const char* dir = std::strcmp(argv[3], "-") == 0 ? nullptr : argv[3];
        static CCrashDumpWriter s_writer(base, dir);
        CrashByNullDereference();
        return 0;
    }

    if (std::strcmp(mode, "inert") == 0) {
        // Run without the library: nothing may change.
        stack_t before{};
        sigaltstack(nullptr, &before);
        const Snapshot actions = Take();
        {
            CCrashDumpWriter writer(NULL, NULL);
            const Snapshot now = Take();
            for (int i = 0; i < 5; ++i) {
                if (Check(Same(now, actions, i), "inert writer left every action alone") != 0)
                    return 3;
            }
            stack_t after{};
            sigaltstack(nullptr, &after);
            if (Check(after.ss_flags == before.ss_flags && after.ss_sp == before.ss_sp,
                      "inert writer left the alternate stack alone") != 0)
                return 3;
        }
        CrashByNullDereference();
        return 0;
    }

    if (std::strcmp(mode, "armed-restores") == 0) {
        // A handler was in force before: the destructor puts it back.
        std::signal(SIGSEGV, CustomHandler);
        const Snapshot previous = Take();
        {
            CCrashDumpWriter writer(NULL, NULL);
            const Snapshot armed = Take();
            for (int i = 0; i < 5; ++i) {
                if (Check(!Same(armed, previous, i), "armed writer installed its handler") != 0)
                    return 3;
                if (Check(armed.handlers[i] == armed.handlers[0], "one handler for all five signals") != 0)
                    return 3;
            }
        }
        if (Check(IsCustom(SIGSEGV), "previous SIGSEGV handler put back") != 0)
            return 3;
        const Snapshot after = Take();
        for (int i = 0; i < 5; ++i) {
            if (Check(Same(after, previous, i), "previous actions put back") != 0)
                return 3;
        }
        return 0;
    }

    if (std::strcmp(mode, "freed-segv") == 0) {
        // No handler before: after destruction the writer's handler stays in
        // force but, the library gone, writes nothing; the process still
        // dies by the signal.
        for (int sig : kSignals)
            std::signal(sig, SIG_DFL); // whatever a sanitizer runtime put there
        Snapshot armed{};
        {
            CCrashDumpWriter writer(NULL, NULL);
            armed = Take();
        }
        const Snapshot after = Take();
        for (int i = 0; i < 5; ++i) {
            if (Check(Same(after, armed, i), "handler left in force") != 0)
                return 3;
        }
        CrashByNullDereference();
        return 0;
    }

    return 2;
}
