// Non-ASCII file names reach the disk as they stand in the torrent, whatever
// the user's LANG says: a later run over the same folder finds the files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Swarm.h"

extern char** environ;

namespace {

std::string ProbePath()
{
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    return dir.substr(0, dir.rfind('/')) + "/engine_file_names_probe";
}

// Runs the probe with LANG set to `lang`, or without LANG; its exit status.
int RunProbe(const std::optional<std::string>& lang, const Payload& p)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LANG=", 5) != 0 && std::strncmp(*e, "LC_ALL=", 7) != 0) env.emplace_back(*e);
    if (lang) env.push_back("LANG=" + *lang);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string probe = ProbePath(), torrent = p.torrentPath, dir = p.dataDir;
    char* argv[] = {probe.data(), torrent.data(), dir.data(), nullptr};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(EngineFileNames, NonAsciiNamesAreFoundUnderAnyLang)
{
    TempDir data("corvane-names");
    const Payload p = MakePayload(data.Path(), "받은 파일 é", {300000, 5000}, {});
    for (const std::optional<std::string>& lang :
         {std::optional<std::string>(), std::optional<std::string>("C"), std::optional<std::string>("C.utf8"),
          std::optional<std::string>("en_US.utf8@euro"), std::optional<std::string>("C.UTF-8")})
        EXPECT_EQ(RunProbe(lang, p), 0) << "LANG " << (lang ? *lang : std::string("unset"));
}

}  // namespace

