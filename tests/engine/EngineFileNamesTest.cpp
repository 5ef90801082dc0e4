// Non-ASCII file names reach the disk as they stand in the torrent, whatever
// the user's LANG says: a later run over the same folder finds the files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "engine/session.h"
#include "framework/Utf8Locale.h"
#include "tests/support/Swarm.h"

// A run of this binary with "--child TORRENT DIR LANG" (LANG "-": unset)
// starts as the program does and adds the torrent over a folder that holds
// its payload; exit 0 once the engine has found every file there.
int TestChildMain(int, char** argv)
{
    std::string(argv[4]) == "-" ? ::unsetenv("LANG") : ::setenv("LANG", argv[4], 1);
    ::unsetenv("LC_ALL");
    AfxUseUtf8Locale();
    // What libtorrent's file-name conversion keys on. Our own storage opens
    // files by their UTF-8 names whatever LANG says: the names cannot show it.
    if (const char* lang = std::getenv("LANG"); !lang || !std::string_view(lang).ends_with(".UTF-8"))
        return 2;
    std::ifstream in(argv[2], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto s = engine::make_session(engine::fingerprint{"KQ", 0, 7, 0, 0});
    engine::torrent_handle h = s->add_torrent(engine::torrent_info::from_buffer(bytes.data(), bytes.size()), argv[3]);
    // A few megabytes check in well under a second; files not found leave
    // the torrent with nothing done, and no peer will ever come.
    return WaitUntil([&] { return h.status().is_seeding; }, std::chrono::seconds(20)) ? 0 : 1;
}

namespace {

TEST(EngineFileNames, NonAsciiNamesAreFoundUnderAnyLang)
{
    TempDir data("corvane-names");
    const Payload p = MakePayload(data.Path(), "받은 파일 é", {300000, 5000}, {});
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    for (const char* lang : {"-", "C", "C.utf8", "en_US.utf8@euro", "C.UTF-8"}) {
        const std::string cmd = "'" + self + "' --child '" + p.torrentPath + "' '" + p.dataDir + "' " + lang;
        const int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "LANG " << lang;
    }
}

}  // namespace
