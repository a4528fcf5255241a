// CKrInstaller end to end: releases made by kr-pack, served by nginx on loopback, installed into
// temporary folders.
#include "install/file_list_cache.h"
#include "install/path_utils.h"
#include "tests/integration/engine/engine_scenario.h"
#include "tests/support/servers.h"
#include "tests/unit/engine/cache_writer.h"

#include <map>

using namespace kr::test;

namespace
{

constexpr int kFinished = CKrInstaller::StateFinished;
constexpr int kFailed = CKrInstaller::StateFailed;

std::map<std::string, uint64_t> TimesOf(const std::string& dir)
{
    std::map<std::string, uint64_t> times;
    for (const std::string& path : ListFiles(dir))
        times[path] = FileTimeOf(dir + path);
    return times;
}

} // namespace

class FreshInstall : public EngineScenario
{
};

TEST_F(FreshInstall, EndsIdenticalToTheImageWithTheCacheTimes)
{
    MakeRelease(MakeGameFiles(30, 20000, 1));
    EngineRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());

    CKrFileListCache cache;
    ASSERT_EQ(cache.Load(Installed("Data.cch")), KrCacheResult::Ok);
    ASSERT_EQ(cache.Records().size(), 30u);
    std::map<std::string, uint64_t> cacheTimes;
    for (const KrCacheRecord& record : cache.Records())
        cacheTimes[record.name] = record.lastWrite;
    for (const GameFile& f : files)
    {
        if (f.path.rfind("Data/", 0) != 0)
            continue;
        std::string name = f.path.substr(f.path.rfind('/') + 1);
        ASSERT_TRUE(cacheTimes.count(name)) << name;
        EXPECT_EQ(cacheTimes[name], UnixTimeToFileTime(f.unixTime)) << name;
        EXPECT_EQ(CompareDosTimes(FileTimeOf(Installed(f.path)), cacheTimes[name]), 0) << name;
    }
    // The packages did it all: no single file was fetched, no package or marker is left.
    EXPECT_EQ(nginx.CountRequests("GET /Data/"), 0u);
    EXPECT_EQ(nginx.CountRequests("GET /Data.zip 200"), 1u);
    for (const std::string& path : ListFiles(install.Path()))
    {
        EXPECT_EQ(path.find(".install"), std::string::npos) << path;
        EXPECT_EQ(path.find(".zip"), std::string::npos) << path;
    }
    EXPECT_EQ(run.events, (std::vector<std::pair<int, bool>>{{10005, true}, {10006, false}}));
}

TEST_F(FreshInstall, NumberedPackagesStopAtTheFirstMissingNumber)
{
    // About 2.5 MiB of incompressible data in packages of 1 MiB.
    std::vector<GameFile> gameFiles = MakeGameFiles(10, 250000, 2);
    for (GameFile& f : gameFiles)
        f.content = RandomBytes(f.content.size(), static_cast<uint32_t>(f.content.size()));
    MakeRelease(gameFiles, {"--package-size", "1"});
    ASSERT_TRUE(FileExists(Released("Data_2.zip")));
    ASSERT_FALSE(FileExists(Released("Data_3.zip")));

    EngineRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(nginx.CountRequests("GET /Data.zip 200"), 1u);
    EXPECT_EQ(nginx.CountRequests("GET /Data_1.zip 200"), 1u);
    EXPECT_EQ(nginx.CountRequests("GET /Data_2.zip 200"), 1u);
    EXPECT_EQ(nginx.CountRequests("HEAD /Data_3.zip 404"), 1u);
    EXPECT_EQ(nginx.CountRequests("HEAD /Data_4.zip"), 0u);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}

TEST_F(FreshInstall, ResumesWithThePackagesThatHaveNoMarker)
{
    std::vector<GameFile> gameFiles = MakeGameFiles(10, 250000, 3);
    for (GameFile& f : gameFiles)
        f.content = RandomBytes(f.content.size(), static_cast<uint32_t>(f.content.size()) + 1);
    MakeRelease(gameFiles, {"--package-size", "1"});
    ASSERT_TRUE(FileExists(Released("Data_2.zip")));
    // An earlier run extracted the second package and was stopped before the rest.
    WriteWholeFile(Installed("Data_1.install"), "");

    EngineRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(nginx.CountRequests("HEAD /Data_1.zip"), 0u);
    EXPECT_EQ(nginx.CountRequests("GET /Data_1.zip"), 0u);
    EXPECT_EQ(nginx.CountRequests("GET /Data.zip 200"), 1u);
    EXPECT_EQ(nginx.CountRequests("GET /Data_2.zip 200"), 1u);
    EXPECT_FALSE(FileExists(Installed("Data_1.install")));
    // Verification fetched the files of the package that was taken as done.
    EXPECT_GT(nginx.CountRequests("GET /Data/"), 0u);
    std::vector<std::string> diff = DiffWithImage();
    EXPECT_EQ(diff, std::vector<std::string>());
}

