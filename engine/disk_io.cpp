// The engine's file storage: a libtorrent disk_interface of our own.
//
// libtorrent calls every async_* function on its network thread. Jobs are
// queued there and handed in batches to one writer thread, which writes the
// blocks and passes every job on to the hasher thread of its piece
// (settings_pack::hashing_threads of them); a hasher posts the handlers of a
// batch back to the network thread in one go. All jobs of one piece go the
// same way, so the blocks of a piece are written and hashed in the order
// they came.
//
// Files stay open in a small pool (settings_pack::file_pool_size) and are
// opened lazily, created sparse when first written. Blocks are written in
// short runs, one pwritev per file a run touches, and a block that continues
// its piece in order is hashed at once from memory: a finished piece is read
// back from disk only for the part that came out of order, or after a check
// of the files.
//
// Write buffers come from a pool of block-sized buffers bounded by
// max_queued_disk_bytes; past it, async_write answers "exceeded" and the peer
// waits until the disk_observer hears that the queue has drained.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/steady_timer.hpp>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/disk_buffer_holder.hpp>
#include <libtorrent/disk_interface.hpp>
#include <libtorrent/disk_observer.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/io_context.hpp>
#include <libtorrent/peer_request.hpp>
#include <libtorrent/performance_counters.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/storage_defs.hpp>

#include "engine/debug.h"
#include "engine/disk_io.h"

namespace lt = libtorrent;

namespace engine {
namespace {

constexpr int block_size = lt::default_block_size;

std::atomic<int> g_file_checks{0};

lt::error_code errno_code(int e) { return lt::error_code(e, boost::system::generic_category()); }

// Block-sized buffers for queued writes and for reads on their way to a
// peer. They come from one region reserved up front, max_queued_disk_bytes
// large, and the last one given back is the next one handed out, so the
// memory touched is what was ever out at once and never more than the region. Past the region
// (peers still hand over what their receive buffers hold after the limit
// was reached) a buffer comes from the heap and goes back to it.
// `exceeded` is reported from the limit on; the observers that waited are
// told when the count has fallen to half the limit again.
class block_pool final : public lt::buffer_allocator_interface {
public:
    explicit block_pool(lt::io_context& ios) : m_ios(ios) {}
    block_pool(const block_pool&) = delete;
    block_pool& operator=(const block_pool&) = delete;
    ~block_pool()
    {
        if (m_region != nullptr) ::munmap(m_region, region_bytes());
    }

    // The region is reserved at the first call; a later limit changes the
    // back-pressure only.
    void set_limit(int blocks)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_limit = std::max(blocks, 4);
        if (m_region != nullptr) return;
        m_region_blocks = m_limit;
        void* r = ::mmap(nullptr, region_bytes(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                         -1, 0);
        if (r == MAP_FAILED) {
            m_region_blocks = 0;
            return;
        }
        m_region = static_cast<char*>(r);
        m_free.reserve(static_cast<std::size_t>(m_region_blocks));
        for (int i = m_region_blocks; i-- > 0;) m_free.push_back(m_region + static_cast<std::size_t>(i) * block_size);
    }

    // nullptr when memory is exhausted. `exceeded` is set when the pool is
    // over its limit; `o` is then told once it has drained.
    char* allocate(bool& exceeded, const std::shared_ptr<lt::disk_observer>& o)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        char* b = nullptr;
        if (!m_free.empty()) {
            b = m_free.back();
            m_free.pop_back();
        } else {
            b = static_cast<char*>(std::malloc(block_size));
            if (b == nullptr) return nullptr;
        }
        ++m_out;
        if (m_out >= m_limit) m_exceeded = true;
        exceeded = m_exceeded;
        const auto same = [&o](const std::weak_ptr<lt::disk_observer>& w) {
            return !w.owner_before(o) && !o.owner_before(w);
        };
        if (m_exceeded && o && std::none_of(m_observers.begin(), m_observers.end(), same))
            m_observers.push_back(o);
        return b;
    }
    char* allocate()
    {
        bool ignored = false;
        return allocate(ignored, nullptr);
    }

    // Half the limit or more is out: queued writes should go to disk now.
    bool filling() const { return m_out.load(std::memory_order_relaxed) * 2 >= m_limit; }

    void free_disk_buffer(char* b) override
    {
        if (b != nullptr) give_back(&b, 1);
    }

    // Gives back all of `bs` under one lock, and clears it.
    void free_disk_buffers(std::vector<char*>& bs)
    {
        give_back(bs.data(), bs.size());
        bs.clear();
    }

private:
    void give_back(char* const* bs, std::size_t n)
    {
        if (n == 0) return;
        std::vector<std::weak_ptr<lt::disk_observer>> wake;
        {
            std::lock_guard<std::mutex> l(m_mutex);
            for (std::size_t i = 0; i < n; ++i) {
                char* b = bs[i];
                --m_out;
                if (in_region(b))
                    m_free.push_back(b);
                else
                    std::free(b);
            }
            if (m_exceeded && m_out <= m_limit / 2) {
                m_exceeded = false;
                wake.swap(m_observers);
            }
        }
        if (!wake.empty())
            boost::asio::post(m_ios, [wake = std::move(wake)] {
                for (const auto& w : wake)
                    if (auto o = w.lock()) o->on_disk();
            });
    }

