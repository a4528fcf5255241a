// The engine's scenarios as a table: a release (and its edits), an installation (and its edits),
// faults of the server -> the state and error the run must end in, requests it must have made, and the
// tree it must leave. The misbehaving Python server serves each release; a failing row prints the
// difference between the expected and the installed tree.
#include "install/path_utils.h"
#include "tests/integration/engine/engine_scenario.h"
#include "tests/support/servers.h"

#include <algorithm>
#include <functional>
#include <tuple>
#include <ostream>

using namespace kr::test;

namespace
{

using FileFaults = std::vector<std::pair<std::string, std::vector<std::string>>>;

struct Row
{
    const char* name;
    bool installFirst; // a finished install precedes the run under test
    std::function<void(std::vector<GameFile>&)> releaseEdit;
    std::function<void(const std::string& installDir)> installEdit;
    FileFaults faults;
    int state;
    int error;
    // (method, path below the root, status or -1, how many)
    std::vector<std::tuple<std::string, std::string, int, size_t>> requests;
    // Paths whose content may differ from the release (DiffWithImage's form).
    std::vector<std::string> tree;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

void Damage(const std::string& dir, const std::string& path)
{
    WriteWholeFile(dir + path, "damaged");
}

const char* const kVictim = "Data/maps/file_2.bin";
const char* const kVictimZip = "Data/file_2.bin.zip";

std::vector<Row> Rows()
{
    auto damageVictim = [](const std::string& dir) { Damage(dir, kVictim); };
    return {
        {"an unchanged installation fetches nothing", true, nullptr, nullptr, {}, 6, 0,
         {{"GET", "Data.cch", 200, 1}, {"GET", kVictimZip, -1, 0}}, {}},
        {"a file changed by the release is fetched", true,
         [](std::vector<GameFile>& files) {
             files[2].content += "more";
             files[2].unixTime += 86400;
         },
         nullptr, {}, 6, 0, {{"GET", kVictimZip, 200, 1}}, {}},
        {"a damaged file is fetched", true, nullptr, damageVictim, {}, 6, 0, {{"GET", kVictimZip, 200, 1}}, {}},
        {"a per-file zip cut once is continued", true, nullptr, damageVictim, {{kVictimZip, {"cut:0.5"}}}, 6, 0,
         {{"GET", kVictimZip, 206, 1}}, {}},
        {"a per-file zip answering 503 twice is retried", true, nullptr, damageVictim,
         {{kVictimZip, {"status:503", "status:503"}}}, 6, 0, {{"GET", kVictimZip, 503, 2}, {"GET", kVictimZip, 200, 1}},
         {}},
        {"a per-file zip the server lost ends the run after three tries", true, nullptr, damageVictim,
         {{kVictimZip, {"status:404", "status:404", "status:404", "status:404"}}}, 7, 7, {{"GET", kVictimZip, 404, 3}},
         {std::string(kVictim) + " (content)"}},
        {"a per-file zip that redirects ends the run after three tries", true, nullptr, damageVictim,
         {{kVictimZip, {"status:302", "status:302", "status:302", "status:302"}}}, 7, 7,
         {{"GET", kVictimZip, 302, 3}}, {std::string(kVictim) + " (content)"}},
        {"a file list the server refuses ends the run and leaves the files alone", true, nullptr, damageVictim,
         {{"Data.cch", {"status:403", "status:403", "status:403"}}}, 7, 2, {{"GET", kVictimZip, -1, 0}},
         {std::string(kVictim) + " (content)"}},
        {"a fresh install continues a package cut at 60 %", false, nullptr, nullptr, {{"Data_1.zip", {"cut:0.6"}}}, 6, 0,
         {{"GET", "Data_1.zip", 206, 1}, {"GET", "Data_1.zip", 200, 1}}, {}},
        {"a fresh install retries a package query that fails", false, nullptr, nullptr,
         {{"Data_1.zip", {"HEAD:status:503", "HEAD:close"}}}, 6, 0, {{"GET", "Data_2.zip", 200, 1}}, {}},
        {"a fresh install retries its file list and fetches no package twice", false, nullptr, nullptr,
         {{"Data.cch", {"status:503", "status:503"}}}, 6, 0,
         {{"GET", "Data.zip", 200, 1}, {"GET", "Data_1.zip", 200, 1}, {"GET", "Data.cch", 200, 1}}, {}},
    };
}

class ScenarioTable : public EngineScenario, public testing::WithParamInterface<Row>
{
};

} // namespace

TEST_P(ScenarioTable, EndsAsTheRowSays)
{
    const Row& row = GetParam();
    std::vector<GameFile> gameFiles = MakeGameFiles(24, 120000, 71);
    for (size_t i = 0; i < gameFiles.size(); ++i)
        gameFiles[i].content = RandomBytes(gameFiles[i].content.size(), static_cast<uint32_t>(i) + 500);
    MakeRelease(gameFiles, {"--package-size", "1"});
    ASSERT_TRUE(FileExists(Released("Data_2.zip")));
    OddServer odd;
    ASSERT_TRUE(odd.Start(release.Path()));
    server = odd.Host();
    if (row.installFirst)
    {
        EngineRun first = Run();
        ASSERT_EQ(first.state, CKrInstaller::StateFinished) << "error " << first.error;
    }
    if (row.releaseEdit)
    {
        row.releaseEdit(files);
        WriteGameFiles(image.Path(), files);
        ASSERT_EQ(RunKrPack(image.Path(), release.Path(), {"--package-size", "1"}), 0);
    }
    if (row.installEdit)
        row.installEdit(install.Path());
    ASSERT_TRUE(odd.ResetLog());
    ASSERT_TRUE(odd.FileFaults(row.faults));

    EngineRun run = Run(Settings(), {}, "Data", -1, 30000);
    EXPECT_EQ(run.state, row.state);
    EXPECT_EQ(run.error, row.error);
    OddServer::Log log = odd.ReadLog();
    for (const auto& r : row.requests)
        EXPECT_EQ(log.Count(std::get<0>(r), std::get<1>(r), std::get<2>(r)), std::get<3>(r))
            << std::get<0>(r) << " " << std::get<1>(r) << " " << std::get<2>(r);
    std::vector<std::string> diff = DiffWithImage();
    // What the engine keeps after a failed run (markers, the staging folder) is not the release's.
    diff.erase(std::remove_if(diff.begin(), diff.end(),
                              [](const std::string& p) { return p.find(".download/") != std::string::npos; }),
               diff.end());
    EXPECT_EQ(diff, row.tree) << "tree difference (installed against the release)";
}

INSTANTIATE_TEST_SUITE_P(Engine, ScenarioTable, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& param) { return "Row" + std::to_string(param.index); });