TEST_F(FreshInstall, StoppedHalfwayThenRestartedEndsComplete)
{
    std::vector<GameFile> gameFiles = MakeGameFiles(12, 250000, 4);
    for (GameFile& f : gameFiles)
        f.content = RandomBytes(f.content.size(), static_cast<uint32_t>(f.content.size()) + 2);
    MakeRelease(gameFiles, {"--package-size", "1"});
    ASSERT_TRUE(FileExists(Released("Data_2.zip")));
    // Stopped once the first package is extracted and marked, before the last one is.
    stopWhen = [&](const EngineRun&) { return FileExists(Installed("Data.install")); };
    // One package after the other, each taking about a second, so that the stop falls between two of
    // them however late the poll comes.
    CKrInstallerSettings oneAtATime = Settings();
    oneAtATime.transfers.connections = 1;
    oneAtATime.transfers.rateLimit = 1u << 20;
    EngineRun first = Run(oneAtATime);
    stopWhen = nullptr;
    EXPECT_EQ(first.state, CKrInstaller::StateFreshInstall);
    ASSERT_TRUE(FileExists(Installed("Data.install")));
    ASSERT_FALSE(FileExists(Installed("Data.cch")));
    EngineRun second = Run();
    ASSERT_EQ(second.state, kFinished) << "error " << second.error;
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
    // The package in place was not fetched again, and no file of it either.
    EXPECT_EQ(nginx.CountRequests("GET /Data.zip"), 1u);
    EXPECT_EQ(nginx.CountRequests("GET /Data/"), 0u);
}

TEST_F(FreshInstall, PackageThatCannotBeExtractedIsFetchedAgain)
{
    // Files beside Data/ come only with the packages, so a package must not be given up.
    std::vector<GameFile> gameFiles = MakeGameFiles(10, 250000, 6);
    for (GameFile& f : gameFiles)
        f.content = RandomBytes(f.content.size(), static_cast<uint32_t>(f.content.size()) + 3);
    MakeRelease(gameFiles, {"--package-size", "1"});
    const std::string good = ReadWholeFile(Released("Data_1.zip"));
    WriteWholeFile(Released("Data_1.damaged"), good.substr(0, 40) + std::string(good.size() - 40, 'x'));
    OddServer odd;
    ASSERT_TRUE(odd.Start(release.Path()));
    // The first two answers for the package are damaged, the third is whole.
    ASSERT_TRUE(odd.FileFaults({{"Data_1.zip", {"swap:Data_1.damaged", "swap:Data_1.damaged"}}}));
    server = odd.Host();
    EngineRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(run.counters.extractFailures, 2u);
    EXPECT_EQ(odd.ReadLog().Count("GET", "Data_1.zip", 200), 3u);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}

TEST_F(FreshInstall, WithoutPackagesOnlyAddedItemsThenSingleFiles)
{
    MakeRelease(MakeGameFiles(8, 5000, 5));
    WriteWholeFile(Released("extra.bin"), "extra item");
    for (const std::string& path : ListFiles(release.Path()))
        if (path.rfind("Data", 0) == 0 && path.find(".zip") != std::string::npos &&
            path.find('/') == std::string::npos)
            std::remove(Released(path).c_str());
    ASSERT_FALSE(FileExists(Released("Data.zip")));

    EngineRun run = Run(Settings(), {{"extra.bin", 10, false}});
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(ReadWholeFile(Installed("extra.bin")), "extra item");
    EXPECT_EQ(nginx.CountRequests("GET /Data/"), 8u);
    // Only what the per-file zips hold: the file beside Data/ came only with the packages.
    std::vector<std::string> diff = DiffWithImage();
    diff.erase(std::remove(diff.begin(), diff.end(), "extra.bin"), diff.end());
    EXPECT_EQ(diff, std::vector<std::string>{"readme.txt"});
}

