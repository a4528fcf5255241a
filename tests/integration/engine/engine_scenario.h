#pragma once
// One engine scenario: a generated game image, its release made by kr-pack and served by nginx, and
// an installation directory, each in its own temporary folder.
#include "install/installer.h"
#include "tests/integration/engine/engine_servers.h"
#include "tests/integration/engine/release_fixture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>

#include <mutex>
#include <utility>
#include <vector>

namespace kr::test
{

// The engine's events as (type, new_install) pairs: 10005 with its flag, 10006 with false.
class EventRecorder : public CKrInstallerEvents
{
public:
    void OnInstallStarted(bool newInstall) override { Add(CKrInstaller::kEventInstallStarted, newInstall); }
    void OnInstallFinished() override { Add(CKrInstaller::kEventInstallFinished, false); }
    std::vector<std::pair<int, bool>> Events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }

private:
    void Add(int type, bool flag)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.emplace_back(type, flag);
    }
    std::mutex m_mutex;
    std::vector<std::pair<int, bool>> m_events;
};

struct EngineItem
{
    std::string name;
    uint32_t size = 0;
    bool extract = false;
};

struct EngineRun
{
    int state = -1;
    int error = -1;
    CKrInstaller::Counters counters;
    float doneMB = -1;
    float totalMB = -1;
    int doneCount = -1;
    int totalCount = -1;
    std::vector<std::pair<int, bool>> events;
    // Done megabytes went down between two polls within one state.
    bool progressSteppedBack = false;
};

class EngineScenario : public testing::Test
{
protected:
    // Waits of the engine cut down so that a scenario takes well under a second.
    static CKrInstallerTimings FastTimings();
    CKrInstallerSettings Settings(KrInstallerBuild build = KrInstallerBuild::Launcher);

    // Writes the image, packs it and starts nginx on the release.
    void MakeRelease(const std::vector<GameFile>& files, const std::vector<std::string>& packArgs = {});
    std::string Installed(const std::string& relative) const { return install.Path() + relative; }
    std::string Released(const std::string& relative) const { return release.Path() + relative; }

    // Runs one engine until it reaches state 6 or 7 (or `stopAtState`, or the time-out) and stops it.
    EngineRun Run(const CKrInstallerSettings& settings, const std::vector<EngineItem>& items = {},
                  const std::string& packageName = "Data", int stopAtState = -1, int timeoutMs = 60000);
    EngineRun Run() { return Run(Settings()); }

    // Differences between the image and the installation, ignoring the cache file.
    std::vector<std::string> DiffWithImage(const std::string& cacheName = "Data.cch") const;

    // Called at every poll of Run, with the engine and what the poll read: faults strike from here.
    std::function<void(CKrInstaller&, const EngineRun&)> onPoll;
    // Checked at every poll of Run: true stops the engine there.
    std::function<bool(const EngineRun&)> stopWhen;

    TempDir image;
    TempDir release;
    TempDir install;
    NginxServer nginx;
    std::vector<GameFile> files;
    std::string server; // the engine's form: host:port

    EventRecorder recorder;
};

} // namespace kr::test