    std::size_t region_bytes() const { return static_cast<std::size_t>(m_region_blocks) * block_size; }
    bool in_region(const char* b) const
    {
        const auto at = reinterpret_cast<std::uintptr_t>(b);
        const auto start = reinterpret_cast<std::uintptr_t>(m_region);
        return m_region != nullptr && at >= start && at - start < region_bytes();
    }

    lt::io_context& m_ios;
    std::mutex m_mutex;
    char* m_region = nullptr;
    int m_region_blocks = 0;
    std::vector<char*> m_free;  // handed out from the back
    std::vector<std::weak_ptr<lt::disk_observer>> m_observers;
    int m_limit = 64;
    std::atomic<int> m_out{0};
    bool m_exceeded = false;
};

struct open_file {
    explicit open_file(int f, bool w) : fd(f), writable(w) {}
    open_file(const open_file&) = delete;
    open_file& operator=(const open_file&) = delete;
    ~open_file() { ::close(fd); }
    int fd;
    bool writable;
};

// The open files of every torrent, the least recently used closed first.
// A file is closed once the pool and every job using it have let it go.
class file_pool {
public:
    void set_limit(int n)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_limit = std::max(n, 2);
    }

    std::shared_ptr<open_file> find(const void* owner, lt::file_index_t file)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        for (auto& e : m_entries)
            if (e.owner == owner && e.file == file) {
                e.last_use = ++m_clock;
                return e.handle;
            }
        return nullptr;
    }

    void add(const void* owner, lt::file_index_t file, std::shared_ptr<open_file> h)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [&](const entry& e) { return e.owner == owner && e.file == file; }),
                        m_entries.end());
        if (static_cast<int>(m_entries.size()) >= m_limit)
            m_entries.erase(std::min_element(m_entries.begin(), m_entries.end(),
                                             [](const entry& a, const entry& b) { return a.last_use < b.last_use; }));
        m_entries.push_back({owner, file, std::move(h), ++m_clock});
    }

    void close_all(const void* owner)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_entries.erase(
            std::remove_if(m_entries.begin(), m_entries.end(), [&](const entry& e) { return e.owner == owner; }),
            m_entries.end());
    }

private:
    struct entry {
        const void* owner;
        lt::file_index_t file;
        std::shared_ptr<open_file> handle;
        std::uint64_t last_use;
    };
    std::mutex m_mutex;
    std::vector<entry> m_entries;
    std::uint64_t m_clock = 0;
    int m_limit = 40;
};

// Blocks go to disk in runs of up to this many, one pwritev each: measured
// on ext4 (Linux 6), writing 64 KiB at a time costs the kernel a third less
// than 16 KiB at a time, and 256 KiB at a time several times more.
constexpr int max_run = 4;

struct segment {
    const char* data;
    int len;
};

// A piece being received: the SHA-1 of its first `hashed` bytes, and the
// SHA-256 of those of its v2 blocks that came. `write_failed`: a block of it
// did not reach the disk.
struct piece_state {
    int generation = 0;
    int hashed = 0;
    bool write_failed = false;
    lt::hasher sha1;
    std::vector<lt::sha256_hash> v2;
    std::vector<bool> v2_done;
};

class storage {
public:
    // Where the torrent names two files alike, or a file like another's
    // folder, libtorrent renames the later ones (x.1.bin, d.1): mapped_files
    // holds the names the files get on disk.
    storage(const lt::storage_params& p, file_pool& pool, int hashers)
        : m_files(p.mapped_files != nullptr ? *p.mapped_files : p.files), m_path(p.path), m_pool(pool),
          m_written(new std::atomic<bool>[p.files.num_files()]), m_pieces(static_cast<std::size_t>(hashers))
    {
        for (int i = 0; i < m_files.num_files(); ++i) m_written[i] = false;
    }
    ~storage() { m_pool.close_all(this); }

    const lt::file_storage& files() const { return m_files; }

    // The state of a piece owned by hasher `w`, made afresh when it is older
    // than the last check of the files.
    piece_state& piece(int w, lt::piece_index_t p)
    {
        piece_state& s = m_pieces[static_cast<std::size_t>(w)][static_cast<int>(p)];
        const int gen = m_generation.load();
        if (s.generation != gen) {
            s = piece_state{};
            s.generation = gen;
            if (m_files.v2()) {
                const int n = m_files.blocks_in_piece2(p);
                s.v2.resize(static_cast<std::size_t>(std::max(n, 0)));
                s.v2_done.assign(s.v2.size(), false);
            }
        }
        return s;
    }
    piece_state* find_piece(int w, lt::piece_index_t p)
    {
        auto& m = m_pieces[static_cast<std::size_t>(w)];
        auto it = m.find(static_cast<int>(p));
        if (it == m.end() || it->second.generation != m_generation.load()) return nullptr;
        return &it->second;
    }
    void drop_piece(int w, lt::piece_index_t p) { m_pieces[static_cast<std::size_t>(w)].erase(static_cast<int>(p)); }

