#pragma once
#include <exception>

namespace engine {

// Raised by every torrent_handle operation but is_valid() when the handle
// names no torrent (default-constructed, or the torrent has left the session).
class invalid_handle : public std::exception {
public:
    const char* what() const noexcept override { return "invalid torrent handle"; }
};

}  // namespace engine
