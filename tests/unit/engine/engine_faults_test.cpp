// The engine's answers to what a player's machine meets in the field (packages that cannot be
// extracted, damaged zips, nested files, name collisions, case-only renames, shutdown, threads that
// cannot start), its markers as written, and the catch-all at every thread entry, against the fake
// transport. These tests are portable: the Windows test program runs them under Wine too.
#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"
#include "tests/unit/engine/cache_writer.h"
#include "tests/unit/engine/fake_engine.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace kr::test;

namespace
{

constexpr int kFinished = CKrInstaller::StateFinished;
constexpr int kFailed = CKrInstaller::StateFailed;

uint32_t DosOf(int64_t unixTime)
{
    uint32_t dos = 0;
    FileTimeToDosDateTime32(UnixTimeToFileTime(unixTime), &dos);
    return dos;
}

// A zip written by CKrZipFile: (entry name, content) in order, all with one time.
std::string MakeZip(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& entries,
                    int64_t unixTime)
{
    std::string path = dir.Path() + "made.zip";
    kr::os::RemoveFile(path);
    CKrZipFile zip;
    EXPECT_TRUE(zip.Open(path, false, nullptr, false));
    for (const auto& e : entries)
        EXPECT_TRUE(zip.AddFileFromMemory(e.first, e.second.data(), e.second.size(), DosOf(unixTime), 6));
    zip.Close();
    return ReadWholeFile(path);
}

// The zip with the signature of its n-th central directory header (0-based) destroyed.
std::string DamageCentralDirectory(std::string zip, int n)
{
    size_t at = 0;
    for (int i = 0; i <= n; ++i)
    {
        at = zip.find(std::string("PK\x01\x02", 4), i == 0 ? 0 : at + 4);
        if (at == std::string::npos)
            return zip;
    }
    zip[at + 2] = 'X';
    return zip;
}

class EngineFaults : public FakeEngineTest
{
};

} // namespace

// a package with an entry no folder can hold goes back three times at most, then the run
// ends in state 7; the packages before and after it are in place with their markers.
TEST_F(EngineFaults, APackageThatCannotBeExtractedEndsTheRunAfterThreeAttempts)
{
    MakeRelease(Game(9, 100000, 21), 300000);
    ASSERT_TRUE(Exists(Released("Data_2.zip")));
    const std::string good = ReadWholeFile(Released("Data_1.zip"));
    TempDir work;
    transport.AddFile("Data_1.zip", MakeZip(work, {{"Data/ok.bin", "fine"}, {"Data/notes 12:00.txt", "x"}}, 1600000000),
                      UnixTimeToFileTime(1600000000));
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorPackageExtract);
    EXPECT_EQ(run.counters.extractFailures, 3u);
    // The same bytes were extracted again, not fetched again.
    EXPECT_EQ(transport.Count("GET", "Data_1.zip"), 1u);
    EXPECT_TRUE(Exists(Installed("Data.install")));
    EXPECT_FALSE(Exists(Installed("Data_1.install")));
    EXPECT_TRUE(Exists(Installed("Data_2.install")));
    EXPECT_TRUE(Exists(Installed("Data.download/Data_1.zip")));
    EXPECT_FALSE(Exists(Installed("Data.cch")));

    // The server mends the package: the next run fetches only that one.
    transport.AddFile("Data_1.zip", good, UnixTimeToFileTime(1600001000));
    FakeRun next = Run();
    ASSERT_EQ(next.state, kFinished) << "error " << next.error;
    EXPECT_EQ(transport.Count("GET", "Data.zip"), 1u);
    EXPECT_EQ(transport.Count("GET", "Data_1.zip"), 2u);
    EXPECT_EQ(transport.Count("GET", "Data_2.zip"), 1u);
    EXPECT_EQ(Diff(), std::vector<std::string>{"extra Data/ok.bin"});
}

// a package whose central directory ends early is damaged, not extracted.
TEST_F(EngineFaults, APackageWhoseDirectoryEndsEarlyIsNotTakenAsExtracted)
{
    MakeRelease(Game(4, 20000, 22), 1 << 20);
    std::string zip = ReadWholeFile(Released("Data.zip"));
    transport.AddFile("Data.zip", DamageCentralDirectory(zip, 2), TimeOf(Released("Data.zip")));
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorPackageExtract);
    // Damaged bytes are fetched again each time.
    EXPECT_EQ(transport.Count("GET", "Data.zip"), 3u);
    EXPECT_FALSE(Exists(Installed("Data.install")));
    EXPECT_FALSE(Exists(Installed("Data.download/Data.zip")));
}

