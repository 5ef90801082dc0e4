#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// Decoded metainfo of a .torrent file. Cheap to copy (shared, immutable).
// Pad files (alignment filler some creators add) are not counted among the
// torrent's files: num_files(), file_size(), file_path() and total_size()
// describe only the files the user gets.
class torrent_info {
public:
    // Decodes the bencoded bytes [data, data + len). Throws a
    // std::exception-derived error when the bytes are not valid bencoding or
    // do not describe a torrent. The bytes need not outlive the object.
    static torrent_info from_buffer(const char* data, std::size_t len);

    std::int64_t total_size() const;
    std::string name() const;
    int num_files() const;
    std::int64_t file_size(int index) const;
    std::string file_path(int index) const;  // relative, '/'-separated
    std::string info_hash_hex() const;       // v1 info-hash, 40 hex digits

    struct impl;
    const impl& get_impl() const { return *m_impl; }

private:
    explicit torrent_info(std::shared_ptr<const impl> p) : m_impl(std::move(p)) {}
    std::shared_ptr<const impl> m_impl;
};

}  // namespace engine