TEST_F(FreshInstall, CacheThatTheServerRefusesFailsWithCode2AfterThreeTries)
{
    WriteGameFile(image.Path(), {"Data.cch", CacheWriter(258, 0).Bytes(), 1600000000});
    OddServer odd;
    ASSERT_TRUE(odd.Start(image.Path()));
    // The probe (a header request) passes, every transfer of the list is refused.
    ASSERT_TRUE(odd.FileFaults({{"Data.cch", {"status:404", "status:404", "status:404", "status:404"}}}));
    server = odd.Host();
    EngineRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, CKrInstaller::ErrorCacheDownload);
    EXPECT_EQ(odd.ReadLog().Count("GET", "Data.cch"), 3u);
    EXPECT_EQ(run.events, (std::vector<std::pair<int, bool>>{{10005, true}}));
}

TEST_F(FreshInstall, UnreachableServerFailsWithCode1AndTouchesNothing)
{
    server = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    EngineRun run = Run(Settings(), {{"extra.bin", 10, false}});
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, CKrInstaller::ErrorConnect);
    EXPECT_TRUE(ListFiles(install.Path()).empty());
    EXPECT_TRUE(run.events.empty());
}

class Update : public EngineScenario
{
protected:
    void InstallOnce(int count = 20)
    {
        MakeRelease(MakeGameFiles(count, 8000, 11));
        EngineRun run = Run();
        ASSERT_EQ(run.state, kFinished) << "error " << run.error;
        ASSERT_EQ(DiffWithImage(), std::vector<std::string>());
    }
};

TEST_F(Update, SecondRunDownloadsNothingAndReportsZeroOfZero)
{
    InstallOnce();
    size_t before = nginx.Requests().size();
    EngineRun run = Run();
    ASSERT_EQ(run.state, kFinished);
    EXPECT_EQ(run.doneMB, 0.0f);
    EXPECT_EQ(run.totalMB, 0.0f);
    EXPECT_EQ(run.counters.totalItems, 0u);
    std::vector<std::string> requests = nginx.Requests();
    ASSERT_EQ(requests.size(), before + 2); // the probe and the cache
    EXPECT_EQ(requests[before], "HEAD /Data.cch 200");
    EXPECT_EQ(requests[before + 1], "GET /Data.cch 200");
    EXPECT_TRUE(run.events.empty());
}

TEST_F(Update, FetchesChangedMissingAndLongerFilesAndNothingElse)
{
    InstallOnce();
    const std::string changed = "Data/file_0.pak"; // other content, other time
    // In a sub-folder, with an odd second: its zip holds the time a second earlier than the list.
    const std::string missing = "Data/maps/file_7.bin";
    const std::string longer = "Data/maps/deep/file_3.pak";
    const std::string sameStep = "Data/file_1.bin"; // time moved within its DOS step
    const std::string unknown = "Data/sound/mine.txt";
    WriteWholeFile(Installed(changed), "changed");
    std::remove(Installed(missing).c_str());
    WriteWholeFile(Installed(longer), ReadWholeFile(Installed(longer)) + "!");
    SetFileTimeTo(Installed(longer), FileTimeOf(image.Path() + longer));
    SetFileTimeTo(Installed(sameStep), FileTimeOf(image.Path() + sameStep) + 5000000);
    ASSERT_EQ(CompareDosTimes(FileTimeOf(Installed(sameStep)), FileTimeOf(image.Path() + sameStep)), 0);
    WriteWholeFile(Installed(unknown), "mine");
    SetFileTimeTo(Installed(unknown), UnixTimeToFileTime(1500000000));
    std::map<std::string, uint64_t> timesBefore = TimesOf(install.Path());

    size_t before = nginx.CountRequests("GET /Data/");
    EngineRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(run.counters.totalItems, 3u);
    EXPECT_EQ(run.counters.doneItems, 3u);
    EXPECT_EQ(nginx.CountRequests("GET /Data/") - before, 3u);
    EXPECT_EQ(nginx.CountRequests("GET /Data/file_0.pak.zip"), 1u);
    EXPECT_EQ(nginx.CountRequests("GET /Data/file_7.bin.zip"), 1u);
    EXPECT_EQ(nginx.CountRequests("GET /Data/file_3.pak.zip"), 1u);
    EXPECT_GT(run.doneMB, 0.0f);
    EXPECT_EQ(run.doneMB, run.totalMB);
    EXPECT_FALSE(run.progressSteppedBack);

    std::vector<std::string> diff = DiffWithImage();
    EXPECT_EQ(diff, std::vector<std::string>{unknown});
    EXPECT_EQ(ReadWholeFile(Installed(unknown)), "mine");
    std::map<std::string, uint64_t> timesAfter = TimesOf(install.Path());
    for (const auto& entry : timesBefore)
    {
        if (entry.first == changed || entry.first == longer || entry.first == "Data.cch")
            continue;
        EXPECT_EQ(timesAfter[entry.first], entry.second) << entry.first << " was touched";
    }
    // Fetched files carry the cache's exact time.
    EXPECT_EQ(FileTimeOf(Installed(changed)), FileTimeOf(image.Path() + changed));
    EXPECT_EQ(FileTimeOf(Installed(missing)), FileTimeOf(image.Path() + missing));
    EXPECT_EQ(run.events, (std::vector<std::pair<int, bool>>{{10005, false}, {10006, false}}));
}