// a file below a sub-folder of Data/ gets the list's time where the zip put it, so the next
// run leaves it alone even when the zip carries another time.
TEST_F(EngineFaults, NestedFilesGetTheListsTime)
{
    MakeRelease(Game(6, 3000, 23), 1 << 20);
    ASSERT_EQ(Run().state, kFinished);
    const std::string nested = "Data/sub/file_2.bin";
    const ReleaseFile& f = files[2];
    ASSERT_EQ(f.path, nested);
    WriteWholeFile(Installed(nested), "damaged");
    // Another packer: the zip's entry an hour off the list's time.
    TempDir work;
    transport.AddFile("Data/file_2.bin.zip", MakeZip(work, {{"sub/file_2.bin", f.content}}, f.unixTime + 3600));
    FakeRun update = Run();
    ASSERT_EQ(update.state, kFinished) << "error " << update.error;
    EXPECT_EQ(TimeOf(Installed(nested)), UnixTimeToFileTime(f.unixTime));
    size_t before = transport.CountPrefix("GET", "Data/");
    FakeRun again = Run();
    ASSERT_EQ(again.state, kFinished);
    EXPECT_EQ(again.counters.totalItems, 0u);
    EXPECT_EQ(transport.CountPrefix("GET", "Data/"), before);
}

// the zip of "foo" never lands on the installed "foo.zip".
TEST_F(EngineFaults, PerFileZipsNeverLandOnInstalledFiles)
{
    TempDir work;
    const int64_t t = 1600000001;
    const std::string foo = Bytes(5000, 1), fooZip = Bytes(7000, 2);
    CacheWriter cache(258, 2);
    cache.Record("foo", UnixTimeToFileTime(t), 0, 5000, 100).Record("foo.zip", UnixTimeToFileTime(t), 1, 7000, 100);
    transport.AddFile("Data.cch", cache.Bytes());
    transport.AddFile("Data/foo.zip", MakeZip(work, {{"foo", foo}}, t));
    transport.AddFile("Data/foo.zip.zip", MakeZip(work, {{"foo.zip", fooZip}}, t));
    // An installation whose foo.zip is in place and whose foo is outdated.
    kr::os::MakeDirectories(Installed("Data"));
    WriteWholeFile(Installed("Data.cch"), cache.Bytes());
    WriteWholeFile(Installed("Data/foo.zip"), fooZip);
    SetTime(Installed("Data/foo.zip"), UnixTimeToFileTime(t));
    WriteWholeFile(Installed("Data/foo"), "old");
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(run.counters.totalItems, 1u);
    EXPECT_TRUE(ReadWholeFile(Installed("Data/foo")) == foo);
    EXPECT_TRUE(ReadWholeFile(Installed("Data/foo.zip")) == fooZip);
}

// where the file system ignores case, a rename that changes only the case is the same file.
TEST_F(EngineFaults, ACaseOnlyRenameIsTheSameFileWhereCaseIsIgnored)
{
    MakeRelease(Game(3, 3000, 24), 1 << 20);
    CKrInstallerSettings settings = Settings();
    settings.ignoreNameCase = 1;
    ASSERT_EQ(Run(settings).state, kFinished);
    uint64_t time = TimeOf(Installed("Data/file_0.bin"));
    ASSERT_TRUE(kr::os::RenameFile(Installed("Data/file_0.bin"), Installed("Data/FILE_0.BIN")));
    SetTime(Installed("Data/FILE_0.BIN"), time);
    FakeRun run = Run(settings);
    ASSERT_EQ(run.state, kFinished);
    EXPECT_EQ(run.counters.totalItems, 0u);
    EXPECT_EQ(transport.CountPrefix("GET", "Data/"), 0u);
}

// closing the engine while a package is being extracted returns within a second; the
// complete package stays staged and the next run extracts it without fetching it again.
TEST_F(EngineFaults, StoppingDuringExtractionReturnsWithinASecond)
{
    std::vector<ReleaseFile> many;
    for (int i = 0; i < 400; ++i)
        many.push_back({"Data/f/" + std::to_string(i) + ".bin", Bytes(20000, static_cast<uint32_t>(i)), 1600000001});
    MakeRelease(many, 64 << 20);
    std::chrono::steady_clock::duration took{};
    bool cut = false;
    {
        auto engine = std::make_unique<CKrInstaller>();
        engine->Init("Data", install.Path(), "fake.test", Settings());
        engine->Start();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!Exists(Installed("Data/f/50.bin")) && std::chrono::steady_clock::now() < deadline)
        {
            clock.Advance(5);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        auto stopping = std::chrono::steady_clock::now();
        engine.reset();
        took = std::chrono::steady_clock::now() - stopping;
        cut = !Exists(Installed("Data.install"));
    }
    EXPECT_LT(took, std::chrono::seconds(1));
    FakeRun last = Run();
    ASSERT_EQ(last.state, kFinished) << "error " << last.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    if (cut)
    {
        // Confirmed with one byte, never fetched whole again.
        EXPECT_EQ(transport.Count("GET", "Data.zip"), 2u);
        for (const FakeTransport::Request& r : transport.Requests())
        {
            if (r.path == "Data.zip" && r.method == "GET" && r.ranged)
            {
                EXPECT_EQ(r.bytes, 1u);
            }
        }
    }
}

