#pragma once
// Helpers of the engine's fault scenarios: incompressible game folders, kr-install runs with a time
// limit or a kill, and tree copies that keep the file times.
#include "tests/integration/engine/release_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kr::test
{

// Game files whose zips are as large as the files, so that transfers and disk use are predictable.
std::vector<GameFile> IncompressibleGameFiles(int count, size_t averageSize, uint32_t seed);
// Differences between an image and an installation, the file-list cache left out.
std::vector<std::string> DiffInstallation(const std::string& imageDir, const std::string& installDir);
void CopyTreeWithTimes(const std::string& from, const std::string& to);

struct ToolRun
{
    int status = -1; // exit status; -1 when killed or not run
    bool timedOut = false;
    int ms = 0;
};
// Runs kr-install on `dir` against `server`, with `prefix` in front of it (a wrapper such as
// setpriv); a run that lasts longer than `limitMs` is killed and reported as timed out.
ToolRun RunKrInstall(const std::string& server, const std::string& dir, int limitMs,
                     const std::vector<std::string>& prefix = {});
// Starts kr-install and kills it (SIGKILL) after `ms`; false when it had ended by itself before.
bool KillKrInstallAfter(const std::string& server, const std::string& dir, int ms);
// Seeds of the random kill times: KR_FAULT_SEEDS ("1,2,3") when set, else `defaults`.
std::vector<uint32_t> FaultSeeds(const std::vector<uint32_t>& defaults);

} // namespace kr::test