TEST_F(Update, CacheVersion257FailsWithCode4)
{
    InstallOnce(5);
    WriteWholeFile(Released("Data.cch"), CacheWriter(257, 0).Bytes());
    EngineRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, CKrInstaller::ErrorCacheTooOld);
}

TEST_F(Update, UntrustworthyCacheFailsWithCode3BeforeAnyDownload)
{
    InstallOnce(5);
    const std::vector<std::string> names = {"..", "a\\..\\..\\evil", ""};
    for (const std::string& name : names)
    {
        CacheWriter w(258, 1);
        w.Record(name, 1, 0, 1, 1);
        WriteWholeFile(Released("Data.cch"), w.Bytes());
        size_t before = nginx.CountRequests("GET /Data/");
        EngineRun run = Run();
        EXPECT_EQ(run.state, kFailed) << name;
        EXPECT_EQ(run.error, CKrInstaller::ErrorCacheUnreadable) << name;
        EXPECT_EQ(nginx.CountRequests("GET /Data/"), before) << name;
    }
    CacheWriter tooMany(258, 100000);
    tooMany.Record("file_0.pak", 1, 0, 1, 1);
    WriteWholeFile(Released("Data.cch"), tooMany.Bytes());
    EngineRun run = Run();
    EXPECT_EQ(run.error, CKrInstaller::ErrorCacheUnreadable);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}

TEST_F(Update, FailedExtractionFailsTheRunAndIsNotStampedAsUpToDate)
{
    InstallOnce(5);
    const std::string victim = "Data/file_0.pak";
    // Same size as the real file, wrong content and time: only the time stamp tells it apart.
    const std::string real = ReadWholeFile(image.Path() + victim);
    WriteWholeFile(Installed(victim), std::string(real.size(), '?'));
    // The server's zip for it is damaged: a valid start, then garbage.
    std::string zip = ReadWholeFile(Released("Data/file_0.pak.zip"));
    WriteWholeFile(Released("Data/file_0.pak.zip"), zip.substr(0, 40) + std::string(zip.size() - 40, 'x'));

    // Every item is done, but the tree is not the file list's: the run fails instead of finishing.
    EngineRun run = Run();
    ASSERT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, CKrInstaller::ErrorInstallFiles);
    EXPECT_EQ(run.counters.extractFailures, 1u);
    EXPECT_EQ(run.counters.doneItems, run.counters.totalItems);
    EXPECT_EQ(run.events, (std::vector<std::pair<int, bool>>{{10005, false}}));
    EXPECT_NE(CompareDosTimes(FileTimeOf(Installed(victim)), FileTimeOf(image.Path() + victim)), 0);

    // Once the server has a good zip again, the next run fetches the file once more.
    WriteWholeFile(Released("Data/file_0.pak.zip"), zip);
    EngineRun again = Run();
    ASSERT_EQ(again.state, kFinished);
    EXPECT_EQ(again.counters.totalItems, 1u);
    EXPECT_EQ(ReadWholeFile(Installed(victim)), ReadWholeFile(image.Path() + victim));
}