// every thread in a transfer that hangs, the engine closed: it returns within a second.
TEST_F(EngineFaults, StoppingDuringStalledTransfersReturnsWithinASecond)
{
    MakeRelease(Game(8, 3000, 25), 1 << 20);
    ASSERT_EQ(Run().state, kFinished);
    for (const ReleaseFile& f : files)
    {
        if (f.path.compare(0, 5, "Data/") != 0)
            continue;
        WriteWholeFile(Installed(f.path), "damaged");
        std::string name = f.path.substr(f.path.rfind('/') + 1);
        transport.Fault("Data/" + name + ".zip", FakeFault::Of(FakeFault::Stall), 1, true);
    }
    std::chrono::steady_clock::duration took{};
    {
        auto engine = std::make_unique<CKrInstaller>();
        engine->Init("Data", install.Path(), "fake.test", Settings());
        engine->Start();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (transport.CountPrefix("GET", "Data/") < 4 && std::chrono::steady_clock::now() < deadline)
        {
            clock.Advance(5);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        EXPECT_GE(transport.CountPrefix("GET", "Data/"), 4u) << "the control thread and three workers";
        auto stopping = std::chrono::steady_clock::now();
        engine.reset();
        took = std::chrono::steady_clock::now() - stopping;
    }
    EXPECT_LT(took, std::chrono::seconds(1));
}

// a thread that cannot be created ends the run in state 7 instead of leaving it in state 0.
TEST_F(EngineFaults, AThreadThatCannotBeCreatedEndsTheRunAtOnce)
{
    MakeRelease(Game(2, 1000, 26), 1 << 20);
    // The extraction threads, three workers and the control thread.
    const int threads = Settings().extractThreads + 4;
    for (int failing = 0; failing < threads; ++failing)
    {
        CKrInstallerSettings settings = Settings();
        int calls = 0;
        settings.startThread = [&](CKrThread& thread, kr::os::ThreadProc proc, void* context) {
            return calls++ != failing && thread.Start(proc, context);
        };
        CKrInstaller engine;
        engine.Init("Data", install.Path(), "fake.test", settings);
        engine.Start();
        int state = -1;
        engine.GetStatus(&state, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(state, kFailed) << "thread " << failing;
        EXPECT_EQ(engine.GetErrorCode(), KrErrorThreadStart) << "thread " << failing;
    }
    EXPECT_TRUE(transport.Requests().empty());
}

// Markers as written: the package's time, created or truncated by the launcher build, created only
// when absent by the helper build.
TEST_F(EngineFaults, MarkersCarryThePackagesTimeAndTheHelperNeverReplacesOne)
{
    for (KrInstallerBuild build : {KrInstallerBuild::Launcher, KrInstallerBuild::Helper})
    {
        TempDir dir;
        transport.ClearFaults();
        MakeRelease(Game(9, 100000, 27), 300000);
        ASSERT_TRUE(Exists(Released("Data_2.zip")));
        // HTTP dates carry whole seconds.
        const uint64_t packageTime = TimeOf(Released("Data.zip")) / 10000000 * 10000000;
        const uint64_t package1Time = TimeOf(Released("Data_1.zip")) / 10000000 * 10000000;
        const size_t gets0 = transport.Count("GET", "Data.zip"), gets1 = transport.Count("GET", "Data_1.zip");
        const size_t gets2 = transport.Count("GET", "Data_2.zip");
        const uint64_t earlier = UnixTimeToFileTime(1500000000);
        // Package 0 is held until its marker has been put there by someone else; package 1 until the
        // test has looked at marker 0; package 2 until it has looked at marker 1 (the launcher build
        // deletes every marker once the last package is in).
        transport.Fault("Data.zip", FakeFault::Of(FakeFault::Hold), 1, true);
        transport.Fault("Data_1.zip", FakeFault::Of(FakeFault::Hold), 1, true);
        transport.Fault("Data_2.zip", FakeFault::Of(FakeFault::Hold), 1, true);
        CKrInstallerSettings settings = Settings(build);
        // One package after the other, so that the holds order the markers.
        settings.transfers.connections = 1;
        CKrInstaller engine;
        engine.Init("Data", dir.Path(), "fake.test", settings);
        engine.Start();
        auto advanceUntil = [&](const std::function<bool()>& done) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!done() && std::chrono::steady_clock::now() < deadline)
            {
                clock.Advance(5);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            return done();
        };
        ASSERT_TRUE(advanceUntil([&] { return transport.Count("GET", "Data.zip") == gets0 + 1; }));
        WriteWholeFile(dir.Path() + "Data.install", "");
        SetTime(dir.Path() + "Data.install", earlier);
        transport.Release("Data.zip");
        ASSERT_TRUE(advanceUntil([&] {
            return transport.Count("GET", "Data_1.zip") == gets1 + 1 && engine.GetCounters().doneItems >= 1;
        }));
        uint64_t markerTime = TimeOf(dir.Path() + "Data.install");
        if (build == KrInstallerBuild::Launcher)
            EXPECT_EQ(markerTime, packageTime) << "the launcher build stamps its marker";
        else
            EXPECT_EQ(markerTime, earlier) << "the helper build leaves an existing marker alone";
        // A marker written by the engine itself carries the package's time in both builds.
        transport.Release("Data_1.zip");
        // Counted once the marker is written and stamped.
        ASSERT_TRUE(advanceUntil([&] {
            return transport.Count("GET", "Data_2.zip") == gets2 + 1 && engine.GetCounters().doneItems >= 2;
        }));
        EXPECT_EQ(TimeOf(dir.Path() + "Data_1.install"), package1Time);
        transport.Release("Data_2.zip");
    }
}

// An exception in any engine thread ends the run in state 7 with KrErrorInternal.
TEST_F(EngineFaults, AnExceptionInTheControlThreadEndsTheRunInState7)
{
    MakeRelease(Game(2, 1000, 28), 1 << 20);
    transport.Fault("Data.cch", FakeFault::Of(FakeFault::Throw), 1);
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorInternal);
}

