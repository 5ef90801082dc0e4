// Fuzz target: the .torrent as the program takes it from the server,
// decoded over the reported length, its name and total size read, and the
// torrent added to a real engine session (not listening), then its handle
// read as the display does.
//
// The engine runs: this process moves itself into a private network
// namespace with only loopback up before anything else, so trackers and web
// seeds named by an input are never reached. One session serves many inputs;
// it is replaced after a bounded number of torrents, because the engine has
// no way to drop a torrent and they would pile up otherwise.
#include "engine/session.h"
#include "engine/torrent_info.h"
#include "tests/support/Swarm.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <stdlib.h>

namespace {

constexpr std::size_t kMaxBody = 511999;      // the program's buffer, less its NUL
constexpr int kTorrentsPerSession = 200;

std::unique_ptr<engine::session> g_session;
std::string g_saveDir;
int g_added = 0;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

engine::session& Session()
{
    if (!g_session || g_added >= kTorrentsPerSession) {
        g_session.reset();  // stops the engine first
        engine::fingerprint fp;
        fp.name = "KQ";
        fp.minor_version = 7;
        g_session = engine::make_session(fp);
        g_session->add_extension_ut_pex();
        g_session->set_alert_severity_info();
        g_added = 0;
    }
    return *g_session;
}

// A relative path that stays inside the save folder.
bool StaysInside(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0 && end - start == 2)
            return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    std::string why;
    if (!IsolateNetwork(false, &why)) {
        std::fprintf(stderr, "cannot isolate the network (%s): the engine is not started\n", why.c_str());
        std::exit(1);
    }
    char tmpl[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    g_saveDir = tmpl;
    // At exit the engine stops first, then its folder goes.
    std::atexit([] {
        g_session.reset();
        std::error_code ec;
        std::filesystem::remove_all(g_saveDir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > kMaxBody)
        return 0;
    // As in the program: the bytes stand in a zeroed buffer followed by a NUL,
    // and are decoded over the reported length.
    std::vector<char> buffer(size + 1, '\0');
    std::copy(data, data + size, buffer.begin());

    std::optional<engine::torrent_info> ti;
    try {
        ti = engine::torrent_info::from_buffer(buffer.data(), size);
    } catch (const std::exception&) {
        return 0;  // message (5) in the program
    }

    // What the program and the display read from the metainfo.
    const std::string name = ti->name();
    const std::int64_t total = ti->total_size();
    std::int64_t sum = 0;
    for (int i = 0; i < ti->num_files(); ++i) {
        const std::int64_t fileSize = ti->file_size(i);
        if (fileSize < 0)
            Fail("negative file size");
        sum += fileSize;
        // Files are written under the folder the user chose, never elsewhere.
        if (!StaysInside(ti->file_path(i)))
            Fail("a file path leaves the save folder");
    }
    if (sum != total || total < 0)
        Fail("total size is not the sum of the file sizes");
    if (ti->info_hash_hex().size() != 40)
        Fail("info-hash is not 40 hex digits");

    engine::session& session = Session();
    try {
        engine::torrent_handle h = session.add_torrent(*ti, g_saveDir);
        ++g_added;
        if (!h.is_valid())
            Fail("an added torrent has no valid handle");
        if (h.total_size() != total)
            Fail("the handle's total size differs from the metainfo's");
        (void)h.name();
        (void)h.is_seed();
        (void)h.is_paused();
        const engine::torrent_status st = h.status();
        (void)st;
        std::vector<float> progress;
        h.file_progress(progress);
        if (static_cast<int>(progress.size()) != ti->num_files())
            Fail("one progress fraction per file expected");
        for (float f : progress)
            if (!(f >= 0.0f && f <= 1.0f))
                Fail("a file progress outside 0..1");
        (void)h.peer_count();
    } catch (const std::exception&) {
        // The same torrent added twice, say: message (5) in the program.
    }
    (void)session.pop_alerts();
    (void)name;
    return 0;
}
