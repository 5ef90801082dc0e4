#pragma once
// Private to engine/: the engine's own file storage, given to libtorrent's
// session through session_params::disk_io_constructor. No libtorrent header
// here; the types are only declared.
#include <memory>

namespace boost::asio {
class io_context;
}
namespace libtorrent {
struct disk_interface;
struct settings_interface;
struct counters;
}  // namespace libtorrent

namespace engine {

// Files kept open in a small pool, each block written with one pwrite and
// hashed from memory as it arrives, on a few worker threads.
std::unique_ptr<libtorrent::disk_interface> make_disk_io(boost::asio::io_context& ios,
                                                         const libtorrent::settings_interface& settings,
                                                         libtorrent::counters& counters);

}  // namespace engine
