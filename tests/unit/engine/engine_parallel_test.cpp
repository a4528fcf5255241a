// A fresh install over several connections: packages side by side, large packages in byte ranges
// (cut, resumed, refused by the server), the bound on packages staged ahead, and the speed limit.
#include "install/rate_limiter.h"
#include "platform/files.h"
#include "tests/unit/engine/fake_engine.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

using namespace kr::test;

namespace
{

constexpr int kFinished = CKrInstaller::StateFinished;

class ParallelTest : public FakeEngineTest
{
protected:
    std::vector<FakeTransport::Request> Gets(const std::string& path)
    {
        std::vector<FakeTransport::Request> out;
        for (const FakeTransport::Request& r : transport.Requests())
            if (r.method == "GET" && r.path == path)
                out.push_back(r);
        return out;
    }
    uint64_t SizeOf(const std::string& path)
    {
        uint64_t size = 0;
        kr::os::GetFileSize(path, &size);
        return size;
    }
    bool AdvanceUntil(const std::function<bool()>& done, int seconds = 30)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done() && std::chrono::steady_clock::now() < deadline)
        {
            clock.Advance(5);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return done();
    }
};

} // namespace

// While the first package hangs, the other connections fetch the next ones; the run completes once
// it is let go.
TEST_F(ParallelTest, PackagesAreFetchedSideBySide)
{
    MakeRelease(Game(12, 100000, 41), 300000);
    ASSERT_TRUE(Exists(Released("Data_3.zip")));
    transport.Fault("Data.zip", FakeFault::Of(FakeFault::Hold), 1, true);
    CKrInstallerSettings settings = Settings();
    settings.transfers.rangeMinBytes = 0;
    CKrInstaller engine;
    engine.Init("Data", install.Path(), "fake.test", settings);
    engine.Start();
    EXPECT_TRUE(AdvanceUntil([&] {
        return transport.Count("GET", "Data_1.zip") >= 1 && transport.Count("GET", "Data_2.zip") >= 1 &&
               transport.Count("GET", "Data_3.zip") >= 1;
    })) << "the other packages wait for the first one";
    transport.Release("Data.zip");
    int state = 0;
    EXPECT_TRUE(AdvanceUntil([&] {
        engine.GetStatus(&state, nullptr, nullptr, nullptr, nullptr);
        return state == kFinished;
    }));
    EXPECT_EQ(Diff(), std::vector<std::string>());
}

