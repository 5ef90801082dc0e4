#pragma once
#include <cstdint>

namespace engine {

// One snapshot of a torrent's state, taken in one engine round trip.
struct torrent_status {
    std::int64_t total_done = 0;              // bytes present and verified
    std::int64_t total_payload_download = 0;  // payload bytes received since added
    float download_payload_rate = 0;          // payload bytes per second
    int num_peers = 0;                        // connected peers
    bool is_seeding = false;                  // every piece present
    bool paused = false;
};

}  // namespace engine
