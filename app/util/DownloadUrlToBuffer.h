#pragma once

#include <chrono>
#include <cstdint>

// The caller's buffer size: the body and its terminating NUL must fit, so the
// longest body accepted is one byte shorter.
constexpr std::uint32_t kDownloadBufferSize = 512000;

// Fetches url (NUL-terminated UTF-16) with an HTTP(S) GET into buffer, which
// must hold kDownloadBufferSize bytes, and stores a NUL after the body.
// Returns 1 when the transfer ended normally with at least one byte stored,
// else 0. The HTTP status is never looked at: an error page is content.
//
//   outcome                   result  *length   buffer                 *elapsedMs
//   empty URL / null buffer   0       -         untouched              -
//   cannot start a transfer   0       -         untouched              0
//   connection fails          0       -         untouched              time spent trying
//   body reaches the limit    0       -         bytes so far, no NUL   0
//   transfer breaks off       0       -         bytes so far, no NUL   time spent trying
//   empty body                0       0         NUL in first byte      0
//   success                   1       bytes     body, then NUL         time taken
//
// ("-" = not written.) A transfer breaks off when the server closes before
// the announced end of the body, when no byte arrives for the stall
// time-out, or when it outlasts the total time-out: a truncated body is never taken as the content. Times are whole
// milliseconds from a monotonic clock, rounded up. elapsedMs may be null.
// Blocks the calling thread; it keeps no state between calls.
int DownloadUrlToBuffer(const char16_t* url, char* buffer, std::uint32_t* length,
                        std::uint32_t* elapsedMs);

// Time-outs of every fetch: connecting (name lookup, TCP and TLS set-up),
// the longest time without a single byte received once connected, and the
// whole transfer: a server that trickles a byte now and then must not hold
// the window for hours either. Three minutes fetch the largest body the
// buffer takes (under 500 KiB) at under 3 KiB/s.
struct DownloadTimeouts {
    std::chrono::milliseconds connect{15000};
    std::chrono::seconds stall{30};
    std::chrono::seconds total{180};
};

// For tests only: replaces the time-outs of later fetches, so a stalled
// server can be tested in seconds. Returns the previous values.
DownloadTimeouts SetDownloadTimeoutsForTesting(const DownloadTimeouts& timeouts);