    void release_files() { m_pool.close_all(this); }

    // Writes `n` (at most max_run) blocks that follow each other in a
    // piece, from (piece, offset) on, with one pwritev per file they touch;
    // pad files are skipped.
    void write(const segment* seg, int n, lt::piece_index_t piece, int offset, lt::storage_error& err)
    {
        int total = 0;
        for (int i = 0; i < n; ++i) total += seg[i].len;
        std::int64_t pos = 0;  // where the slice starts in the run
        for (const lt::file_slice& s : m_files.map_block(piece, offset, total)) {
            const std::int64_t lo = pos;
            pos += s.size;
            if (m_files.pad_file_at(s.file_index)) continue;
            auto f = open(s.file_index, true, err);
            if (!f) return;
            m_written[static_cast<int>(s.file_index)] = true;
            std::int64_t done = 0;
            while (done < s.size) {
                iovec iov[max_run];
                int k = 0;
                std::int64_t at = 0;
                for (int i = 0; i < n; ++i) {
                    const std::int64_t a = std::max(at, lo + done);
                    const std::int64_t b = std::min(at + seg[i].len, lo + s.size);
                    if (a < b) iov[k++] = {const_cast<char*>(seg[i].data + (a - at)), static_cast<std::size_t>(b - a)};
                    at += seg[i].len;
                }
                const ssize_t w = ::pwritev(f->fd, iov, k, s.offset + done);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    err = lt::storage_error(errno_code(w < 0 ? errno : ENOSPC), s.file_index, lt::operation_t::file_write);
                    return;
                }
                done += w;
            }
        }
    }

    // Reads into `buf`; pad files read as zeros. A file shorter than the
    // range is an end-of-file error, never zeros: a check of the files then
    // counts the piece as missing (a run cut off before the end of a file
    // was written leaves it short), rather than taking zeros for data that
    // may well be zeros.
    void read(char* buf, int len, lt::piece_index_t piece, int offset, lt::storage_error& err)
    {
        for (const lt::file_slice& s : m_files.map_block(piece, offset, len)) {
            char* at = buf;
            buf += s.size;
            if (m_files.pad_file_at(s.file_index)) {
                std::memset(at, 0, static_cast<std::size_t>(s.size));
                continue;
            }
            auto f = open(s.file_index, false, err);
            if (!f) return;
            std::int64_t done = 0;
            while (done < s.size) {
                const ssize_t n = ::pread(f->fd, at + done, static_cast<std::size_t>(s.size - done), s.offset + done);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    err = lt::storage_error(errno_code(errno), s.file_index, lt::operation_t::file_read);
                    return;
                }
                if (n == 0) {
                    err = lt::storage_error(boost::asio::error::eof, s.file_index, lt::operation_t::file_read);
                    return;
                }
                done += n;
            }
        }
    }

    // A file of the piece that was deleted under us (still open but
    // unlinked, or gone from the folder) is an error: what was written to
    // it is lost.
    void check_still_there(lt::piece_index_t piece, lt::storage_error& err)
    {
        for (const lt::file_slice& s : m_files.map_block(piece, 0, m_files.piece_size(piece))) {
            if (m_files.pad_file_at(s.file_index)) continue;
            auto f = open(s.file_index, false, err);
            if (!f) return;
            struct stat st {};
            if (::fstat(f->fd, &st) == 0 && st.st_nlink == 0) {
                err = lt::storage_error(errno_code(ENOENT), s.file_index, lt::operation_t::file_stat);
                return;
            }
        }
    }

    // Before the files are checked: forget every piece received, close the
    // files, create the empty ones and the symlinks. A file longer than the
    // torrent says (an older version left in the folder) is cut to its size
    // before any piece of it is checked, so a download that ends complete
    // ends with every file as the torrent has it; a shorter one stays short
    // until written, its missing end never read as zeros. Returns whether
    // any file is there.
    bool prepare_check(lt::storage_error& err)
    {
        ++m_generation;
        m_pool.close_all(this);
        bool any = false;
        for (lt::file_index_t i : m_files.file_range()) {
            m_written[static_cast<int>(i)] = false;
            if (m_files.pad_file_at(i)) continue;
            const std::string path = m_files.file_path(i, m_path);
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0) {
                any = true;
                if (S_ISREG(st.st_mode) && st.st_size > m_files.file_size(i) &&
                    ::truncate(path.c_str(), m_files.file_size(i)) != 0) {
                    err = lt::storage_error(errno_code(errno), i, lt::operation_t::file_truncate);
                    return any;
                }
                continue;
            }
            if (m_files.file_size(i) != 0) continue;
            if (!make_parent(path, i, err)) return any;
            if (m_files.file_flags(i) & lt::file_storage::flag_symlink) {
                // The target as the torrent gives it is relative to the
                // torrent's folder; the link's is relative to the link.
                const auto target = std::filesystem::path(m_files.symlink(i))
                                        .lexically_relative(std::filesystem::path(m_files.file_path(i)).parent_path());
                if (::symlink(target.c_str(), path.c_str()) != 0) {
                    err = lt::storage_error(errno_code(errno), i, lt::operation_t::symlink);
                    return any;
                }
                continue;
            }
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode(i));
            if (fd < 0) {
                err = lt::storage_error(errno_code(errno), i, lt::operation_t::file_open);
                return any;
            }
            ::close(fd);
        }
        return any;
    }

