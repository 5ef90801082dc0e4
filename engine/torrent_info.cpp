#include "engine/torrent_info.h"

#include <stdexcept>

#include <libtorrent/bdecode.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/hex.hpp>

#include "engine/torrent_info_impl.h"

namespace lt = libtorrent;

namespace engine {

torrent_info torrent_info::from_buffer(const char* data, std::size_t len)
{
    lt::error_code ec;
    // The node points into the caller's bytes; torrent_info copies what it keeps.
    lt::bdecode_node node = lt::bdecode({data, static_cast<std::ptrdiff_t>(len)}, ec);
    if (ec) throw lt::system_error(ec, "not a bencoded .torrent");
    auto p = std::make_shared<impl>();
    p->ti = std::make_shared<const lt::torrent_info>(node);  // throws system_error
    const lt::file_storage& fs = p->ti->files();
    for (lt::file_index_t i : fs.file_range()) {
        if (fs.pad_file_at(i)) continue;
        p->files.push_back(i);
        p->total_size += fs.file_size(i);
    }
    return torrent_info(std::move(p));
}

std::int64_t torrent_info::total_size() const { return m_impl->total_size; }

std::string torrent_info::name() const { return m_impl->ti->name(); }

int torrent_info::num_files() const { return static_cast<int>(m_impl->files.size()); }

std::int64_t torrent_info::file_size(int index) const
{
    return m_impl->ti->files().file_size(m_impl->files.at(static_cast<std::size_t>(index)));
}

std::string torrent_info::file_path(int index) const
{
    return m_impl->ti->files().file_path(m_impl->files.at(static_cast<std::size_t>(index)));
}

std::string torrent_info::info_hash_hex() const
{
    return lt::aux::to_hex(m_impl->ti->info_hashes().v1);
}

}  // namespace engine