// A package of several ranges' size comes in pieces over the connections, which extraction reads in
// order as one file: every byte once, the tree complete, progress never back and never past the total.
TEST_F(ParallelTest, ALargePackageComesInRangesJoinedInOrder)
{
    MakeRelease(Game(8, 120000, 42), 4 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    ASSERT_FALSE(Exists(Released("Data_1.zip")));
    CKrInstallerSettings settings = Settings();
    settings.transfers.rangeMinBytes = size / 5;
    FakeRun run = Run(settings);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<FakeTransport::Request> gets = Gets("Data.zip");
    ASSERT_EQ(gets.size(), 4u) << "one range per connection";
    std::set<uint64_t> offsets;
    uint64_t bytes = 0;
    for (const FakeTransport::Request& r : gets)
    {
        EXPECT_TRUE(r.ranged);
        EXPECT_EQ(r.status, 206);
        offsets.insert(r.offset);
        bytes += r.bytes;
    }
    EXPECT_EQ(offsets.size(), 4u);
    EXPECT_EQ(*offsets.begin(), 0u);
    EXPECT_EQ(bytes, size);
    EXPECT_FALSE(run.steppedBack);
    EXPECT_FALSE(run.passedTotal);
    EXPECT_FALSE(Exists(install.Path() + "Data.download/pieces/Data.zip.0"));
}

// A range cut short continues from where it stopped, inside its range, and nothing is fetched twice.
TEST_F(ParallelTest, ACutRangeResumesWithinItsRange)
{
    MakeRelease(Game(8, 120000, 43), 4 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    transport.Fault("Data.zip", FakeFault::CutAfter(10000), 1, true);
    CKrInstallerSettings settings = Settings();
    settings.transfers.rangeMinBytes = size / 2;
    settings.transfers.connections = 2;
    FakeRun run = Run(settings);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<FakeTransport::Request> gets = Gets("Data.zip");
    ASSERT_EQ(gets.size(), 3u);
    uint64_t bytes = 0;
    bool resumed = false;
    for (const FakeTransport::Request& r : gets)
    {
        bytes += r.bytes;
        if (r.offset == 10000 || r.offset == size / 2 + 10000)
        {
            resumed = true;
            EXPECT_FALSE(r.ifRange.empty()) << "a continuation is validated";
        }
    }
    EXPECT_TRUE(resumed);
    EXPECT_EQ(bytes, size);
    EXPECT_FALSE(run.steppedBack);
}

// Pieces left by a run that cut the package another way (more connections) are not continued as if
// they held this run's ranges: the package arrives sound, every byte once, nothing extracted twice.
TEST_F(ParallelTest, PiecesCutAnotherWayByAnEarlierRunAreNotContinued)
{
    MakeRelease(Game(8, 120000, 46), 4 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    CKrInstallerSettings settings = Settings();
    settings.transfers.rangeMinBytes = size / 4;
    transport.Fault("Data.zip", FakeFault::CutAfter(10000), 4, true);
    FakeRun first = Run(settings, {}, "Data", [&](CKrInstaller&, const FakeRun&) {
        return transport.Count("GET", "Data.zip") >= 4;
    });
    ASSERT_NE(first.state, kFinished);
    const size_t before = Gets("Data.zip").size();

    settings.transfers.connections = 2;
    FakeRun second = Run(settings);
    ASSERT_EQ(second.state, kFinished) << "error " << second.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    EXPECT_EQ(second.counters.extractFailures, 0u) << "a package put together from other ranges";
    std::vector<FakeTransport::Request> gets = Gets("Data.zip");
    uint64_t bytes = 0;
    for (size_t i = before; i < gets.size(); ++i)
        bytes += gets[i].bytes;
    EXPECT_EQ(bytes, size);
}

// Extraction threads that begin only once the test opens the gate (both packages staged).
struct ExtractionGate
{
    std::atomic<bool> open{false};
    kr::os::ThreadProc procs[2] = {};
    void* contexts[2] = {};
    int indexes[2] = {0, 1};
};
ExtractionGate* g_gate = nullptr;

unsigned GatedExtraction(void* index)
{
    int i = *static_cast<int*>(index);
    while (!g_gate->open.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return g_gate->procs[i](g_gate->contexts[i]);
}

// Two packages that both hold one file (a later package replacing it) are never extracted side by
// side: two writers of one file could leave a mix of both, of the listed size and time, which
// verification cannot tell from either. Both extraction threads are let go together once both
// packages are staged, and the first extraction waits a while for a second to begin beside it.
TEST_F(ParallelTest, PackagesThatWriteOneFileAreExtractedOneAfterTheOther)
{
    const std::string second = Bytes(1 << 20, 48);
    MakeRelease({ReleaseFile{"Data/shared.bin", second}});
    const std::string secondZip = ReadWholeFile(Released("Data.zip"));
    const uint64_t secondTime = TimeOf(Released("Data.zip"));
    const std::string first = Bytes(1 << 20, 47);
    MakeRelease({ReleaseFile{"Data/shared.bin", first}});
    ASSERT_FALSE(Exists(Released("Data_1.zip")));
    transport.AddFile("Data_1.zip", secondZip, secondTime);

    ExtractionGate gate;
    g_gate = &gate;
    CKrInstallerSettings settings = Settings();
    settings.extractThreads = 2;
    int started = 0;
    settings.startThread = [&](CKrThread& thread, kr::os::ThreadProc proc, void* context) {
        if (started >= 2)
            return thread.Start(proc, context);
        gate.procs[started] = proc;
        gate.contexts[started] = context;
        return thread.Start(GatedExtraction, &gate.indexes[started++]);
    };
    std::atomic<int> active{0}, begun{0};
    std::atomic<bool> sideBySide{false};
    settings.extracting = [&](const std::string&, bool begins) {
        if (!begins)
        {
            --active;
            return;
        }
        if (++active > 1)
            sideBySide = true;
        if (++begun > 1)
            return;
        for (int i = 0; i < 300 && active < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    // Whole packages, one per connection; the gate opens once both are staged (or, should they never
    // be, after 20 s: the run must end for the engine to stop).
    settings.transfers.connections = 2;
    settings.transfers.rangeMinBytes = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    FakeRun run = Run(settings, {}, "Data", [&](CKrInstaller&, const FakeRun&) {
        if ((SizeOf(Installed("Data.download/Data.zip")) == SizeOf(Released("Data.zip")) &&
             SizeOf(Installed("Data.download/Data_1.zip")) == secondZip.size()) ||
            std::chrono::steady_clock::now() > giveUp)
            gate.open = true;
        return false;
    });
    gate.open = true;
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(begun, 2);
    EXPECT_FALSE(sideBySide);
    const std::string installed = ReadWholeFile(Installed("Data/shared.bin"));
    EXPECT_TRUE(installed == first || installed == second) << "a mix of both packages";
    g_gate = nullptr;
}

// Packages that write different files are extracted side by side.
TEST_F(ParallelTest, PackagesOfDifferentFilesAreExtractedSideBySide)
{
    MakeRelease(Game(8, 200000, 49), 800000);
    ASSERT_TRUE(Exists(Released("Data_1.zip")));
    CKrInstallerSettings settings = Settings();
    settings.extractThreads = 2;
    std::atomic<int> active{0};
    std::atomic<bool> sideBySide{false};
    settings.extracting = [&](const std::string&, bool begins) {
        if (!begins)
        {
            --active;
            return;
        }
        ++active;
        // Each extraction waits a while for another to join it.
        for (int i = 0; i < 1000 && active < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (active > 1)
            sideBySide = true;
    };
    FakeRun run = Run(settings);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    EXPECT_TRUE(sideBySide);
}

// Idle workers join a new phase at once rather than a round later: the first per-file zips of an
// update are asked for on every connection within a few milliseconds of each other.
TEST_F(ParallelTest, EveryConnectionJoinsTheUpdateAtOnce)
{
    std::vector<ReleaseFile> game = Game(8, 20000, 50);
    MakeRelease(game);
    ASSERT_EQ(Run().state, kFinished);
    for (size_t i = 0; i < 4; ++i)
    {
        game[i].content = Bytes(21000, 60 + static_cast<uint32_t>(i));
        game[i].unixTime += 3600;
    }
    MakeRelease(game);
    for (size_t i = 0; i < 4; ++i)
        transport.Fault(game[i].path + ".zip", FakeFault::Of(FakeFault::Hold), 1, true);
    CKrInstallerSettings settings = Settings();
    settings.timings.roundMs = 100;
    Run(settings, {}, "Data", [&](CKrInstaller&, const FakeRun&) { return transport.CountPrefix("GET", "Data/") >= 4; });
    std::vector<uint64_t> at;
    for (const FakeTransport::Request& r : transport.Requests())
        if (r.method == "GET" && r.path.compare(0, 5, "Data/") == 0)
            at.push_back(r.atMs);
    ASSERT_EQ(at.size(), 4u);
    EXPECT_LE(*std::max_element(at.begin(), at.end()) - *std::min_element(at.begin(), at.end()), 30u);
}

// A server that ignores Range answers each piece with the whole file: nothing of those answers is
// taken as a piece, the package comes once in one piece, and later packages are not cut either.
TEST_F(ParallelTest, AServerThatIgnoresRangeGetsTheSplitPackageWhole)
{
    MakeRelease(Game(8, 120000, 44), 500000);
    ASSERT_TRUE(Exists(Released("Data_1.zip")));
    const uint64_t size = SizeOf(Released("Data.zip"));
    for (const char* name : {"Data.zip", "Data_1.zip", "Data_2.zip"})
        transport.Fault(name, FakeFault::Of(FakeFault::IgnoreRange), 1000, true);
    CKrInstallerSettings settings = Settings();
    settings.transfers.rangeMinBytes = size / 4;
    settings.transfers.connections = 2;
    FakeRun run = Run(settings);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    size_t whole = 0;
    for (const FakeTransport::Request& r : Gets("Data.zip"))
        whole += r.ranged ? 0 : 1;
    EXPECT_EQ(whole, 1u);
    EXPECT_FALSE(run.steppedBack);
    EXPECT_FALSE(run.passedTotal);
}

// With extraction stopped, no more packages are fetched than the connections plus the ones allowed
// to wait: the disk does not fill with packages.
TEST_F(ParallelTest, PackagesStagedAheadAreBounded)
{
    MakeRelease(Game(30, 50000, 45), 100000);
    ASSERT_TRUE(Exists(Released("Data_9.zip")));
    CKrInstallerSettings settings = Settings();
    settings.transfers.connections = 3;
    settings.transfers.packagesAhead = 2;
    int calls = 0;
    // The extraction threads are started first: they never run.
    settings.startThread = [&](CKrThread& thread, kr::os::ThreadProc proc, void* context) {
        return calls++ < settings.extractThreads || thread.Start(proc, context);
    };
    {
        CKrInstaller engine;
        engine.Init("Data", install.Path(), "fake.test", settings);
        engine.Start();
        ASSERT_TRUE(AdvanceUntil([&] { return transport.CountPrefix("GET", "Data") >= 5; }));
        // Plenty of time for more.
        for (int i = 0; i < 400; ++i)
        {
            clock.Advance(50);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        EXPECT_EQ(transport.CountPrefix("GET", "Data"), 5u);
    }
}

// The bucket lets the rate through on the engine's clock: 1 MiB at 256 KiB/s takes about 4 s, less a
// quarter second of saved-up bytes; a cleared stop flag ends a wait at once.
TEST(RateLimiter, KeepsToTheRateOnTheEnginesClock)
{
    FakeClock clock(true);
    CKrRateLimiter limiter(&clock);
    limiter.SetRate(256 * 1024);
    std::atomic<bool> running{true};
    uint64_t start = clock.NowMs();
    for (int i = 0; i < 16; ++i)
        ASSERT_TRUE(limiter.Acquire(64 * 1024, running));
    uint64_t took = clock.NowMs() - start;
    EXPECT_GE(took, 3700u);
    EXPECT_LE(took, 4000u);

    // No limit: no wait.
    limiter.SetRate(0);
    start = clock.NowMs();
    ASSERT_TRUE(limiter.Acquire(10 << 20, running));
    EXPECT_EQ(clock.NowMs(), start);

    limiter.SetRate(1024);
    std::atomic<bool> stopped{false};
    EXPECT_FALSE(limiter.Acquire(1 << 20, stopped));
}

// Two transfers share one bucket: together they keep to the rate.
TEST(RateLimiter, TransfersShareTheRate)
{
    FakeClock clock(true);
    CKrRateLimiter limiter(&clock);
    limiter.SetRate(100 * 1024);
    std::atomic<bool> running{true};
    EXPECT_EQ(limiter.WaitFor(1024), 0u);
    ASSERT_TRUE(limiter.Acquire(100 * 1024, running));
    uint64_t afterFirst = clock.NowMs();
    // The second transfer finds the first one's debt.
    EXPECT_GE(limiter.WaitFor(100 * 1024), 900u);
    ASSERT_TRUE(limiter.Acquire(100 * 1024, running));
    EXPECT_GE(clock.NowMs() - afterFirst, 900u);
}

// The engine under a limit takes as long on its clock as the bytes need, and its progress still
// moves forward only.
TEST_F(ParallelTest, TheSpeedLimitHoldsForTheWholeInstall)
{
    MakeRelease(Game(6, 100000, 46), 300000);
    uint64_t bytes = 0;
    for (const char* name : {"Data.zip", "Data_1.zip", "Data.cch"})
        bytes += SizeOf(Released(name));
    CKrInstallerSettings settings = Settings();
    settings.transfers.rateLimit = 200 * 1024;
    FakeRun run = Run(settings);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    // Minus the quarter second the bucket may save up.
    EXPECT_GE(run.virtualMs, bytes * 1000 / (200 * 1024) - 260);
    EXPECT_FALSE(run.steppedBack);
}
