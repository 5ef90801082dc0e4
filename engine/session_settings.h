#pragma once
#include <string>

namespace engine {

// Session-wide settings in the classic vocabulary. A default-constructed
// object carries the engine's own defaults, so applying it changes nothing.
struct session_settings {
    std::string user_agent = "libtorrent/2.0.8.0";
    int num_want = 200;                          // peers asked for per announce
    bool ignore_limits_on_local_network = true;  // always so in this engine
    bool allow_multiple_connections_per_ip = false;
    int handshake_timeout = 10;                  // seconds
    int initial_picker_threshold = 4;            // pieces picked at random first
    int allowed_fast_set_size = 5;               // pieces
    int connection_speed = 30;                   // connection attempts per second
    int peer_connect_timeout = 15;               // seconds
    int min_reconnect_time = 60;                 // seconds, times (failures + 1)
    int max_failcount = 3;
};

// Protocol encryption.
struct pe_settings {
    enum enc_policy { forced, enabled, disabled };
    enum enc_level { plaintext, rc4, both };
    enc_policy out_enc_policy = enabled;
    enc_policy in_enc_policy = enabled;
    enc_level allowed_enc_level = both;
    bool prefer_rc4 = false;
};

}  // namespace engine
