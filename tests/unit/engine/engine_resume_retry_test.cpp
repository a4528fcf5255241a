// The engine's resume, retry, back-off and requeue paths against the scripted fake transport and a
// clock the test drives, the file list and package numbering under faults, and the progress rules.
#include "install/path_utils.h"
#include "install/retry_policy.h"
#include "platform/files.h"
#include "tests/unit/engine/fake_engine.h"

#include <algorithm>
#include <thread>

using namespace kr::test;

namespace
{

constexpr int kFinished = CKrInstaller::StateFinished;
constexpr int kFailed = CKrInstaller::StateFailed;

class ResumeTest : public FakeEngineTest
{
};

class RetryTest : public FakeEngineTest
{
};

uint64_t SizeOf(const std::string& path)
{
    uint64_t size = 0;
    kr::os::GetFileSize(path, &size);
    return size;
}

} // namespace

// a package transfer cut after 60 % continues from there instead of starting again.
TEST_F(ResumeTest, ACutPackageContinuesWhereItStopped)
{
    MakeRelease(Game(6, 200000, 1), 1 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    transport.Fault("Data.zip", FakeFault::CutAfter(size * 6 / 10), 1, true);
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<FakeTransport::Request> gets;
    for (const FakeTransport::Request& r : transport.Requests())
        if (r.method == "GET" && r.path == "Data.zip")
            gets.push_back(r);
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_FALSE(gets[0].ranged);
    EXPECT_TRUE(gets[1].ranged);
    EXPECT_EQ(gets[1].offset, size * 6 / 10);
    EXPECT_EQ(gets[1].ifRange, FakeTransport::HttpDate(TimeOf(Released("Data.zip"))));
    EXPECT_EQ(gets[1].status, 206);
    // Every byte of the package crossed the wire once, and progress counted it once.
    EXPECT_EQ(gets[0].bytes + gets[1].bytes, size);
    EXPECT_FALSE(run.steppedBack);
    EXPECT_FALSE(run.passedTotal);
}

// As met in the field: a server that cuts every transfer starting at byte 0. Without resume no
// package ever arrives; with it, the bytes served stay close to the release's size.
TEST_F(ResumeTest, AServerThatCutsEveryFreshTransferStillDeliversTheRelease)
{
    MakeRelease(Game(12, 150000, 2), 512 * 1024);
    uint64_t releaseBytes = 0;
    for (const char* name : {"Data.zip", "Data_1.zip", "Data_2.zip", "Data_3.zip", "Data.cch"})
        releaseBytes += SizeOf(Released(name));
    ASSERT_TRUE(Exists(Released("Data_3.zip")));
    transport.SetCutFresh(0.6);
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    uint64_t served = transport.BytesServed();
    std::cout << "[ bytes    ] served " << served << " for a release of " << releaseBytes << std::endl;
    EXPECT_LE(served, releaseBytes + releaseBytes / 10);
    EXPECT_FALSE(run.steppedBack);
}

// a server that ignores Range answers 200; the engine takes the whole file from the start.
TEST_F(ResumeTest, AServerThatIgnoresRangeGetsAWholeTransfer)
{
    MakeRelease(Game(4, 100000, 3), 1 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    transport.Fault("Data.zip", FakeFault::CutAfter(size / 2), 1, true);
    transport.Fault("Data.zip", FakeFault::Of(FakeFault::IgnoreRange), 1, true);
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<FakeTransport::Request> requests = transport.Requests();
    auto second = std::find_if(requests.begin(), requests.end(), [](const FakeTransport::Request& r) {
        return r.method == "GET" && r.path == "Data.zip" && r.ranged;
    });
    ASSERT_NE(second, requests.end());
    EXPECT_EQ(second->status, 200);
    EXPECT_EQ(second->bytes, size);
    // The bar does not go back although the transfer started over.
    EXPECT_FALSE(run.steppedBack);
}

// the partial file and what validates it survive the engine, so that the next one resumes.
TEST_F(ResumeTest, AnEngineStoppedDuringATransferLeavesWhatTheNextOneContinues)
{
    MakeRelease(Game(4, 300000, 4), 4 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    transport.Fault("Data.zip", FakeFault::CutAfter(size * 7 / 10), 1, true);
    // Stopped as soon as the cut transfer has failed.
    FakeRun first = Run(Settings(), {}, "Data", [&](CKrInstaller& engine, const FakeRun&) {
        return engine.GetCounters().downloadFailures > 0;
    });
    EXPECT_EQ(first.state, CKrInstaller::StateFreshInstall);
    EXPECT_EQ(SizeOf(Installed("Data.download/Data.zip")), size * 7 / 10);
    EXPECT_TRUE(Exists(Installed("Data.download/info/Data.zip")));

    FakeRun second = Run();
    ASSERT_EQ(second.state, kFinished) << "error " << second.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<uint64_t> offsets;
    for (const FakeTransport::Request& r : transport.Requests())
        if (r.method == "GET" && r.path == "Data.zip")
            offsets.push_back(r.offset);
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, size * 7 / 10}));
    EXPECT_EQ(transport.BytesServed() - SizeOf(Released("Data.cch")), size);
    // Nothing of the staging folder is left once the run finished.
    EXPECT_FALSE(Exists(Installed("Data.download")));
}

