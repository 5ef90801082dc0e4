#include "tests/support/Swarm.h"

#include <QCryptographicHash>
#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#include <libtorrent/bencode.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/hex.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/torrent_info.hpp>

namespace fs = std::filesystem;
namespace lt = libtorrent;

namespace {
bool PortAccepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

lt::span<char const> Span(const std::string& s) { return {s.data(), static_cast<std::ptrdiff_t>(s.size())}; }

// The payload of a made torrent, its files as libtorrent names them on disk.
Payload Finish(const std::string& dataDir, const std::string& name, lt::create_torrent& ct)
{
    Payload p{dataDir, name, {}, {}, 0, {}, (fs::path(dataDir) / (name + ".torrent")).string(), {}};
    lt::bencode(std::back_inserter(p.torrent), ct.generate());
    const lt::torrent_info ti(Span(p.torrent), lt::from_span);
    for (lt::file_index_t i : ti.files().file_range()) {
        if (ti.files().pad_file_at(i) || (ti.files().file_flags(i) & lt::file_storage::flag_symlink)) continue;
        p.files.push_back(ti.files().file_path(i));
        p.sizes.push_back(ti.files().file_size(i));
        p.totalSize += p.sizes.back();
    }
    p.infoHashHex = lt::aux::to_hex(ti.info_hashes().v1);
    std::ofstream(p.torrentPath, std::ios::binary) << p.torrent;
    return p;
}
}  // namespace

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return ntohs(a.sin_port);
}

TempDir::TempDir(const std::string& prefix) : m_path((fs::temp_directory_path() / (prefix + "-XXXXXX")).string())
{
    if (!::mkdtemp(m_path.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

Payload MakePayload(const std::string& dataDir, const std::string& name, const std::vector<std::int64_t>& fileSizes,
                    const std::vector<std::string>& trackers, const std::vector<std::string>& webSeeds, bool hybrid,
                    unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::vector<std::uint64_t> buf(1 << 17);
    for (std::size_t i = 0; i < fileSizes.size(); ++i) {
        // Every third file goes into a subfolder, so paths have depth.
        const std::string leaf = "file-" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + ".bin";
        const fs::path full = fs::path(dataDir) / name / (i % 3 == 2 ? "more/" + leaf : leaf);
        fs::create_directories(full.parent_path());
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        for (std::int64_t left = fileSizes[i]; left > 0; left -= std::int64_t(buf.size() * 8)) {
            for (auto& word : buf) word = seed != 0 ? rng() : 0;
            out.write(reinterpret_cast<const char*>(buf.data()), std::min<std::int64_t>(left, buf.size() * 8));
        }
        if (!out) throw std::runtime_error("cannot write " + full.string());
    }
    lt::file_storage files;
    lt::add_files(files, (fs::path(dataDir) / name).string());
    lt::create_torrent ct(files, 0, hybrid ? lt::create_flags_t{} : lt::create_torrent::v1_only);
    for (const auto& t : trackers) ct.add_tracker(t);
    for (const auto& w : webSeeds) ct.add_url_seed(w);
    lt::set_piece_hashes(ct, dataDir);
    return Finish(dataDir, name, ct);
}

Payload MakeLaidOutPayload(const std::string& dataDir, const std::string& name,
                           const std::vector<PayloadFile>& layout, const std::vector<std::string>& trackers)
{
    lt::file_storage files;
    for (const PayloadFile& f : layout) {
        lt::file_flags_t flags{};
        if (f.executable) flags |= lt::file_storage::flag_executable;
        if (!f.symlinkTo.empty()) flags |= lt::file_storage::flag_symlink;
        files.add_file(name + "/" + f.path, f.symlinkTo.empty() ? f.size : 0, flags, 0,
                       f.symlinkTo);
    }
    lt::create_torrent ct(files, 0, lt::create_torrent::v1_only | lt::create_torrent::symlinks);
    for (const auto& t : trackers) ct.add_tracker(t);
    // The payload as one stream, as the pieces see it.
    std::mt19937_64 rng(7);
    std::string stream(static_cast<std::size_t>(ct.files().total_size()), '\0');
    for (char& c : stream) c = static_cast<char>(rng());
    for (lt::piece_index_t i : ct.files().piece_range()) {
        const std::int64_t at = static_cast<std::int64_t>(static_cast<int>(i)) * ct.piece_length();
        ct.set_hash(i, lt::hasher(stream.data() + at, ct.files().piece_size(i)).final());
    }
    Payload p = Finish(dataDir, name, ct);
    const lt::torrent_info ti(Span(p.torrent), lt::from_span);
    for (lt::file_index_t i : ti.files().file_range()) {
        if (ti.files().file_flags(i) & lt::file_storage::flag_symlink) continue;
        const fs::path full = fs::path(dataDir) / ti.files().file_path(i);
        fs::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary)
            .write(stream.data() + ti.files().file_offset(i), static_cast<std::streamsize>(ti.files().file_size(i)));
    }
    return p;
}

std::string Sha256OfFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result().toHex().toStdString() : "";
}

std::int64_t BytesOnDisk(const std::string& dir)
{
    std::int64_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
        struct stat st {};
        if (::stat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) n += st.st_blocks * 512;
    }
    return n;
}

