#pragma once
#include <string>

#include "engine/session.h"

// Read-back of the real engine's state, for tests and diagnostics.
namespace engine::debug {

// The engine's current value of the named setting (libtorrent's own setting
// names, e.g. "user_agent", "enable_dht"), as text; booleans as "0"/"1".
// Throws std::invalid_argument for an unknown name or a session that is not
// the real engine.
std::string setting(const session& s, const std::string& name);

// The value given to set_max_half_open_connections, or 0 before the call.
int half_open_limit(const session& s);

// The torrent's engine flags and storage mode, as "name=0|1" words:
// "auto_managed=0 paused=1 upload_mode=0 sparse=1 error=0".
// Throws invalid_handle for a handle that names no torrent, and
// std::invalid_argument for a handle of the fake.
std::string torrent_state(const torrent_handle& h);

// The bytes of the torrent's pieces that have passed their hash check (pad
// files included). Throws invalid_handle for a handle that names no torrent
// of the real engine.
std::int64_t verified_bytes(const torrent_handle& h);

// Whether the torrent's files are being checked. Throws invalid_handle for a
// handle that names no torrent of the real engine.
bool checking(const torrent_handle& h);

// How many times the engine's file storage has checked a torrent's files
// (when it was added, and again on every recheck), in this process.
int file_checks();

}  // namespace engine::debug
