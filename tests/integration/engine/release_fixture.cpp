#include "tests/integration/engine/release_fixture.h"

#include "install/path_utils.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace kr::test
{

namespace
{

uint32_t Next(uint32_t& state)
{
    // xorshift32: quick, and enough to defeat compression.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

std::string RandomBytes(size_t size, uint32_t seed)
{
    uint32_t state = seed ? seed : 0x9E3779B9u;
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(Next(state) >> 24);
    return bytes;
}

std::vector<GameFile> MakeGameFiles(int count, size_t averageSize, uint32_t seed)
{
    std::vector<GameFile> files;
    uint32_t state = seed * 2654435761u + 1;
    static const char* const kDirs[] = {"Data/", "Data/", "Data/maps/", "Data/maps/deep/", "Data/sound/"};
    for (int i = 0; i < count; ++i)
    {
        GameFile f;
        f.path = std::string(kDirs[i % 5]) + "file_" + std::to_string(i) + (i % 3 == 0 ? ".pak" : ".bin");
        size_t size = averageSize / 2 + Next(state) % (averageSize + 1);
        if (i % 2 == 0)
            f.content = RandomBytes(size, Next(state));
        else
            f.content = std::string(size, static_cast<char>('a' + i % 26)); // compresses well
        // Odd seconds on purpose: zips keep only 2-second steps.
        f.unixTime = 1600000000 + static_cast<int64_t>(i) * 3601;
        files.push_back(std::move(f));
    }
    GameFile outside;
    outside.path = "readme.txt";
    outside.content = "outside Data\n";
    outside.unixTime = 1600000000;
    files.push_back(outside);
    return files;
}

void WriteGameFile(const std::string& dir, const GameFile& file)
{
    std::string path = dir + file.path;
    WriteWholeFile(path, file.content);
    SetFileTimeTo(path, UnixTimeToFileTime(file.unixTime));
}

void WriteGameFiles(const std::string& dir, const std::vector<GameFile>& files)
{
    for (const GameFile& f : files)
        WriteGameFile(dir, f);
}

std::string ToolPath(const std::string& tool)
{
    return Env("KR_BINARY_DIR") + "/bin/" + tool;
}

int RunTool(const std::string& tool, const std::vector<std::string>& args, const std::string& outputFile)
{
    std::string command = Quote(ToolPath(tool));
    for (const std::string& a : args)
        command += " " + Quote(a);
    command += outputFile.empty() ? " >/dev/null 2>&1" : " >" + Quote(outputFile) + " 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunKrPack(const std::string& imageDir, const std::string& outDir, const std::vector<std::string>& extra)
{
    std::vector<std::string> args{imageDir, outDir, "--jobs", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool("kr-pack", args);
}

std::vector<std::string> ListFiles(const std::string& dir)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
    {
        if (it->is_regular_file())
            out.push_back(fs::relative(it->path(), dir).generic_string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> DiffTrees(const std::string& expected, const std::string& actual)
{
    std::vector<std::string> a = ListFiles(expected);
    std::vector<std::string> b = ListFiles(actual);
    std::vector<std::string> diff;
    std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(diff));
    for (const std::string& path : a)
    {
        if (std::binary_search(b.begin(), b.end(), path) &&
            ReadWholeFile(expected + path) != ReadWholeFile(actual + path))
            diff.push_back(path + " (content)");
    }
    return diff;
}

uint64_t FileTimeOf(const std::string& path)
{
    uint64_t lastWrite = 0;
    kr::os::GetFileTimes(path, nullptr, nullptr, &lastWrite);
    return lastWrite;
}

void SetFileTimeTo(const std::string& path, uint64_t fileTime)
{
    kr::os::SetFileTimes(path, nullptr, nullptr, &fileTime);
}

} // namespace kr::test