std::vector<std::string> DifferingFiles(const Payload& p, const std::string& downloadDir)
{
    std::vector<std::string> differ;
    for (const auto& f : p.files) {
        const std::string got = Sha256OfFile(downloadDir + "/" + f);
        if (got.empty() || got != Sha256OfFile(p.dataDir + "/" + f)) differ.push_back(f);
    }
    return differ;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logPath) : m_logPath(logPath)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // dies with the test
        if (::getppid() != parent) ::_exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
}

bool ChildProcess::Running()
{
    if (m_pid > 0 && ::waitpid(m_pid, &m_waitStatus, WNOHANG) == m_pid) m_pid = -1;
    return m_pid > 0;
}

void ChildProcess::Stop()
{
    if (!Running()) return;
    ::kill(m_pid, SIGTERM);
    if (!WaitUntil([&] { return !Running(); }, std::chrono::seconds(5))) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &m_waitStatus, 0);
    }
    m_pid = -1;
}

std::string ChildProcess::Log() const
{
    std::ifstream in(m_logPath);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Tracker::Tracker(const std::vector<std::string>& infoHashesHex) : m_port(FreePort()), m_hashes(infoHashesHex)
{
    Allow({});
}

void Tracker::Allow(const std::string& infoHashHex)
{
    if (!infoHashHex.empty()) m_hashes.push_back(infoHashHex);
    m_process.reset();
    std::ofstream whitelist(m_dir.Path() + "/whitelist");
    for (const auto& h : m_hashes) whitelist << h << "\n";
    whitelist.close();
    // opentracker reads the whitelist from -d. It refuses to run as root
    // (which the test namespace makes us): a user namespace makes it nobody.
    const std::string port = std::to_string(m_port);
    std::vector<std::string> argv{"opentracker", "-i", "127.0.0.1", "-p", port, "-P", port, "-d", m_dir.Path(),
                                  "-w", "whitelist"};
    if (::geteuid() == 0) argv.insert(argv.begin(), {"unshare", "--user"});
    m_process = std::make_unique<ChildProcess>(argv, m_dir.Path() + "/opentracker.log");
    if (!WaitUntil([&] { return PortAccepts(m_port); }, std::chrono::seconds(10)))
        throw std::runtime_error("opentracker did not start: " + m_process->Log());
}

Payload MakeTrackedPayload(Tracker& tracker, const std::string& dataDir, const std::string& name,
                           const std::vector<std::int64_t>& fileSizes)
{
    Payload p = MakePayload(dataDir, name, fileSizes, {tracker.AnnounceUrl()});
    tracker.Allow(p.infoHashHex);
    return p;
}

Aria2Seeder::Aria2Seeder(const Payload& p, int uploadLimit) : m_port(FreePort())
{
    std::vector<std::string> argv{"aria2c", "--enable-dht=false", "--enable-dht6=false", "--bt-enable-lpd=false",
                                  "--enable-peer-exchange=false", "--seed-ratio=0.0", "--check-integrity=true",
                                  "--listen-port=" + std::to_string(m_port), "--file-allocation=none",
                                  "--disable-ipv6=true", "--summary-interval=0", "--console-log-level=warn",
                                  "--dir=" + p.dataDir, "--dht-file-path=" + m_dir.Path() + "/dht.dat",
                                  "--max-overall-upload-limit=" + std::to_string(uploadLimit), p.torrentPath};
    m_process = std::make_unique<ChildProcess>(argv, m_dir.Path() + "/aria2c.log");
}

bool Aria2Seeder::WaitReady(std::chrono::milliseconds timeout)
{
    return WaitUntil([&] { return PortAccepts(m_port); }, timeout);
}

struct LibtorrentSeeder::Impl {
    std::unique_ptr<lt::session> ses;
    lt::torrent_handle h;
};

LibtorrentSeeder::LibtorrentSeeder(const Payload& p, int uploadLimit) : m_impl(std::make_unique<Impl>())
{
    lt::settings_pack s;
    s.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:" + std::to_string(FreePort()));
    for (const int off : {lt::settings_pack::enable_dht, lt::settings_pack::enable_lsd, lt::settings_pack::enable_upnp,
                          lt::settings_pack::enable_natpmp, lt::settings_pack::enable_outgoing_utp,
                          lt::settings_pack::enable_incoming_utp})
        s.set_bool(off, false);
    s.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    s.set_int(lt::settings_pack::alert_mask, 0);
    m_impl->ses = std::make_unique<lt::session>(lt::session_params(std::move(s)));
    lt::add_torrent_params atp;
    atp.ti = std::make_shared<lt::torrent_info>(Span(p.torrent), lt::from_span);
    atp.save_path = p.dataDir;
    atp.flags = (atp.flags | lt::torrent_flags::seed_mode) & ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
    m_impl->h = m_impl->ses->add_torrent(std::move(atp));
    SetUploadLimit(uploadLimit);
}

LibtorrentSeeder::~LibtorrentSeeder() = default;

int LibtorrentSeeder::Port() const { return m_impl->ses->listen_port(); }

void LibtorrentSeeder::SetUploadLimit(int bytesPerSecond) { m_impl->h.set_upload_limit(bytesPerSecond); }
