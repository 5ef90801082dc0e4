#pragma once
// The program's engine set-up, for the engine tests: its session
// configuration and identity, and a torrent added as the program adds it.
#include <string>

#include "app/Identity.h"
#include "app/SessionSetup.h"
#include "engine/session.h"
#include "engine/torrent_info.h"

namespace enginetest {

inline engine::torrent_handle AddLikeTheProgram(engine::session& s, const std::string& torrent,
                                                const std::string& savePath)
{
    engine::torrent_handle h =
        s.add_torrent(engine::torrent_info::from_buffer(torrent.data(), torrent.size()), savePath);
    ConfigureTorrent(h);
    return h;
}

}  // namespace enginetest
