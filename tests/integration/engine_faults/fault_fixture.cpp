#include "tests/integration/engine_faults/fault_fixture.h"

#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace kr::test
{

namespace
{

int Spawn(const std::vector<std::string>& argv)
{
    std::vector<std::string> words = argv;
    std::vector<char*> args;
    for (std::string& w : words)
        args.push_back(w.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

std::vector<std::string> KrInstallArgs(const std::string& server, const std::string& dir,
                                       const std::vector<std::string>& prefix)
{
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {ToolPath("kr-install"), "--server", server, "--dir", dir});
    return argv;
}

} // namespace

std::vector<GameFile> IncompressibleGameFiles(int count, size_t averageSize, uint32_t seed)
{
    std::vector<GameFile> files = MakeGameFiles(count, averageSize, seed);
    for (size_t i = 0; i < files.size(); ++i)
        files[i].content = RandomBytes(files[i].content.size(), seed * 7919u + static_cast<uint32_t>(i) + 1);
    return files;
}

std::vector<std::string> DiffInstallation(const std::string& imageDir, const std::string& installDir)
{
    std::vector<std::string> diff = DiffTrees(imageDir, installDir);
    diff.erase(std::remove(diff.begin(), diff.end(), "Data.cch"), diff.end());
    return diff;
}

void CopyTreeWithTimes(const std::string& from, const std::string& to)
{
    for (const std::string& path : ListFiles(from))
    {
        WriteWholeFile(to + path, ReadWholeFile(from + path));
        SetFileTimeTo(to + path, FileTimeOf(from + path));
    }
}

ToolRun RunKrInstall(const std::string& server, const std::string& dir, int limitMs,
                     const std::vector<std::string>& prefix)
{
    ToolRun run;
    auto start = std::chrono::steady_clock::now();
    int pid = Spawn(KrInstallArgs(server, dir, prefix));
    if (pid <= 0)
        return run;
    int status = 0;
    for (;;)
    {
        if (::waitpid(pid, &status, WNOHANG) == pid)
        {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(limitMs))
        {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    return run;
}

bool KillKrInstallAfter(const std::string& server, const std::string& dir, int ms)
{
    ToolRun run = RunKrInstall(server, dir, ms);
    return run.timedOut;
}

std::vector<uint32_t> FaultSeeds(const std::vector<uint32_t>& defaults)
{
    std::string text = Env("KR_FAULT_SEEDS");
    if (text.empty())
        return defaults;
    std::vector<uint32_t> seeds;
    std::istringstream in(text);
    for (std::string word; std::getline(in, word, ',');)
        seeds.push_back(static_cast<uint32_t>(std::strtoul(word.c_str(), nullptr, 10)));
    return seeds;
}

} // namespace kr::test
