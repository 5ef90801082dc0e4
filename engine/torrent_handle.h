#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/invalid_handle.h"
#include "engine/torrent_status.h"

namespace engine {

namespace detail {
// What a handle forwards to: the real engine's torrent or the fake.
// valid() never throws; the other calls may throw invalid_handle.
class torrent_backend {
public:
    virtual ~torrent_backend() = default;
    virtual bool valid() const = 0;
    virtual torrent_status status() const = 0;
    virtual bool is_seed() const = 0;
    virtual bool is_paused() const = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual std::int64_t total_size() const = 0;
    virtual std::string name() const = 0;
    virtual void force_reannounce() = 0;
    virtual int peer_count() const = 0;
    virtual void add_url_seed(const std::string& url) = 0;
    virtual void set_max_connections(int n) = 0;
    virtual void set_max_uploads(int n) = 0;
    virtual void set_upload_limit(int bytes_per_second) = 0;
    virtual void set_download_limit(int bytes_per_second) = 0;
};
}  // namespace detail

// Names one torrent of a session. A value type: copies name the same
// torrent. A default-constructed handle names no torrent.
//
// is_valid() is true while the torrent belongs to its session. This engine
// never drops a torrent by itself: a torrent whose files fail to check, or
// that meets any other disk error, stays in the session paused with its
// error (is_valid() stays true) until resume() clears the error and tries
// again. The handle stops naming a torrent when the session ends.
// Every call but is_valid() throws invalid_handle when the handle names no
// torrent, also when the torrent goes away between two calls.
class torrent_handle {
public:
    torrent_handle() = default;
    explicit torrent_handle(std::shared_ptr<detail::torrent_backend> backend)
        : m_backend(std::move(backend)) {}

    bool is_valid() const noexcept;

    bool is_seed() const { return backend().is_seed(); }
    bool is_paused() const { return backend().is_paused(); }
    void pause() { backend().pause(); }
    // Also clears a disk error (and the upload-only state the engine falls
    // back to on a full disk), so the download goes on from what is
    // verified; after a file went missing or could not be read, the files
    // are checked again first.
    void resume() { backend().resume(); }
    torrent_status status() const { return backend().status(); }
    std::int64_t total_size() const { return backend().total_size(); }
    std::string name() const { return backend().name(); }
    // Announces to the trackers now, even inside a tracker's minimum interval.
    void force_reannounce() { backend().force_reannounce(); }
    // Number of peer connections of the torrent (the engine's peer list).
    int peer_count() const { return backend().peer_count(); }
    void add_url_seed(const std::string& url) { backend().add_url_seed(url); }
    void set_max_connections(int n) { backend().set_max_connections(n); }
    void set_max_uploads(int n) { backend().set_max_uploads(n); }
    // Bytes per second; 0 or less is unlimited.
    void set_upload_limit(int limit) { backend().set_upload_limit(limit); }
    void set_download_limit(int limit) { backend().set_download_limit(limit); }

    detail::torrent_backend* get_backend() const { return m_backend.get(); }

private:
    detail::torrent_backend& backend() const;
    std::shared_ptr<detail::torrent_backend> m_backend;
};

}  // namespace engine