// A package that changed on the server since the partial download is fetched whole.
TEST_F(ResumeTest, APartialPackageOfAnOlderReleaseIsNotContinued)
{
    MakeRelease(Game(4, 200000, 5), 4 << 20);
    const uint64_t size = SizeOf(Released("Data.zip"));
    transport.Fault("Data.zip", FakeFault::CutAfter(size / 2), 1, true);
    Run(Settings(), {}, "Data", [&](CKrInstaller& engine, const FakeRun&) {
        return engine.GetCounters().downloadFailures > 0;
    });
    ASSERT_TRUE(Exists(Installed("Data.download/Data.zip")));
    // A new release: other content, other time.
    std::vector<ReleaseFile> next = files;
    next[0].content = Bytes(next[0].content.size(), 77);
    next[0].unixTime += 86400;
    MakeRelease(next, 4 << 20);
    // Written within the same second as the first one: give it a later time, as a real release has.
    SetTime(Released("Data.zip"), TimeOf(Released("Data.zip")) + 600000000ull);
    Republish();
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<FakeTransport::Request> requests = transport.Requests();
    size_t ranged = 0;
    for (const FakeTransport::Request& r : requests)
        ranged += r.method == "GET" && r.path == "Data.zip" && r.ranged ? 1 : 0;
    EXPECT_EQ(ranged, 0u);
}

// For per-file zips and directly fetched items.
TEST_F(ResumeTest, PerFileZipsAndItemsResumeToo)
{
    MakeRelease(Game(3, 300000, 6), 8 << 20);
    ASSERT_EQ(Run().state, kFinished);
    WriteWholeFile(Installed("Data/file_0.bin"), "damaged");
    transport.AddFile("extra.bin", Bytes(250000, 9), UnixTimeToFileTime(1650000000));
    const uint64_t zipSize = SizeOf(Released("Data/file_0.bin.zip"));
    transport.Fault("Data/file_0.bin.zip", FakeFault::CutAfter(zipSize / 3), 1, true);
    transport.Fault("extra.bin", FakeFault::CutAfter(100000), 1, true);
    FakeRun run = Run(Settings(), {{"extra.bin", 250000}});
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>{"extra extra.bin"});
    EXPECT_EQ(ReadWholeFile(Installed("extra.bin")), Bytes(250000, 9));
    bool zipResumed = false, itemResumed = false;
    for (const FakeTransport::Request& r : transport.Requests())
    {
        zipResumed = zipResumed || (r.path == "Data/file_0.bin.zip" && r.offset == zipSize / 3 && r.status == 206);
        itemResumed = itemResumed || (r.path == "extra.bin" && r.offset == 100000 && r.status == 206);
    }
    EXPECT_TRUE(zipResumed);
    EXPECT_TRUE(itemResumed);
}

