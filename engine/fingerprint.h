#pragma once
#include <string>

namespace engine {

// The client's identity towards other peers: the engine builds the peer id
// from it ("-" name major minor revision tag "-", e.g. "-KQ0700-").
struct fingerprint {
    std::string name;  // two characters
    int major_version = 0;
    int minor_version = 0;
    int revision_version = 0;
    int tag_version = 0;
};

}  // namespace engine
