// kr-install killed (SIGKILL) at seeded random moments of a fresh install and of an update, then
// started again: the next run must end with the release's tree. Set KR_FAULT_SEEDS to replay seeds.
#include "tests/integration/engine/engine_scenario.h"
#include "tests/integration/engine_faults/fault_fixture.h"
#include "tests/support/servers.h"

#include <iostream>
#include <random>

using namespace kr::test;

namespace
{

constexpr int kRate = 3 << 20; // bytes per second and connection
constexpr int kRunLimitMs = 30000;

class KilledEngine : public EngineScenario
{
protected:
    // One uninterrupted run from `start` (a tree copied into a fresh folder) gives the span in which
    // the kills fall; then, per seed, a run killed at a random moment and a run to the end.
    void KillAtRandomMoments(const std::string& host, const std::string& expectedImage, const TempDir* start,
                             const std::vector<uint32_t>& seeds)
    {
        TempDir reference;
        if (start)
            CopyTreeWithTimes(start->Path(), reference.Path());
        ToolRun whole = RunKrInstall(host, reference.Path(), kRunLimitMs);
        ASSERT_EQ(whole.status, 0);
        ASSERT_EQ(DiffInstallation(expectedImage, reference.Path()), std::vector<std::string>());

        const std::vector<uint32_t> chosen = FaultSeeds(seeds);
        for (size_t k = 0; k < chosen.size(); ++k)
        {
            // One kill in each k-th part of the span, at a random point of it.
            const uint32_t seed = chosen[k];
            std::mt19937 random(seed);
            const double share = (k + std::uniform_real_distribution<double>(0.0, 1.0)(random)) / chosen.size();
            // Nothing happens in the engine's first half second.
            const int killMs = 500 + static_cast<int>((whole.ms - 500) * share);
            std::cout << "[   seed   ] " << seed << ": killed after " << killMs << " of " << whole.ms << " ms"
                      << std::endl;
            TempDir dir;
            if (start)
                CopyTreeWithTimes(start->Path(), dir.Path());
            KillKrInstallAfter(host, dir.Path(), killMs);
            ToolRun again = RunKrInstall(host, dir.Path(), kRunLimitMs);
            EXPECT_EQ(again.status, 0) << "seed " << seed;
            EXPECT_EQ(DiffInstallation(expectedImage, dir.Path()), std::vector<std::string>()) << "seed " << seed;
        }
    }
};

} // namespace

TEST_F(KilledEngine, FreshInstallKilledAnywhereEndsCompleteOnTheNextRun)
{
    MakeRelease(IncompressibleGameFiles(12, 200000, 51), {"--package-size", "1"});
    OddServer odd;
    ASSERT_TRUE(odd.Start(release.Path(), kRate));
    KillAtRandomMoments(odd.Host(), image.Path(), nullptr, {11, 22, 33});
}

TEST_F(KilledEngine, UpdateKilledAnywhereEndsCompleteOnTheNextRun)
{
    MakeRelease(IncompressibleGameFiles(12, 200000, 52), {"--package-size", "1"});
    ASSERT_EQ(RunKrInstall(nginx.Host(), install.Path(), kRunLimitMs).status, 0);

    // The next release: every other file of the game data changed, two new ones. Files beside Data/
    // come only with the packages of a fresh install, so they stay as they are.
    std::vector<GameFile> next = files;
    for (size_t i = 0; i + 1 < next.size(); i += 2)
    {
        next[i].content = RandomBytes(next[i].content.size() + 1000, static_cast<uint32_t>(i) + 900);
        next[i].unixTime += 86400;
    }
    next.push_back({"Data/new_a.bin", RandomBytes(150000, 77), 1700000001});
    next.push_back({"Data/maps/new_b.bin", RandomBytes(90000, 78), 1700000003});
    TempDir nextImage, nextRelease;
    WriteGameFiles(nextImage.Path(), next);
    ASSERT_EQ(RunKrPack(nextImage.Path(), nextRelease.Path(), {"--package-size", "1"}), 0);
    OddServer odd;
    ASSERT_TRUE(odd.Start(nextRelease.Path(), kRate));
    KillAtRandomMoments(odd.Host(), nextImage.Path(), &install, {44, 55, 66});
}
