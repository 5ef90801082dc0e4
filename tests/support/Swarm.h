#pragma once
// A BitTorrent swarm on loopback for tests and benchmarks: a generated
// multi-file payload with its .torrent, a tracker (opentracker), seeders
// (aria2c, or a libtorrent session of the test's own). Run only inside the
// private network that the test main sets up.
//
//   Tracker tracker;                        // opentracker on a free port
//   Payload p = MakeTrackedPayload(tracker, dir, "pack", {3 << 20, 0, 1 << 20});
//   LibtorrentSeeder seeder(p);             // or Aria2Seeder seeder(p);
//   ... download into `out` ...
//   EXPECT_EQ(DifferingFiles(p, out), std::vector<std::string>{});
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Polls pred every 50 ms until it returns true or the timeout passes.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
// A free TCP port on 127.0.0.1 (asked from the kernel, then released).
int FreePort();

// A fresh empty directory under $TMPDIR, removed with its contents by the destructor.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "corvane");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct Payload {
    std::string dataDir;                 // holds the folder `name`
    std::string name;                    // the torrent's name (its top folder)
    std::vector<std::string> files;      // relative to dataDir, e.g. "pack/file-1.bin"
    std::vector<std::int64_t> sizes;
    std::int64_t totalSize = 0;
    std::string torrent;                 // the .torrent's bytes
    std::string torrentPath;             // the .torrent written next to dataDir's folder
    std::string infoHashHex;             // v1 info-hash, 40 hex digits
};

// Writes files of pseudo-random bytes (seeded by `seed`; zeros for 0) with the given sizes
// under dataDir/name/, and a .torrent for them (version 1, no pad files,
// unless hybrid) naming the trackers and web seeds given.
Payload MakePayload(const std::string& dataDir, const std::string& name, const std::vector<std::int64_t>& fileSizes,
                    const std::vector<std::string>& trackers, const std::vector<std::string>& webSeeds = {},
                    bool hybrid = false, unsigned seed = 1);
// A file of a laid-out payload: its path under the torrent's folder (two
// files may have one path, or a file the path of another's folder), its
// size, the torrent's executable attribute, or a symlink to another path.
struct PayloadFile {
    std::string path;
    std::int64_t size = 0;
    bool executable = false;
    std::string symlinkTo;
};
// A .torrent (version 1) for files laid out as given, of pseudo-random
// bytes, with the data written under dataDir/name/ by the names libtorrent
// gives them (it renames colliding paths: x.1.bin, d.1). Payload::files
// holds those names; symlinks are left out of it.
Payload MakeLaidOutPayload(const std::string& dataDir, const std::string& name,
                           const std::vector<PayloadFile>& layout, const std::vector<std::string>& trackers);
// SHA-256 of a file as 64 hex digits ("" when it cannot be read).
std::string Sha256OfFile(const std::string& path);
// The payload's files whose copy under downloadDir is missing or differs.
std::vector<std::string> DifferingFiles(const Payload& p, const std::string& downloadDir);
// Bytes written under a folder (sparse files count only what was written);
// 0 for a folder that is not there yet.
std::int64_t BytesOnDisk(const std::string& dir);

// A child process with its output in a log file; killed (SIGTERM, then
// SIGKILL after 5 s) by Stop() or the destructor, and by the kernel when the
// test process dies.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& logPath);
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    bool Running();
    void Stop();
    int Pid() const { return m_pid; }
    std::string Log() const;
    // How the process ended (a waitpid() status) once Running() or Stop() saw it end; -1 before.
    int WaitStatus() const { return m_waitStatus; }

private:
    int m_pid = -1;
    int m_waitStatus = -1;
    std::string m_logPath;
};

// opentracker on 127.0.0.1 (HTTP and UDP on one free port). Debian's build
// tracks only whitelisted info-hashes: Allow() them before the first announce
// (it restarts the tracker on its port).
class Tracker {
public:
    explicit Tracker(const std::vector<std::string>& infoHashesHex = {});
    int Port() const { return m_port; }
    std::string AnnounceUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/announce"; }
    void Allow(const std::string& infoHashHex);

private:
    TempDir m_dir{"corvane-tracker"};
    int m_port;
    std::vector<std::string> m_hashes;
    std::unique_ptr<ChildProcess> m_process;
};

// MakePayload for a .torrent announcing to `tracker`, which is told to track it.
Payload MakeTrackedPayload(Tracker& tracker, const std::string& dataDir, const std::string& name,
                           const std::vector<std::int64_t>& fileSizes);

// aria2c seeding the payload from its dataDir (checks it first), announcing
// to the trackers of the .torrent, on 127.0.0.1:Port(). uploadLimit (bytes
// per second, 0 = none) slows it, for a download that must still be running
// when the test acts.
class Aria2Seeder {
public:
    explicit Aria2Seeder(const Payload& p, int uploadLimit = 0);
    int Port() const { return m_port; }
    // True once the port accepts connections (the check is done).
    bool WaitReady(std::chrono::milliseconds timeout);

private:
    TempDir m_dir{"corvane-aria2"};
    int m_port;
    std::unique_ptr<ChildProcess> m_process;
};

// A second libtorrent session seeding the payload from its dataDir (trusted
// without checking), on 127.0.0.1, TCP only, no DHT/LSD/UPnP/NAT-PMP.
class LibtorrentSeeder {
public:
    explicit LibtorrentSeeder(const Payload& p, int uploadLimit = 0);
    ~LibtorrentSeeder();
    int Port() const;
    void SetUploadLimit(int bytesPerSecond);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