private:
    // A new file: executable where the torrent says so; the umask applies.
    mode_t mode(lt::file_index_t i) const
    {
        return m_files.file_flags(i) & lt::file_storage::flag_executable ? 0777 : 0666;
    }

    bool make_parent(const std::string& path, lt::file_index_t i, lt::storage_error& err)
    {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        if (ec) err = lt::storage_error(errno_code(ec.value()), i, lt::operation_t::mkdir);
        return !ec;
    }

    // The open file, opened for writing when `write`. A file missing at a
    // write is created, unless this storage wrote to it before: then the
    // user deleted it, and the blocks written to it are lost.
    std::shared_ptr<open_file> open(lt::file_index_t i, bool write, lt::storage_error& err)
    {
        auto f = m_pool.find(this, i);
        if (!f || (write && !f->writable)) {
            const std::string path = m_files.file_path(i, m_path);
            int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
            bool writable = fd >= 0;
            if (fd < 0 && !write && (errno == EACCES || errno == EROFS))
                fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT && write && !m_written[static_cast<int>(i)]) {
                if (!make_parent(path, i, err)) return nullptr;
                fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode(i));
                writable = true;
            }
            if (fd < 0) {
                err = lt::storage_error(errno_code(errno), i, lt::operation_t::file_open);
                return nullptr;
            }
            f = std::make_shared<open_file>(fd, writable);
            m_pool.add(this, i, f);
        }
        return f;
    }

    const lt::file_storage m_files;
    const std::string m_path;
    file_pool& m_pool;
    std::unique_ptr<std::atomic<bool>[]> m_written;  // per file: written since the last check
    std::atomic<int> m_generation{1};
    // Per hasher: its pieces in progress. Only that hasher touches them.
    std::vector<std::unordered_map<int, piece_state>> m_pieces;
};

using completion = std::function<void()>;

// What a job's function is given instead of a hasher's index when the
// back-end has stopped taking jobs: it answers at once, touching no file.
constexpr int aborted = -1;

lt::storage_error aborted_error(lt::operation_t op) { return {boost::asio::error::operation_aborted, op}; }

// A job as it goes from the network thread through the writer to a hasher.
// A block to write carries its buffer; anything else is a function the
// hasher runs. Either way the hasher gives back what the network thread
// then calls (or nothing). A fence goes through every hasher, behind all
// the jobs queued before it.
struct job {
    std::shared_ptr<storage> st;
    lt::peer_request r{};
    char* buf = nullptr;  // a block to write, or nullptr
    std::function<void(const lt::storage_error&)> written;
    lt::storage_error err;  // of the write
    std::function<completion(int hasher)> run;
    bool fence = false;
};

// A thread with a queue of its own, taken in one go.
struct worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<job> jobs;
    bool stop = false;
    std::thread thread;

    void push(std::vector<job>& batch)
    {
        {
            std::lock_guard<std::mutex> l(mutex);
            if (jobs.empty())
                jobs.swap(batch);
            else
                for (auto& j : batch) jobs.push_back(std::move(j));
        }
        batch.clear();
        wake.notify_one();
    }
    // Waits for jobs; false once stopped with none left.
    bool pop(std::vector<job>& batch)
    {
        std::unique_lock<std::mutex> l(mutex);
        wake.wait(l, [&] { return stop || !jobs.empty(); });
        if (jobs.empty()) return false;
        batch.swap(jobs);
        return true;
    }
    void finish()
    {
        {
            std::lock_guard<std::mutex> l(mutex);
            stop = true;
        }
        wake.notify_one();
    }
};

class disk_io final : public lt::disk_interface {
public:
    disk_io(lt::io_context& ios, const lt::settings_interface& settings)
        : m_ios(ios), m_settings(settings), m_blocks(ios), m_work(ios.get_executor())
    {
        settings_updated();
        const int n = std::clamp(settings.get_int(lt::settings_pack::hashing_threads), 1, 4);
        for (int i = 0; i < n; ++i) m_hashers.push_back(std::make_unique<worker>());
        m_hand_to.resize(m_hashers.size());
        m_threads_running = n + 1;
        for (int i = 0; i < n; ++i)
            m_hashers[static_cast<std::size_t>(i)]->thread = std::thread([this, i] { run_hasher(i); });
        m_writer.thread = std::thread([this] { run_writer(); });
    }
    ~disk_io() override { abort(true); }

