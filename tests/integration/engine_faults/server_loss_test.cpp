// The download server goes away in the middle of a transfer and comes back on the same port: the
// engine retries and the same run ends with the release's tree.
#include "tests/integration/engine/engine_scenario.h"
#include "tests/integration/engine_faults/fault_fixture.h"
#include "tests/support/servers.h"

using namespace kr::test;

namespace
{

class ServerLoss : public EngineScenario
{
protected:
    // Stops the server once a transfer of `state` is half way through a megabyte, brings it back
    // after a few failed downloads, and runs the engine to its end.
    EngineRun RunWithLoss(int state, float stopAtMB)
    {
        stopped = false;
        back = false;
        failuresWhileDown = 0;
        onPoll = [&, state, stopAtMB](CKrInstaller& engine, const EngineRun& run)
        {
            if (!stopped && run.state == state && run.doneMB > stopAtMB)
            {
                odd.Stop();
                stopped = true;
                failuresAtStop = engine.GetCounters().downloadFailures;
            }
            else if (stopped && !back)
            {
                failuresWhileDown = engine.GetCounters().downloadFailures - failuresAtStop;
                if (failuresWhileDown >= 3)
                    back = odd.Restart();
            }
        };
        EngineRun run = Run(Settings(), {}, "Data", -1, 30000);
        onPoll = nullptr;
        return run;
    }

    OddServer odd;
    bool stopped = false;
    bool back = false;
    uint32_t failuresAtStop = 0;
    uint32_t failuresWhileDown = 0;
};

} // namespace

TEST_F(ServerLoss, FreshInstallAndUpdateFinishAfterTheServerComesBack)
{
    MakeRelease(IncompressibleGameFiles(10, 250000, 41), {"--package-size", "1"});
    // Paced so that the first package is still on its way when the server goes.
    ASSERT_TRUE(odd.Start(release.Path(), 2 << 20));
    server = odd.Host();

    EngineRun fresh = RunWithLoss(CKrInstaller::StateFreshInstall, 0.5f);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(back);
    EXPECT_GE(failuresWhileDown, 3u);
    ASSERT_EQ(fresh.state, CKrInstaller::StateFinished) << "error " << fresh.error;
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());

    // Damage half of the game data (what the file list covers): the per-file downloads meet the loss.
    for (size_t i = 0; i + 1 < files.size(); i += 2)
        WriteWholeFile(Installed(files[i].path), "damaged");
    EngineRun update = RunWithLoss(CKrInstaller::StateUpdate, 0.3f);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(back);
    ASSERT_EQ(update.state, CKrInstaller::StateFinished) << "error " << update.error;
    EXPECT_GE(update.counters.downloadFailures, 3u);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}

namespace
{

uint64_t ReleaseBytes(const std::string& www)
{
    uint64_t total = 0;
    for (const std::string& path : ListFiles(www))
        if (path.find('/') == std::string::npos)
            total += ReadWholeFile(www + path).size();
    return total;
}

} // namespace

// A server that cuts every transfer starting at a file's first byte: kr-install over libcurl still
// installs the release, and the bytes served stay close to the release's size (each package crosses
// the wire about once, the cut 60 % and the remaining 40 %).
TEST_F(ServerLoss, AServerThatCutsEveryFreshTransferIsMetByResuming)
{
    MakeRelease(IncompressibleGameFiles(12, 250000, 43), {"--package-size", "1"});
    ASSERT_TRUE(odd.Start(release.Path()));
    ASSERT_TRUE(odd.CutFresh(0.6));
    ToolRun run = RunKrInstall(odd.Host(), install.Path(), 60000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
    const uint64_t releaseBytes = ReleaseBytes(release.Path());
    const OddServer::Log log = odd.ReadLog();
    std::cout << "[ bytes    ] served " << log.bytesSent << " for packages and list of " << releaseBytes << " bytes in "
              << run.ms << " ms" << std::endl;
    EXPECT_LE(static_cast<uint64_t>(log.bytesSent), releaseBytes + releaseBytes / 20);
    EXPECT_GE(static_cast<uint64_t>(log.bytesSent), releaseBytes);
}