TEST_F(EngineFaults, AnExceptionInADownloadWorkerEndsTheRunInState7)
{
    MakeRelease(Game(12, 1000, 29), 1 << 20);
    ASSERT_EQ(Run().state, kFinished);
    for (const ReleaseFile& f : files)
    {
        if (f.path.compare(0, 5, "Data/") != 0)
            continue;
        WriteWholeFile(Installed(f.path), "damaged");
        transport.Fault("Data/" + f.path.substr(f.path.rfind('/') + 1) + ".zip", FakeFault::Of(FakeFault::Throw), 1,
                        true);
    }
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorInternal);
}

TEST_F(EngineFaults, AnExceptionInTheInstallThreadEndsTheRunInState7)
{
    MakeRelease(Game(2, 1000, 30), 1 << 20);
    TempDir work;
    transport.AddFile("dxwebsetup.zip", MakeZip(work, {{"dxwebsetup.exe", "MZ"}}, 1600000000));
    CKrInstallerSettings settings = Settings(KrInstallerBuild::Helper);
    settings.checkDirectX = true;
    settings.directXProbe = [] { return false; };
    settings.startDirectXSetup = [](const std::string&) -> bool { throw std::runtime_error("setup"); };
    FakeRun run = Run(settings);
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorInternal);
}

TEST_F(EngineFaults, AnExceptionFromTheOwnersEventsEndsTheRunInState7)
{
    MakeRelease(Game(2, 1000, 31), 1 << 20);
    struct Throwing : CKrInstallerEvents
    {
        void OnInstallStarted(bool) override { throw 42; }
        void OnInstallFinished() override {}
    } throwing;
    CKrInstallerSettings settings = Settings();
    settings.events = &throwing;
    FakeRun run = Run(settings);
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorInternal);
}

// The state machine's table: what it allows, and what it never does.
TEST(EngineStates, TheTransitionTableHoldsTheDescribedRuns)
{
    const int fresh[] = {0, 1, 2, 4, 5, 6};
    const int withDirectX[] = {0, 1, 2, 3, 4, 5, 6};
    const int update[] = {0, 1, 4, 5, 6};
    for (size_t i = 1; i < 6; ++i)
        EXPECT_TRUE(CKrInstaller::IsAllowedTransition(fresh[i - 1], fresh[i]));
    for (size_t i = 1; i < 7; ++i)
        EXPECT_TRUE(CKrInstaller::IsAllowedTransition(withDirectX[i - 1], withDirectX[i]));
    for (size_t i = 1; i < 5; ++i)
        EXPECT_TRUE(CKrInstaller::IsAllowedTransition(update[i - 1], update[i]));
    for (int s = 0; s <= 5; ++s)
        EXPECT_TRUE(CKrInstaller::IsAllowedTransition(s, 7));
    for (int to = 0; to <= 7; ++to)
    {
        EXPECT_FALSE(CKrInstaller::IsAllowedTransition(6, to)) << "6 is final";
        EXPECT_FALSE(CKrInstaller::IsAllowedTransition(7, to)) << "7 is final";
    }
    EXPECT_FALSE(CKrInstaller::IsAllowedTransition(5, 4));
    EXPECT_FALSE(CKrInstaller::IsAllowedTransition(2, 5));
    EXPECT_FALSE(CKrInstaller::IsAllowedTransition(0, 2));
}