    void settings_updated() override
    {
        m_blocks.set_limit(m_settings.get_int(lt::settings_pack::max_queued_disk_bytes) / block_size);
        m_files.set_limit(m_settings.get_int(lt::settings_pack::file_pool_size));
    }

    lt::storage_holder new_torrent(const lt::storage_params& p, const std::shared_ptr<void>&) override
    {
        auto st = std::make_shared<storage>(p, m_files, static_cast<int>(m_hashers.size()));
        for (std::size_t i = 0; i < m_storages.size(); ++i)
            if (!m_storages[i]) {
                m_storages[i] = std::move(st);
                return lt::storage_holder(lt::storage_index_t(static_cast<std::uint32_t>(i)), *this);
            }
        m_storages.push_back(std::move(st));
        return lt::storage_holder(lt::storage_index_t(static_cast<std::uint32_t>(m_storages.size() - 1)), *this);
    }

    void remove_torrent(lt::storage_index_t i) override { m_storages[static_cast<std::size_t>(i)].reset(); }

    bool async_write(lt::storage_index_t si, const lt::peer_request& r, const char* data,
                     std::shared_ptr<lt::disk_observer> o, std::function<void(const lt::storage_error&)> handler,
                     lt::disk_job_flags_t) override
    {
        if (m_aborted) {
            boost::asio::post(m_ios, [h = std::move(handler)] { h(aborted_error(lt::operation_t::file_write)); });
            return false;
        }
        bool exceeded = false;
        char* buf = m_blocks.allocate(exceeded, o);
        if (buf == nullptr) {
            const lt::storage_error err(errno_code(ENOMEM), lt::operation_t::alloc_cache_piece);
            boost::asio::post(m_ios, [h = std::move(handler), err] { h(err); });
            return false;  // no observer was noted: a peer told to wait would wait for ever
        }
        std::memcpy(buf, data, static_cast<std::size_t>(r.length));
        job j;
        j.st = at(si);
        j.r = r;
        j.buf = buf;
        j.written = std::move(handler);
        m_pending.push_back(std::move(j));
        ++m_pending_writes;
        return exceeded;
    }

    void async_read(lt::storage_index_t si, const lt::peer_request& r,
                    std::function<void(lt::disk_buffer_holder, const lt::storage_error&)> handler,
                    lt::disk_job_flags_t) override
    {
        auto st = at(si);
        queue(r.piece, [this, st, r, h = std::move(handler)](int w) mutable -> completion {
            lt::storage_error err;
            char* buf = w == aborted ? nullptr : m_blocks.allocate();
            if (w == aborted)
                err = aborted_error(lt::operation_t::file_read);
            else if (buf == nullptr)
                err = lt::storage_error(errno_code(ENOMEM), lt::operation_t::alloc_cache_piece);
            else
                st->read(buf, r.length, r.piece, r.start, err);
            auto holder = std::make_shared<lt::disk_buffer_holder>(m_blocks, buf, r.length);
            return [h = std::move(h), holder, err] { h(std::move(*holder), err); };
        });
    }

    void async_hash(lt::storage_index_t si, lt::piece_index_t piece, lt::span<lt::sha256_hash> v2,
                    lt::disk_job_flags_t flags,
                    std::function<void(lt::piece_index_t, const lt::sha1_hash&, const lt::storage_error&)> handler) override
    {
        auto st = at(si);
        const bool v1 = static_cast<bool>(flags & lt::disk_interface::v1_hash);
        queue(piece, [st, piece, v2, v1, h = std::move(handler)](int w) mutable -> completion {
            lt::storage_error err;
            lt::sha1_hash hash;
            if (w == aborted)
                err = aborted_error(lt::operation_t::file_read);
            else
                hash = hash_piece(*st, w, piece, v1, v2, err);
            return [h = std::move(h), piece, hash, err] { h(piece, hash, err); };
        });
    }

    void async_hash2(lt::storage_index_t si, lt::piece_index_t piece, int offset, lt::disk_job_flags_t,
                     std::function<void(lt::piece_index_t, const lt::sha256_hash&, const lt::storage_error&)> handler)
        override
    {
        auto st = at(si);
        queue(piece, [st, piece, offset, h = std::move(handler)](int w) mutable -> completion {
            lt::storage_error err;
            lt::sha256_hash hash;
            if (w == aborted)
                err = aborted_error(lt::operation_t::file_read);
            else
                hash = hash_block2(*st, w, piece, offset, err);
            return [h = std::move(h), piece, hash, err] { h(piece, hash, err); };
        });
    }

