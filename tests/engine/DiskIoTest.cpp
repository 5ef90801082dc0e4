// The engine's file storage at libtorrent's disk interface, without a
// session: what libtorrent relies on when it stops a torrent and when it
// shuts down.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/error.hpp>

#include <libtorrent/disk_buffer_holder.hpp>
#include <libtorrent/disk_interface.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/io_context.hpp>
#include <libtorrent/performance_counters.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/storage_defs.hpp>

#include "engine/disk_io.h"
#include "tests/support/Swarm.h"

namespace {

namespace lt = libtorrent;
constexpr int kBlock = lt::default_block_size;

// One file of `pieces` pieces of `pieceSize` bytes in a folder of its own,
// given to a fresh back-end. Declared in this order, the back-end goes before
// the io_context, as in libtorrent's session.
struct Backend {
    TempDir dir{"corvane-diskio"};
    lt::io_context ioc;
    lt::settings_pack settings;
    lt::counters counters;
    lt::file_storage files;
    lt::aux::vector<lt::download_priority_t, lt::file_index_t> priorities;
    std::unique_ptr<lt::disk_interface> disk;
    lt::storage_holder storage;

    Backend(int pieces, int pieceSize, int hashers)
    {
        settings.set_int(lt::settings_pack::hashing_threads, hashers);
        files.add_file("t/a.bin", std::int64_t(pieces) * pieceSize);
        files.set_piece_length(pieceSize);
        files.set_num_pieces(pieces);
        disk = engine::make_disk_io(ioc, settings, counters);
        const lt::storage_params params(files, nullptr, dir.Path(), lt::storage_mode_sparse, priorities,
                                        lt::sha1_hash());
        storage = disk->new_torrent(params, nullptr);
    }
    std::string FilePath() const { return dir.Path() + "/t/a.bin"; }
};

// Shut down with a check's hash jobs and a peer's read still queued, as when
// the program closes during a check: every handler runs once, before the
// io_context's run() returns (a handler dropped unrun leaves libtorrent
// waiting; a read's dropped buffer would go back to a pool already gone).
TEST(DiskIo, ShutdownAnswersEveryQueuedJobBeforeRunReturns)
{
    for (const int hashers : {1, 2}) {
        constexpr int kPiece = 16 << 20;
        Backend b(4, kPiece, hashers);
        std::filesystem::create_directories(b.dir.Path() + "/t");
        std::ofstream(b.FilePath()).close();
        std::filesystem::resize_file(b.FilePath(), 4LL * kPiece);  // sparse: zeros to hash
        std::vector<int> answered(5, 0);
        for (int p = 0; p < 4; ++p)
            b.disk->async_hash(b.storage, lt::piece_index_t(p), {}, lt::disk_interface::v1_hash,
                               [&answered, p](lt::piece_index_t, const lt::sha1_hash&, const lt::storage_error&) {
                                   ++answered[static_cast<std::size_t>(p)];
                               });
        b.disk->async_read(
            b.storage, lt::peer_request{lt::piece_index_t(1), 0, kBlock},
            [&answered](lt::disk_buffer_holder buf, const lt::storage_error&) { answered[4] += buf ? 1 : 100; });
        b.disk->submit_jobs();
        b.disk->abort(false);
        b.ioc.run();
        EXPECT_EQ(answered, std::vector<int>(5, 1)) << hashers << " hasher(s)";
    }
}

// A stop is answered once the torrent's queued writes are on disk and its
// hashes taken: libtorrent assumes no more disk activity for it then.
TEST(DiskIo, StopIsAnsweredOnceQueuedWritesAndHashesAreDone)
{
    for (const int hashers : {1, 2}) {
        constexpr int kPieces = 4, kPiece = 1 << 20;
        Backend b(kPieces, kPiece, hashers);
        std::string data(static_cast<std::size_t>(kPieces) * kPiece, '\0');
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4093);
        int written = 0, hashed = 0, stopped = 0;
        std::pair<int, int> atStop;
        bool hashesRight = true;
        std::string onDiskAtStop;
        for (int p = 0; p < kPieces; ++p) {
            for (int off = 0; off < kPiece; off += kBlock)
                b.disk->async_write(b.storage, lt::peer_request{lt::piece_index_t(p), off, kBlock},
                                    data.data() + std::size_t(p) * kPiece + off, nullptr,
                                    [&](const lt::storage_error& e) { written += !e; }, {});
            const lt::sha1_hash want = lt::hasher(data.data() + std::size_t(p) * kPiece, kPiece).final();
            b.disk->async_hash(b.storage, lt::piece_index_t(p), {}, lt::disk_interface::v1_hash,
                               [&, want](lt::piece_index_t, const lt::sha1_hash& h, const lt::storage_error& e) {
                                   ++hashed;
                                   hashesRight = hashesRight && !e && h == want;
                               });
        }
        b.disk->async_stop_torrent(b.storage, [&] {
            ++stopped;
            atStop = {written, hashed};
            onDiskAtStop.resize(data.size());
            const int fd = ::open(b.FilePath().c_str(), O_RDONLY | O_CLOEXEC);
            const ssize_t n = fd < 0 ? -1 : ::pread(fd, onDiskAtStop.data(), onDiskAtStop.size(), 0);
            if (fd >= 0) ::close(fd);
            onDiskAtStop.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        });
        b.disk->submit_jobs();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (stopped == 0 && std::chrono::steady_clock::now() < end) b.ioc.run_for(std::chrono::milliseconds(50));
        ASSERT_EQ(stopped, 1) << "no answer to the stop";
        EXPECT_EQ(atStop, std::make_pair(kPieces * kPiece / kBlock, kPieces)) << "blocks written, pieces hashed";
        EXPECT_TRUE(onDiskAtStop == data) << onDiskAtStop.size() << " bytes on disk at the stop";
        EXPECT_TRUE(hashesRight);
        b.disk->abort(false);
        b.ioc.restart();
        b.ioc.run();
    }
}

// A piece a write failed for is asked for again by libtorrent, which hears
// of the failed write first. Its hash, queued behind, is answered as aborted:
// a read error there would be a second disk error for the same incident and
// put the torrent in error (all it has then checked again from disk).
TEST(DiskIo, HashOfAPieceWhoseWriteFailedIsAborted)
{
    Backend b(1, 4 * kBlock, 1);
    std::filesystem::create_directories(b.FilePath());  // a folder where the file should be: no write succeeds
    const std::string block(kBlock, 'x');
    std::vector<lt::error_code> got;
    for (int off = 0; off < 4 * kBlock; off += kBlock)
        b.disk->async_write(b.storage, lt::peer_request{lt::piece_index_t(0), off, kBlock}, block.data(), nullptr,
                            [&](const lt::storage_error& e) { got.push_back(e.ec); }, {});
    b.disk->async_hash(b.storage, lt::piece_index_t(0), {}, lt::disk_interface::v1_hash,
                       [&](lt::piece_index_t, const lt::sha1_hash&, const lt::storage_error& e) { got.push_back(e.ec); });
    b.disk->submit_jobs();
    b.disk->abort(false);
    b.ioc.run();
    ASSERT_EQ(got.size(), 5u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[static_cast<std::size_t>(i)], boost::system::errc::is_a_directory);
    EXPECT_EQ(got[4], boost::asio::error::operation_aborted) << got[4].message();
}

}  // namespace
