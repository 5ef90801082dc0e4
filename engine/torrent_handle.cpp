#include "engine/torrent_handle.h"

namespace engine {

bool torrent_handle::is_valid() const noexcept
{
    try {
        return m_backend && m_backend->valid();
    } catch (...) {
        return false;
    }
}

detail::torrent_backend& torrent_handle::backend() const
{
    if (!m_backend) throw invalid_handle();  // the backend throws when its torrent is gone
    return *m_backend;
}

}  // namespace engine