    // Behind every job queued before it. No resume data is ever given: any
    // file already there means a full check, which then hashes every piece
    // from disk.
    void async_check_files(lt::storage_index_t si, const lt::add_torrent_params*,
                           lt::aux::vector<std::string, lt::file_index_t>,
                           std::function<void(lt::status_t, const lt::storage_error&)> handler) override
    {
        ++g_file_checks;
        fence([st = at(si), h = std::move(handler)](bool stopped) -> completion {
            lt::storage_error err;
            const bool any = !stopped && st->prepare_check(err);
            if (stopped) err = aborted_error(lt::operation_t::check_resume);
            const lt::status_t s =
                err ? lt::status_t::fatal_disk_error : any ? lt::status_t::need_full_check : lt::status_t::no_error;
            return [h, s, err] { h(s, err); };
        });
    }

    // Both answer once every job queued before them is done, the writes on
    // disk and the hashes taken, and the files are closed. Blocks are never
    // cached, so a stop is a release.
    void async_release_files(lt::storage_index_t si, std::function<void()> handler) override
    {
        fence([st = at(si), h = std::move(handler)](bool) -> completion {
            st->release_files();
            return [h] {
                if (h) h();
            };
        });
    }
    void async_stop_torrent(lt::storage_index_t si, std::function<void()> handler) override
    {
        async_release_files(si, std::move(handler));
    }

    void async_clear_piece(lt::storage_index_t si, lt::piece_index_t piece,
                           std::function<void(lt::piece_index_t)> handler) override
    {
        // Behind the piece's queued writes: the blocks come again from peers.
        auto st = at(si);
        queue(piece, [st, piece, h = std::move(handler)](int w) mutable -> completion {
            if (w != aborted) st->drop_piece(w, piece);
            return [h = std::move(h), piece] { h(piece); };
        });
    }

    // The program never moves, renames or deletes the files, and never gives
    // files priorities: those requests fail, or (priorities) are taken as
    // they come without a part file.
    void async_move_storage(lt::storage_index_t, std::string p, lt::move_flags_t,
                            std::function<void(lt::status_t, const std::string&, const lt::storage_error&)> handler)
        override
    {
        const lt::storage_error err(errno_code(ENOTSUP), lt::operation_t::file_rename);
        boost::asio::post(m_ios, [h = std::move(handler), p, err] { h(lt::status_t::fatal_disk_error, p, err); });
    }
    void async_rename_file(lt::storage_index_t, lt::file_index_t i, std::string name,
                           std::function<void(const std::string&, lt::file_index_t, const lt::storage_error&)> handler)
        override
    {
        const lt::storage_error err(errno_code(ENOTSUP), i, lt::operation_t::file_rename);
        boost::asio::post(m_ios, [h = std::move(handler), name, i, err] { h(name, i, err); });
    }
    void async_delete_files(lt::storage_index_t, lt::remove_flags_t,
                            std::function<void(const lt::storage_error&)> handler) override
    {
        const lt::storage_error err(errno_code(ENOTSUP), lt::operation_t::file_remove);
        boost::asio::post(m_ios, [h = std::move(handler), err] { h(err); });
    }
    void async_set_file_priority(
        lt::storage_index_t, lt::aux::vector<lt::download_priority_t, lt::file_index_t> prio,
        std::function<void(const lt::storage_error&, lt::aux::vector<lt::download_priority_t, lt::file_index_t>)>
            handler) override
    {
        boost::asio::post(m_ios, [h = std::move(handler), p = std::move(prio)]() mutable {
            h(lt::storage_error(), std::move(p));
        });
    }

    void update_stats_counters(lt::counters&) const override {}
    std::vector<lt::open_file_state> get_status(lt::storage_index_t) const override { return {}; }

    void submit_jobs() override { hand_over(false); }

    // Queued jobs are finished first (no write is dropped), then the
    // threads stop: the writer, which then stops the hashers. Until the
    // last of them has posted its last handlers, the io_context has work:
    // its run() returns only once every job has been answered, so no
    // handler is dropped unrun and no buffer outlives the pool. A job asked
    // for after this fails at once.
    void abort(bool wait) override
    {
        if (!m_aborted) {
            m_alive.reset();
            m_flush_timer.cancel();
            hand_over(true);
            m_aborted = true;
            m_writer.finish();
        }
        if (!wait) return;
        if (m_writer.thread.joinable()) m_writer.thread.join();
        for (auto& h : m_hashers)
            if (h->thread.joinable()) h->thread.join();
    }

private:
    std::shared_ptr<storage> at(lt::storage_index_t i) const { return m_storages[static_cast<std::size_t>(i)]; }

    // Jobs wait on the network thread until submit_jobs() hands them to the
    // writer, which writes the blocks among them and passes every job on, in
    // the same order, to the hasher of its piece. The hasher hashes the
    // blocks, runs the other jobs, gives the buffers back and posts the
    // handlers to the network thread. One thread writes: writers of the same
    // file only wait for each other in the kernel.
    //
    // Writes are held back on the network thread until there is a piece's
    // worth of them, something else to do (the hash job that ends a piece, a
    // read), or the buffers fill up; a short timer sends on what is left when
    // the peers fall silent. So each thread wakes and posts back about once
    // per piece, not once per block.
    static constexpr int writes_per_hand_over = 64;

