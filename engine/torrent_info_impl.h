#pragma once
// Private to engine/: the libtorrent object behind engine::torrent_info.
#include <memory>
#include <vector>

#include <libtorrent/torrent_info.hpp>

#include "engine/torrent_info.h"

namespace engine {

struct torrent_info::impl {
    std::shared_ptr<const libtorrent::torrent_info> ti;
    std::vector<libtorrent::file_index_t> files;  // the torrent's files, pad files left out
    std::int64_t total_size = 0;                  // their sizes summed
};

}  // namespace engine
