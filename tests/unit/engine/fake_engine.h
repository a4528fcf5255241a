#pragma once
// The engine against the scripted fake transport and a clock the test drives: releases are packed by
// kr-pack's own writer into a temporary folder and served from memory, the installation is a real
// temporary folder. No socket, no real waiting for back-off.
#include "install/installer.h"
#include "install/release_manifest.h"
#include "tests/support/fake_transport.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kr::test
{

struct ReleaseFile
{
    std::string path; // relative, "/" separated
    std::string content;
    int64_t unixTime = 1600000001;
};

// 10005 with its flag, 10006 with false.
class RecordingEvents : public CKrInstallerEvents
{
public:
    void OnInstallStarted(bool newInstall) override { Add(CKrInstaller::kEventInstallStarted, newInstall); }
    void OnInstallFinished() override { Add(CKrInstaller::kEventInstallFinished, false); }
    std::vector<std::pair<int, bool>> Events();

private:
    void Add(int type, bool flag);
    std::mutex m_mutex;
    std::vector<std::pair<int, bool>> m_events;
};

struct FakeRun
{
    int state = -1;
    int error = -1;
    CKrInstaller::Counters counters;
    float doneMB = 0;
    float totalMB = 0;
    int doneCount = -1;
    int totalCount = -1;
    bool steppedBack = false; // done megabytes went down between two polls of one state
    bool passedTotal = false; // done megabytes above the total
    uint64_t virtualMs = 0;   // clock time the run took
};

class FakeEngineTest : public testing::Test
{
protected:
    // Deterministic bytes; `compressible` repeats one letter.
    static std::string Bytes(size_t size, uint32_t seed, bool compressible = false);
    // `count` files under Data/ (every third in a sub-folder) plus readme.txt beside Data/.
    static std::vector<ReleaseFile> Game(int count, size_t size, uint32_t seed);

    // Writes the image, packs it (packageSize bytes of files per package) and serves the release.
    void MakeRelease(const std::vector<ReleaseFile>& files, uint64_t packageSize = 1 << 20,
                     const std::string& packageName = "Data");
    // Serves (again) everything of the release folder, after a test changed it.
    void Republish();
    CKrInstallerSettings Settings(KrInstallerBuild build = KrInstallerBuild::Launcher);
    // Signs the release folder as kr-pack --sign does (every file it publishes, every file of the
    // image's Data/ by bare name) with `key`, writes <package>.manifest and serves it.
    void SignRelease(uint64_t releaseNumber, const KrSecretKey& key, const std::string& packageName = "Data");
    // Settings of an engine that trusts `key`.
    CKrInstallerSettings SignedSettings(const KrPublicKey& key);

    // Runs an engine until state 6 or 7, until `stop` says so, or until `maxVirtualMs` of clock
    // time; the clock moves on by `stepMs` every poll.
    FakeRun Run(const CKrInstallerSettings& settings, const std::vector<std::pair<std::string, uint32_t>>& items = {},
                const std::string& packageName = "Data",
                const std::function<bool(CKrInstaller&, const FakeRun&)>& stop = nullptr,
                uint64_t maxVirtualMs = 600000, uint32_t stepMs = 5);
    FakeRun Run() { return Run(Settings()); }

    // Paths ("/" separated) whose content differs between the image and the installation, or that
    // exist on one side only; the file list and staging folder are left out. Printed on failure.
    std::vector<std::string> Diff();
    std::string Installed(const std::string& relative) const { return install.Path() + relative; }
    std::string Released(const std::string& relative) const { return release.Path() + relative; }
    static uint64_t TimeOf(const std::string& path);
    static void SetTime(const std::string& path, uint64_t fileTime);
    static bool Exists(const std::string& path);

    TempDir image;
    TempDir release;
    TempDir install;
    FakeClock clock;
    FakeTransport transport{&clock};
    RecordingEvents events;
    std::vector<ReleaseFile> files;
};

} // namespace kr::test