    void queue(lt::piece_index_t piece, std::function<completion(int hasher)> run)
    {
        if (m_aborted) {
            boost::asio::post(m_ios, run(aborted));
            return;
        }
        job j;
        j.r.piece = piece;
        j.run = std::move(run);
        m_pending.push_back(std::move(j));
        m_pending_urgent = true;
    }

    // Runs `last` once every job queued so far is done: it goes through the
    // writer and then every hasher, and the last hasher to reach it runs it
    // (`stopped` false). Handed over at once.
    void fence(std::function<completion(bool stopped)> last)
    {
        if (m_aborted) {
            boost::asio::post(m_ios, last(true));
            return;
        }
        struct state {
            std::atomic<int> left;
            std::function<completion(bool)> last;
        };
        auto f = std::make_shared<state>();
        f->left = static_cast<int>(m_hashers.size());
        f->last = std::move(last);
        job j;
        j.fence = true;
        j.run = [f](int) -> completion { return --f->left == 0 ? f->last(false) : completion(); };
        m_pending.push_back(std::move(j));
        hand_over(true);
    }

    void hand_over(bool all)
    {
        if (m_pending.empty()) return;
        if (!all && !m_pending_urgent && m_pending_writes < writes_per_hand_over && !m_blocks.filling()) {
            if (!m_flush_armed && m_alive) {
                m_flush_armed = true;
                m_flush_timer.expires_after(std::chrono::milliseconds(20));
                m_flush_timer.async_wait(
                    [this, alive = std::weak_ptr<int>(m_alive)](const boost::system::error_code& ec) {
                        if (ec || alive.expired()) return;
                        m_flush_armed = false;
                        hand_over(true);
                    });
            }
            return;
        }
        m_writer.push(m_pending);
        m_pending_writes = 0;
        m_pending_urgent = false;
    }

    std::size_t hasher_of(lt::piece_index_t piece) const
    {
        return static_cast<std::size_t>(static_cast<int>(piece)) % m_hashers.size();
    }

    void run_writer()
    {
        std::vector<job> batch;
        while (m_writer.pop(batch)) {
            for (std::size_t i = 0; i < batch.size();) {
                const job& first = batch[i];
                std::size_t n = 1;
                if (first.buf != nullptr) {
                    // The blocks that follow on in the same piece, as they
                    // mostly do, go in one run.
                    segment seg[max_run] = {{first.buf, first.r.length}};
                    for (; n < max_run && i + n < batch.size(); ++n) {
                        const job& prev = batch[i + n - 1];
                        const job& next = batch[i + n];
                        if (next.buf == nullptr || next.st != first.st || next.r.piece != first.r.piece ||
                            next.r.start != prev.r.start + prev.r.length)
                            break;
                        seg[n] = {next.buf, next.r.length};
                    }
                    lt::storage_error err;
                    first.st->write(seg, static_cast<int>(n), first.r.piece, first.r.start, err);
                    for (std::size_t k = i; k < i + n; ++k) batch[k].err = err;
                }
                for (std::size_t k = i; k < i + n; ++k) {
                    if (batch[k].fence)
                        for (auto& to : m_hand_to) to.push_back(batch[k]);
                    else
                        m_hand_to[hasher_of(batch[k].r.piece)].push_back(std::move(batch[k]));
                }
                i += n;
            }
            batch.clear();
            for (std::size_t i = 0; i < m_hashers.size(); ++i)
                if (!m_hand_to[i].empty()) m_hashers[i]->push(m_hand_to[i]);
        }
        for (auto& h : m_hashers) h->finish();
        thread_done();
    }

    // The last thread to end lets the io_context's run() return.
    void thread_done()
    {
        if (--m_threads_running == 0) m_work.reset();
    }

    void run_hasher(int index)
    {
        worker& w = *m_hashers[static_cast<std::size_t>(index)];
        std::vector<job> batch;
        std::vector<char*> used;
        std::vector<completion> done;
        // The handlers of the jobs done so far, in order, to the network thread.
        const auto post_done = [&] {
            m_blocks.free_disk_buffers(used);
            if (done.empty()) return;
            boost::asio::post(m_ios, [done = std::move(done)] {
                for (const auto& d : done) d();
            });
            done.clear();
        };
        while (w.pop(batch)) {
            for (job& j : batch) {
                if (j.fence) post_done();  // answered before whatever waits on the fence
                if (j.buf == nullptr) {
                    if (completion c = j.run(index)) done.push_back(std::move(c));
                    continue;
                }
                if (!j.err)
                    hash_written(*j.st, index, j.r, j.buf);
                else
                    j.st->piece(index, j.r.piece).write_failed = true;
                used.push_back(j.buf);
                done.push_back([h = std::move(j.written), err = j.err] { h(err); });
            }
            batch.clear();
            post_done();
        }
        thread_done();
    }

