// The BitTorrent engine's set-up for the program's download: the session's
// limits, settings, port mappers, encryption and listening ports, and the
// limits of the torrent once added.
#pragma once

#include "engine/session.h"
#include "engine/torrent_handle.h"

// Configures a fresh session and makes it listen on 6881-6889. Throws what
// the engine throws.
void ConfigureSession(engine::session& session);

// The per-torrent limits, set right after the torrent is added.
void ConfigureTorrent(engine::torrent_handle& handle);
