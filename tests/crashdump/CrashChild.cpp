// The program the crash-dump tests start: "crashdump_child MODE BASE DIR"
// arms CCrashDumpWriter with the names given ("-" for NULL, as the
// application passes them), then crashes as MODE says. Exit 0 = the check of
// "restores" held, 2 = bad usage, 3 = a check failed.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
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

__attribute__((noinline)) void AbortOnSecondThread() { std::abort(); }

__attribute__((noinline)) void MainThreadWaitsForWorker(void (*work)())
{
    std::thread(work).join();
    g_sink = 2;
}

__attribute__((noinline)) void ThrowUncaught() { throw std::runtime_error("nobody catches this"); }

__attribute__((noinline)) int OverflowTheStack(int depth)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    // Not a tail call; the test of g_sink keeps the compiler from calling
    // this endless.
    return g_sink == -1 ? 0 : OverflowTheStack(depth + 1) + frame[0];
}

long UtcOffsetNow()
{
    const time_t now = time(nullptr);
    tm local{};
    return localtime_r(&now, &local)->tm_gmtoff;
}

void CustomHandler(int) {}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const std::string mode = argv[1];
    const char* base = std::strcmp(argv[2], "-") == 0 ? nullptr : argv[2];
    const char* dir = std::strcmp(argv[3], "-") == 0 ? nullptr : argv[3];
    if (mode == "restores") { // the destructor puts a previous handler back
        std::signal(SIGSEGV, CustomHandler);
        { CCrashDumpWriter writer(base, dir); }
        return std::signal(SIGSEGV, SIG_DFL) == CustomHandler ? 0 : 3;
    }
    static CCrashDumpWriter s_writer(base, dir);
    // "zone-change": crash once the zone has changed its offset (within 10 s).
    for (long start = UtcOffsetNow(), i = 0; mode == "zone-change" && i < 1000 && UtcOffsetNow() == start; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (mode == "segv" || mode == "zone-change")
        CrashByNullDereference();
    if (mode == "abort-thread")
        MainThreadWaitsForWorker(AbortOnSecondThread);
    if (mode == "throw")
        ThrowUncaught();
    if (mode == "overflow")
        g_sink = OverflowTheStack(0);
    return 2;
}
