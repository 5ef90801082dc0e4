#pragma once
// CCrashDumpWriter: makes the process leave a minidump file when it dies of a
// fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT — an uncaught C++
// exception ends in SIGABRT) on any thread.
//
// The constructor loads the dump-writing library "libdbghelp.so" by name
// from the executable's folder and, only when that worked, installs a
// fatal-signal handler for the five signals. Without the library the writer
// is inert: no handler changes and the program runs without crash dumps.
// Nothing is ever shown or reported; every failure is silent.
//
// In a crash the handler names the file
//   "<dir>/<base>_YYYY-MM-DD_hh-mm-ss.DMP" (local time, cut at 259 chars),
// creates it (truncating a dump of ours of the same name, never following
// a link planted under that name), lets the library write the
// dump, then puts the previous action back and re-raises the signal, so the
// process still dies with it (same exit status, same core dump as before).
//
// Use exactly one instance per process (the state it sets up is per process),
// constructed early on the main thread:
//     static CCrashDumpWriter s_crashDumpWriter(NULL, NULL);

#include <signal.h>

#include "crashdump/DbgHelp.h"

class CCrashDumpWriter {
public:
    // Base name of the dump files (NULL or empty: the executable's file name
    // without directory and extension) and the directory they go to (NULL:
    // the current directory; created when its parent exists).
    CCrashDumpWriter(const char* pszBaseName = nullptr, const char* pszDirectory = nullptr);
    ~CCrashDumpWriter();

    CCrashDumpWriter(const CCrashDumpWriter&) = delete;
    CCrashDumpWriter& operator=(const CCrashDumpWriter&) = delete;

    // The filter: writes the dump of every thread, with the calling one as
    // the faulting thread, and returns EXCEPTION_CONTINUE_SEARCH (0) on every
    // path. Called by the fatal-signal handler; async-signal-safe.
    static long OnUnhandledException(EXCEPTION_POINTERS* pExceptionInfo);

    // Fills the base name from the executable's file name.
    static void SetDefaultBaseName();

private:
    // The signal actions in force before this writer's handler was
    // installed; NULL when the library did not load, and also when all of
    // them were the default action (there was no handler to put back).
    const struct sigaction* m_pfnPrevFilter;
};