    // A block just written: hash it when it continues its piece in order.
    static void hash_written(storage& st, int w, const lt::peer_request& r, const char* buf)
    {
        piece_state& s = st.piece(w, r.piece);
        if (r.start == s.hashed) {
            s.sha1.update(buf, r.length);
            s.hashed += r.length;
        }
        const auto i = static_cast<std::size_t>(r.start / block_size);
        if (i < s.v2.size()) {
            const int len2 = std::min(r.length, st.files().piece_size2(r.piece) - r.start);
            if (len2 > 0) {
                s.v2[i] = lt::hasher256(buf, len2).final();
                s.v2_done[i] = true;
            }
        }
    }

    // A v2 block's hash: from memory when it came with its piece, else read
    // back from disk.
    static lt::sha256_hash hash_block2(storage& st, int w, lt::piece_index_t piece, int offset,
                                       lt::storage_error& err)
    {
        const auto i = static_cast<std::size_t>(offset / block_size);
        const piece_state* s = st.find_piece(w, piece);
        if (s && i < s->v2_done.size() && s->v2_done[i]) return s->v2[i];
        const int len = std::min(block_size, st.files().piece_size2(piece) - offset);
        std::vector<char> buf(static_cast<std::size_t>(std::max(len, 0)));
        st.read(buf.data(), len, piece, offset, err);
        return err ? lt::sha256_hash() : lt::hasher256(buf.data(), len).final();
    }

    // The piece's hashes: what came in order from memory, the rest read
    // back from disk.
    static lt::sha1_hash hash_piece(storage& st, int w, lt::piece_index_t piece, bool v1, lt::span<lt::sha256_hash> v2,
                                    lt::storage_error& err)
    {
        const lt::file_storage& fs = st.files();
        piece_state* s = st.find_piece(w, piece);
        if (s && s->write_failed) {
            // libtorrent has heard of the failed write and asks for the
            // piece again; an error of this job would be a second one for
            // the same incident, and a hash of what is on disk means
            // nothing. It disregards an aborted job.
            err = aborted_error(lt::operation_t::file_write);
        } else if (s) {
            st.check_still_there(piece, err);
        }
        if (err) {
            st.drop_piece(w, piece);
            return {};
        }
        lt::hasher sha1 = s ? s->sha1 : lt::hasher();
        const int from = s ? s->hashed : 0;
        const int size = v1 ? fs.piece_size(piece) : 0;
        const int size2 = v2.empty() ? 0 : fs.piece_size2(piece);
        const int blocks2 = v2.empty() ? 0 : fs.blocks_in_piece2(piece);
        char buf[block_size];
        for (int off = 0; off < std::max(size, size2); off += block_size) {
            const auto i = static_cast<std::size_t>(off / block_size);
            const bool need1 = off >= from && off < size;
            const bool have2 = s && i < s->v2_done.size() && s->v2_done[i];
            const bool need2 = static_cast<int>(i) < blocks2 && !have2;
            if (static_cast<int>(i) < blocks2 && have2) v2[static_cast<std::ptrdiff_t>(i)] = s->v2[i];
            if (!need1 && !need2) continue;
            const int len = std::min(block_size, std::max(size, size2) - off);
            st.read(buf, len, piece, off, err);
            if (err) break;
            if (need1) sha1.update(buf, std::min(len, size - off));
            if (need2) v2[static_cast<std::ptrdiff_t>(i)] = lt::hasher256(buf, std::min(len, size2 - off)).final();
        }
        st.drop_piece(w, piece);
        return v1 && !err ? sha1.final() : lt::sha1_hash();
    }

    lt::io_context& m_ios;
    const lt::settings_interface& m_settings;
    block_pool m_blocks;
    file_pool m_files;
    std::vector<std::shared_ptr<storage>> m_storages;
    worker m_writer;
    std::vector<std::unique_ptr<worker>> m_hashers;
    std::vector<std::vector<job>> m_hand_to;  // writer thread only: per hasher
    std::vector<job> m_pending;               // network thread only, until handed over
    int m_pending_writes = 0;
    bool m_pending_urgent = false;
    boost::asio::steady_timer m_flush_timer{m_ios};
    bool m_flush_armed = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);  // reset by abort()
    bool m_aborted = false;                                   // network thread only
    std::optional<boost::asio::executor_work_guard<lt::io_context::executor_type>> m_work;
    std::atomic<int> m_threads_running{0};
};

}  // namespace

std::unique_ptr<lt::disk_interface> make_disk_io(lt::io_context& ios, const lt::settings_interface& settings,
                                                 lt::counters&)
{
    return std::make_unique<disk_io>(ios, settings);
}

namespace debug {
int file_checks() { return g_file_checks.load(); }
}  // namespace debug

}  // namespace engine