// transient faults are retried with a capped back-off with jitter, without limit.
TEST_F(RetryTest, TransientFaultsBackOffExponentiallyUpToTheCap)
{
    MakeRelease(Game(3, 2000, 7), 1 << 20);
    ASSERT_EQ(Run().state, kFinished);
    WriteWholeFile(Installed("Data/file_1.bin"), "damaged");
    transport.Fault("Data/file_1.bin.zip", FakeFault::WithStatus(503), 7, true);
    CKrInstallerSettings settings = Settings();
    // The product's idle waits: fewer wake-ups to drive, and the slack below covers one of them.
    settings.timings.idleMs = 20;
    settings.timings.roundMs = 100;
    FakeRun run = Run(settings, {}, "Data", nullptr, 600000, 2);
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    std::vector<uint64_t> times = transport.GetTimes("Data/file_1.bin.zip");
    ASSERT_EQ(times.size(), 8u);
    CKrBackoff ceiling(settings.timings.retryFirstMs, settings.timings.retryMaxMs, 1);
    for (size_t i = 1; i < times.size(); ++i)
    {
        uint64_t waited = times[i] - times[i - 1];
        uint32_t top = ceiling.Ceiling(static_cast<uint32_t>(i));
        EXPECT_GE(waited, top / 2) << "retry " << i;
        // The engine looks at its queue every few milliseconds.
        EXPECT_LE(waited, top + 60u) << "retry " << i;
    }
    // The cap holds: the last waits are no longer than retryMaxMs.
    EXPECT_LE(times[7] - times[6], settings.timings.retryMaxMs + 60u);
    EXPECT_EQ(run.counters.downloadFailures, 7u);
}

TEST(Backoff, JitterStaysWithinHalfAndWholeOfTheCappedStep)
{
    CKrBackoff backoff(1000, 60000, 42);
    std::vector<uint32_t> first;
    for (uint32_t n = 1; n <= 12; ++n)
    {
        uint32_t top = backoff.Ceiling(n);
        EXPECT_EQ(top, std::min<uint32_t>(60000, 1000u << (n - 1)));
        for (int k = 0; k < 50; ++k)
        {
            uint32_t d = backoff.Delay(n);
            EXPECT_GE(d, top / 2);
            EXPECT_LE(d, top);
            if (n == 1)
                first.push_back(d);
        }
    }
    // Jitter: not every wait is the same.
    std::sort(first.begin(), first.end());
    EXPECT_NE(first.front(), first.back());
    // The same seed gives the same waits.
    CKrBackoff a(100, 1000, 7), b(100, 1000, 7);
    for (uint32_t n = 1; n < 10; ++n)
        EXPECT_EQ(a.Delay(n), b.Delay(n));
}

// a 404 for a file of the list ends the run after three attempts, the rest in place.
TEST_F(RetryTest, AFileTheServerDoesNotHaveEndsTheRunAfterThreeAttempts)
{
    MakeRelease(Game(6, 3000, 8), 1 << 20);
    ASSERT_EQ(Run().state, kFinished);
    WriteWholeFile(Installed("Data/file_1.bin"), "damaged");
    WriteWholeFile(Installed("Data/file_3.bin"), "damaged");
    transport.RemoveFile("Data/file_1.bin.zip");
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorRemoteFile);
    EXPECT_EQ(transport.Count("GET", "Data/file_1.bin.zip"), 3u);
    EXPECT_EQ(Diff(), std::vector<std::string>{"differs Data/file_1.bin"});
    EXPECT_EQ(run.counters.givenUpItems, 1u);
}

// 3xx and other 4xx answers repeat too; 5xx, 408 and 429 pass.
TEST_F(RetryTest, RepeatingAndPassingAnswersAreToldApart)
{
    MakeRelease(Game(4, 3000, 9), 1 << 20);
    ASSERT_EQ(Run().state, kFinished);
    WriteWholeFile(Installed("Data/file_0.bin"), "damaged");
    WriteWholeFile(Installed("Data/file_1.bin"), "damaged");
    transport.Fault("Data/file_0.bin.zip", FakeFault::WithStatus(500), 1, true);
    transport.Fault("Data/file_0.bin.zip", FakeFault::WithStatus(408), 1, true);
    transport.Fault("Data/file_0.bin.zip", FakeFault::WithStatus(429), 1, true);
    transport.Fault("Data/file_0.bin.zip", FakeFault::Of(FakeFault::NoAnswer), 1, true);
    transport.Fault("Data/file_1.bin.zip", FakeFault::WithStatus(403), 5, true);
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorRemoteFile);
    EXPECT_EQ(transport.Count("GET", "Data/file_0.bin.zip"), 5u);
    EXPECT_EQ(transport.Count("GET", "Data/file_1.bin.zip"), 3u);
    EXPECT_EQ(Diff(), std::vector<std::string>{"differs Data/file_1.bin"});
}