TEST_F(Update, AFileTheServerDoesNotHaveEndsTheRunAfterThreeTries)
{
    InstallOnce(5);
    std::remove(Installed("Data/file_1.bin").c_str());
    WriteWholeFile(Installed("Data/file_0.pak"), "damaged");
    std::remove(Released("Data/file_1.bin.zip").c_str());
    EngineRun run = Run(Settings(), {}, "Data", -1, 20000);
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, CKrInstaller::ErrorRemoteFile);
    EXPECT_EQ(nginx.CountRequests("GET /Data/file_1.bin.zip 404"), 3u);
    EXPECT_EQ(run.counters.downloadFailures, 3u);
    // Everything else was mended; the missing file is still missing.
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>{"Data/file_1.bin"});
}

TEST_F(Update, DirectItemsAreCheckedAgainstTheServersTimeAndSize)
{
    InstallOnce(5);
    // A zip added by the owner, with its content extracted beside it: a per-file zip of kr-pack.
    std::vector<GameFile> pageFiles = {{"Data/index.html", "<html>1</html>", 1600000000}};
    TempDir pageImage, pageRelease;
    WriteGameFiles(pageImage.Path(), pageFiles);
    ASSERT_EQ(RunKrPack(pageImage.Path(), pageRelease.Path()), 0);
    WriteWholeFile(Released("pages.zip"), ReadWholeFile(pageRelease.Path() + "Data/index.html.zip"));
    SetFileTimeTo(Released("pages.zip"), UnixTimeToFileTime(1650000000));
    uint32_t zipSize = static_cast<uint32_t>(ReadWholeFile(Released("pages.zip")).size());

    EngineRun first = Run(Settings(), {{"pages.zip", zipSize, true}});
    ASSERT_EQ(first.state, kFinished) << "error " << first.error;
    EXPECT_EQ(ReadWholeFile(Installed("index.html")), "<html>1</html>");
    EXPECT_EQ(FileTimeOf(Installed("pages.zip")), UnixTimeToFileTime(1650000000));
    EXPECT_EQ(nginx.CountRequests("GET /pages.zip 200"), 1u);

    // Up to date by the server's time and size: not fetched again.
    EngineRun second = Run(Settings(), {{"pages.zip", zipSize, true}});
    ASSERT_EQ(second.state, kFinished);
    EXPECT_EQ(second.counters.totalItems, 0u);
    EXPECT_EQ(nginx.CountRequests("GET /pages.zip"), 1u);

    // A newer zip on the server is fetched, extracted and stamped with the server's time.
    pageFiles[0].content = "<html>2</html>";
    TempDir pageImage2, pageRelease2;
    WriteGameFiles(pageImage2.Path(), pageFiles);
    ASSERT_EQ(RunKrPack(pageImage2.Path(), pageRelease2.Path()), 0);
    WriteWholeFile(Released("pages.zip"), ReadWholeFile(pageRelease2.Path() + "Data/index.html.zip"));
    SetFileTimeTo(Released("pages.zip"), UnixTimeToFileTime(1660000000));
    EngineRun third = Run(Settings(), {{"pages.zip", zipSize, true}});
    ASSERT_EQ(third.state, kFinished);
    EXPECT_EQ(third.counters.totalItems, 1u);
    EXPECT_EQ(ReadWholeFile(Installed("index.html")), "<html>2</html>");
    EXPECT_EQ(FileTimeOf(Installed("pages.zip")), UnixTimeToFileTime(1660000000));
}

TEST_F(Update, DirectZipThatCannotBeExtractedIsNotKept)
{
    InstallOnce(3);
    // The kept zip would pass for up to date on the next run: it must go, so that it is fetched again.
    WriteWholeFile(Released("pages.zip"), "PK\x03\x04 not really a zip");
    const uint32_t size = static_cast<uint32_t>(ReadWholeFile(Released("pages.zip")).size());
    EngineRun run = Run(Settings(), {{"pages.zip", size, true}});
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, CKrInstaller::ErrorInstallFiles);
    EXPECT_FALSE(FileExists(Installed("pages.zip")));
    EngineRun again = Run(Settings(), {{"pages.zip", size, true}});
    EXPECT_EQ(again.counters.totalItems, 1u);
    EXPECT_EQ(nginx.CountRequests("GET /pages.zip 200"), 2u);
}

