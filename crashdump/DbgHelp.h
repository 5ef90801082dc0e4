#pragma once
// The interface of the dump-writing library, "libdbghelp.so", which
// CCrashDumpWriter loads by name from the executable's folder. The library
// exports one function, MiniDumpWriteDump, with an argument list modelled on
// the Windows debugging help library's: process id, the open file, the dump
// type, the exception of the faulting thread, user streams and a callback.
// It writes a Linux minidump (the Breakpad flavour of the minidump format).

#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

#define CORVANE_DBGHELP_LIBRARY "libdbghelp.so"

extern "C" {

typedef enum _MINIDUMP_TYPE { MiniDumpNormal = 0 } MINIDUMP_TYPE;

// What the fatal-signal handler received: the signal, its siginfo and the
// faulting thread's machine context.
typedef struct _EXCEPTION_POINTERS {
    int Signal;
    siginfo_t* SignalInfo;
    ucontext_t* Context;
} EXCEPTION_POINTERS;

typedef struct _MINIDUMP_EXCEPTION_INFORMATION {
    pid_t ThreadId;                         // the faulting thread (gettid)
    EXCEPTION_POINTERS* ExceptionPointers;  // may be NULL: no exception stream
    int ClientPointers;                     // always 0: pointers are ours
} MINIDUMP_EXCEPTION_INFORMATION;

// Accepted for the shape of the call; the writer uses neither.
typedef struct _MINIDUMP_USER_STREAM_INFORMATION MINIDUMP_USER_STREAM_INFORMATION;
typedef struct _MINIDUMP_CALLBACK_INFORMATION MINIDUMP_CALLBACK_INFORMATION;

// Writes a minidump of the calling process, every thread of it, into hFile
// (an open, writable file descriptor positioned anywhere; the dump is written
// from offset 0). The other threads are stopped while it is written, by a
// helper process that traces them; where tracing is not allowed, the dump
// holds the faulting thread alone.
// Async-signal-safe: no heap, no stdio, no locks. Returns 1 on success, 0 when
// some part could not be written.
int MiniDumpWriteDump(pid_t ProcessId, int hFile, MINIDUMP_TYPE DumpType,
                      const MINIDUMP_EXCEPTION_INFORMATION* ExceptionParam,
                      const MINIDUMP_USER_STREAM_INFORMATION* UserStreamParam,
                      const MINIDUMP_CALLBACK_INFORMATION* CallbackParam);

typedef int (*MINIDUMPWRITEDUMP)(pid_t, int, MINIDUMP_TYPE,
                                 const MINIDUMP_EXCEPTION_INFORMATION*,
                                 const MINIDUMP_USER_STREAM_INFORMATION*,
                                 const MINIDUMP_CALLBACK_INFORMATION*);
}
