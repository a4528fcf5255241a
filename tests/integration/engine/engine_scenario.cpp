#include "tests/integration/engine/engine_scenario.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kr::test
{

CKrInstallerTimings EngineScenario::FastTimings()
{
    CKrInstallerTimings t;
    t.startDelayMs = 0;
    t.idleMs = 2;
    t.roundMs = 5;
    t.directXPollMs = 10;
    t.directXSettleMs = 20;
    t.retryFirstMs = 10;
    t.retryMaxMs = 100;
    return t;
}

CKrInstallerSettings EngineScenario::Settings(KrInstallerBuild build)
{
    CKrInstallerSettings s;
    s.build = build;
    s.timings = FastTimings();
    s.events = &recorder;
    return s;
}

void EngineScenario::MakeRelease(const std::vector<GameFile>& gameFiles,
                                 const std::vector<std::string>& packArgs)
{
    files = gameFiles;
    WriteGameFiles(image.Path(), files);
    ASSERT_EQ(RunKrPack(image.Path(), release.Path(), packArgs), 0);
    if (nginx.Port() == 0)
    {
        ASSERT_TRUE(nginx.Start(release.Path()));
    }
    server = nginx.Host();
}

EngineRun EngineScenario::Run(const CKrInstallerSettings& settings, const std::vector<EngineItem>& items,
                              const std::string& packageName, int stopAtState, int timeoutMs)
{
    recorder.Clear();
    EngineRun run;
    {
        CKrInstaller engine;
        engine.Init(packageName, install.Path(), server, settings);
        for (const EngineItem& item : items)
            engine.AddItem(item.name, item.size, item.extract);
        engine.Start();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline)
        {
            int previousState = run.state;
            float previousDone = run.doneMB;
            engine.GetStatus(&run.state, &run.doneMB, &run.totalMB, nullptr, nullptr);
            if (run.state == previousState && run.doneMB < previousDone)
                run.progressSteppedBack = true;
            if (onPoll)
                onPoll(engine, run);
            if (run.state == CKrInstaller::StateFinished || run.state == CKrInstaller::StateFailed ||
                run.state == stopAtState || (stopWhen && stopWhen(run)))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        engine.GetStatus(&run.state, &run.doneMB, &run.totalMB, &run.doneCount, &run.totalCount);
        run.error = engine.GetErrorCode();
        run.counters = engine.GetCounters();
    }
    // Read after the engine has stopped: the last event follows the last state change.
    run.events = recorder.Events();
    return run;
}

std::vector<std::string> EngineScenario::DiffWithImage(const std::string& cacheName) const
{
    std::vector<std::string> diff = DiffTrees(image.Path(), install.Path());
    // The engine's own records: the file list and, for a signed release, the release number.
    const std::string releaseRecord = cacheName.substr(0, cacheName.rfind('.')) + ".release";
    for (const std::string& own : {cacheName, releaseRecord})
        diff.erase(std::remove(diff.begin(), diff.end(), own), diff.end());
    return diff;
}

} // namespace kr::test
