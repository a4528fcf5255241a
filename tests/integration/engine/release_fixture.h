#pragma once
// Game folders generated for the engine's tests, releases made from them by kr-pack, and the checks
// that compare an installation with its image.
#include <cstdint>
#include <string>
#include <vector>

namespace kr::test
{

struct GameFile
{
    std::string path; // relative, "/" separated
    std::string content;
    int64_t unixTime = 0;
};

// A deterministic game folder: `count` files under Data/ (some in sub-directories), sizes spread
// around `averageSize`, plus one file beside Data/.
std::vector<GameFile> MakeGameFiles(int count, size_t averageSize, uint32_t seed);
// Pseudo-random bytes that do not compress.
std::string RandomBytes(size_t size, uint32_t seed);
// Writes the files below `dir` and gives each its time.
void WriteGameFiles(const std::string& dir, const std::vector<GameFile>& files);
void WriteGameFile(const std::string& dir, const GameFile& file);

// Runs the release packer; returns its exit status (-1 when it could not be run).
int RunKrPack(const std::string& imageDir, const std::string& outDir,
              const std::vector<std::string>& extra = {});
// Runs a program of the build's bin/ directory; its output goes to `outputFile` when given.
int RunTool(const std::string& tool, const std::vector<std::string>& args,
            const std::string& outputFile = "");
std::string ToolPath(const std::string& tool);

// Relative paths ("/" separated) of every file below `dir`.
std::vector<std::string> ListFiles(const std::string& dir);
// Paths whose content differs, or which are missing on one side. Empty when the trees are equal.
std::vector<std::string> DiffTrees(const std::string& expected, const std::string& actual);

uint64_t FileTimeOf(const std::string& path);
void SetFileTimeTo(const std::string& path, uint64_t fileTime);

} // namespace kr::test
