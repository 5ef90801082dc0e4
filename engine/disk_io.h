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

// Files kept open in a small pool; blocks written in short runs (one pwritev
// each) by a writer thread and hashed from memory as they arrive in order by
// a hasher thread.
std::unique_ptr<libtorrent::disk_interface> make_disk_io(boost::asio::io_context& ios,
                                                         const libtorrent::settings_interface& settings,
                                                         libtorrent::counters& counters);

}  // namespace engine