class HelperBuild : public EngineScenario
{
};

TEST_F(HelperBuild, UsesItsPackageNameFillsCountsAndSendsNoEvents)
{
    MakeRelease(MakeGameFiles(6, 4000, 21), {"--package", "Plugin"});
    ASSERT_TRUE(FileExists(Released("Plugin.zip")));
    EngineRun run = Run(Settings(KrInstallerBuild::Helper), {}, "Plugin");
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(DiffWithImage("Plugin.cch"), std::vector<std::string>());
    EXPECT_EQ(run.doneCount, 0);
    EXPECT_EQ(run.totalCount, 0);
    EXPECT_TRUE(run.events.empty());

    // A changed file: counts of the update phase.
    WriteWholeFile(Installed("Data/file_0.pak"), "x");
    EngineRun update = Run(Settings(KrInstallerBuild::Helper), {}, "Plugin");
    ASSERT_EQ(update.state, kFinished);
    EXPECT_EQ(update.doneCount, 1);
    EXPECT_EQ(update.totalCount, 1);

    // The launcher build leaves the count outputs alone and always uses "Data".
    EngineRun launcher = Run(Settings(KrInstallerBuild::Launcher), {}, "Plugin");
    EXPECT_EQ(launcher.doneCount, -1);
    EXPECT_EQ(launcher.totalCount, -1);
    EXPECT_EQ(launcher.state, kFailed);
    EXPECT_EQ(launcher.error, CKrInstaller::ErrorConnect);
}

TEST_F(HelperBuild, MissingDirectXRuntimeIsFetchedStartedAndAwaited)
{
    MakeRelease(MakeGameFiles(4, 2000, 22));
    // The web setup as the server offers it: a zip holding dxwebsetup.exe.
    TempDir dxImage, dxRelease;
    WriteGameFiles(dxImage.Path(), {{"Data/dxwebsetup.exe", "MZ setup", 1600000000}});
    ASSERT_EQ(RunKrPack(dxImage.Path(), dxRelease.Path()), 0);
    WriteWholeFile(Released("dxwebsetup.zip"), ReadWholeFile(dxRelease.Path() + "Data/dxwebsetup.exe.zip"));

    std::atomic<int> probes{0};
    std::atomic<int> starts{0};
    std::atomic<bool> runtimePresent{false};
    std::string startedIn;
    CKrInstallerSettings s = Settings(KrInstallerBuild::Helper);
    s.checkDirectX = true;
    s.directXProbe = [&]
    {
        ++probes;
        return runtimePresent.load();
    };
    s.startDirectXSetup = [&](const std::string& dir)
    {
        startedIn = dir;
        ++starts;
        runtimePresent = true; // the setup brings the runtime
        return true;
    };
    EngineRun run = Run(s);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(starts.load(), 1);
    EXPECT_EQ(startedIn, install.Path());
    EXPECT_GE(probes.load(), 2); // at Init, then in the waiting state
    EXPECT_EQ(ReadWholeFile(Installed("dxwebsetup.exe")), "MZ setup");
    EXPECT_FALSE(FileExists(Installed("dxwebsetup.zip")));
    EXPECT_FALSE(FileExists(Installed("dxwebsetup.install")));
    EXPECT_EQ(nginx.CountRequests("GET /dxwebsetup.zip 200"), 1u);

    // An update run never probes, even with the runtime missing.
    runtimePresent = false;
    probes = 0;
    EngineRun update = Run(s);
    ASSERT_EQ(update.state, kFinished);
    EXPECT_EQ(probes.load(), 0);
    EXPECT_EQ(nginx.CountRequests("GET /dxwebsetup.zip"), 1u);
}

TEST_F(HelperBuild, PresentDirectXRuntimeQueuesNoSetup)
{
    MakeRelease(MakeGameFiles(3, 2000, 23));
    CKrInstallerSettings s = Settings(KrInstallerBuild::Helper);
    s.checkDirectX = true;
    s.directXProbe = [] { return true; };
    s.startDirectXSetup = [](const std::string&) { return true; };
    EngineRun run = Run(s);
    ASSERT_EQ(run.state, kFinished);
    EXPECT_EQ(nginx.CountRequests("GET /dxwebsetup.zip"), 0u);
}