// the file list is retried like every other transfer; the markers stay until it is in place.
TEST_F(RetryTest, AFileListThatFailsAfterThePackagesIsRetriedAndTheMarkersStay)
{
    MakeRelease(Game(8, 100000, 10), 300000);
    ASSERT_TRUE(Exists(Released("Data_2.zip")));
    // The probe passes, the list answers 503 twice right after the packages.
    transport.Fault("Data.cch", FakeFault::WithStatus(503), 2, true);
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(transport.Count("GET", "Data.cch"), 3u);
    EXPECT_EQ(transport.CountPrefix("GET", "Data/"), 0u);
    EXPECT_EQ(Diff(), std::vector<std::string>());
    EXPECT_EQ(events.Events(), (std::vector<std::pair<int, bool>>{{10005, true}, {10006, false}}));
}

TEST_F(RetryTest, AFileListTheServerRefusesKeepsTheMarkersForTheNextRun)
{
    MakeRelease(Game(8, 100000, 11), 300000);
    transport.Fault("Data.cch", FakeFault::WithStatus(404), 3, true);
    FakeRun first = Run();
    EXPECT_EQ(first.state, kFailed);
    EXPECT_EQ(first.error, KrErrorCacheDownload);
    // Every package is in place and marked; nothing pretends to be a finished installation.
    EXPECT_TRUE(Exists(Installed("Data.install")));
    EXPECT_TRUE(Exists(Installed("Data_1.install")));
    EXPECT_TRUE(Exists(Installed("Data_2.install")));
    EXPECT_FALSE(Exists(Installed("Data.cch")));
    size_t packagesBefore = transport.CountPrefix("GET", "Data_") + transport.Count("GET", "Data.zip");

    FakeRun second = Run();
    ASSERT_EQ(second.state, kFinished) << "error " << second.error;
    EXPECT_EQ(Diff(), std::vector<std::string>());
    // No package was fetched again.
    EXPECT_EQ(transport.CountPrefix("GET", "Data_") + transport.Count("GET", "Data.zip"), packagesBefore);
    EXPECT_FALSE(Exists(Installed("Data.install")));
}

// only a definite "not found" ends the numbering of the packages.
TEST_F(RetryTest, APackageQueryThatFailsIsRetriedNotTakenAsTheEnd)
{
    MakeRelease(Game(8, 100000, 12), 300000);
    ASSERT_TRUE(Exists(Released("Data_2.zip")));
    transport.Fault("Data_1.zip", FakeFault::WithStatus(503), 2);
    transport.Fault("Data_2.zip", FakeFault::Of(FakeFault::NoAnswer), 1);
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(transport.Count("GET", "Data_2.zip"), 1u);
    EXPECT_EQ(transport.Count("HEAD", "Data_3.zip"), 1u);
    EXPECT_EQ(transport.CountPrefix("GET", "Data/"), 0u);
    EXPECT_EQ(Diff(), std::vector<std::string>());
}

TEST_F(RetryTest, APackageAnnouncedAt5GBIsAnErrorNotTheEndOfTheRelease)
{
    MakeRelease(Game(8, 100000, 13), 300000);
    transport.SetAnnouncedSize("Data_1.zip", 5000000000ull);
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorRemoteSize);
    EXPECT_EQ(transport.CountPrefix("GET", "Data"), 0u);
}

TEST_F(RetryTest, APackageQueryThatKeepsBeingRefusedEndsTheRun)
{
    MakeRelease(Game(8, 100000, 14), 300000);
    transport.Fault("Data_1.zip", FakeFault::WithStatus(403), 5);
    FakeRun run = Run();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorRemoteFile);
    EXPECT_EQ(transport.Count("HEAD", "Data_1.zip"), 3u);
}

// declared sizes that differ from the real ones never move the bar back or past the end.
TEST_F(RetryTest, ProgressNeverStepsBackNorPassesTheTotal)
{
    MakeRelease(Game(3, 5000, 15), 1 << 20);
    transport.AddFile("small.zip", Bytes(3000000, 1), UnixTimeToFileTime(1650000000));
    transport.AddFile("large.zip", Bytes(10000, 2), UnixTimeToFileTime(1650000000));
    transport.SetPieceSize(32768);
    transport.SetPiecePauseUs(1000);
    // The launcher's fixed sizes: one far too small, one far too large.
    FakeRun run = Run(Settings(), {{"small.zip", 64094}, {"large.zip", 1250000}});
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_FALSE(run.steppedBack);
    EXPECT_FALSE(run.passedTotal);
}
