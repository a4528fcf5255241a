// The engine at release scale, against the fake transport: a file list of 100,000 files whose download
// sizes add up to more than 4 GiB. Files are not written to disk here (creating 100,000 files costs
// minutes on a slow disk); what is measured is the engine's own bookkeeping: its memory with every
// item queued, and progress arithmetic past 4 GiB.
#include "tests/unit/engine/cache_writer.h"
#include "tests/unit/engine/fake_engine.h"
#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"

#include <chrono>
#include <cstdio>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kr::test;

namespace
{

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Bytes the process has allocated and not freed (glibc only; 0 elsewhere).
uint64_t HeapInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

class EngineScale : public FakeEngineTest
{
};

} // namespace

TEST_F(EngineScale, AHundredThousandFileListStaysWellUnder64MiB)
{
    if (kSanitized || HeapInUse() == 0)
        GTEST_SKIP() << "heap figures need glibc's allocator";
    const uint32_t kFiles = 100000;
    const uint64_t time = UnixTimeToFileTime(1600000001);
    CacheWriter cache(258, kFiles);
    uint64_t declared = 0;
    char name[32];
    for (uint32_t i = 0; i < kFiles; ++i)
    {
        std::snprintf(name, sizeof name, "file_%06u.bin", i);
        cache.Record(name, time, i, 1000, 50000);
        declared += 50000;
    }
    ASSERT_GT(declared, 4ull << 30);
    transport.AddFile("Data.cch", cache.Bytes());
    WriteWholeFile(Installed("Data.cch"), cache.Bytes());
    // Every transfer hangs: all 100,000 items stay queued while the heap is measured.
    transport.FaultAll(FakeFault::Of(FakeFault::Stall));
    transport.ClearFaults();
    for (uint32_t i = 0; i < 8; ++i)
    {
        std::snprintf(name, sizeof name, "Data/file_%06u.bin.zip", i);
        transport.Fault(name, FakeFault::Of(FakeFault::Stall), 1, true);
    }
    const uint64_t before = HeapInUse();
    uint64_t peak = before;
    float totalMB = 0;
    {
        auto engine = std::make_unique<CKrInstaller>();
        engine->Init("Data", install.Path(), "fake.test", Settings());
        engine->Start();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int state = 0;
        float doneMB = 0;
        while (std::chrono::steady_clock::now() < deadline)
        {
            engine->GetStatus(&state, &doneMB, &totalMB, nullptr, nullptr);
            peak = std::max(peak, HeapInUse());
            if (state == CKrInstaller::StateUpdate && transport.CountPrefix("GET", "Data/") >= 4)
                break;
            clock.Advance(5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(state, CKrInstaller::StateUpdate);
        for (int i = 0; i < 20; ++i)
        {
            peak = std::max(peak, HeapInUse());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(engine->GetCounters().totalItems, kFiles);
    }
    const double peakMiB = static_cast<double>(peak - before) / 1048576.0;
    std::printf("[ memory   ] engine heap with %u files queued: %.1f MiB at its peak; %.0f MB to fetch\n", kFiles,
                peakMiB, totalMB);
    EXPECT_LT(peak - before, 64ull << 20);
    EXPECT_NEAR(totalMB, static_cast<double>(declared) / 1048576.0, 1.0);
}

TEST_F(EngineScale, ProgressIsRightPast4GiB)
{
    // Five files whose zips count 1 GB each for progress: the totals pass 32 bits.
    TempDir work;
    const int64_t t = 1600000001;
    CacheWriter cache(258, 5);
    for (int i = 0; i < 5; ++i)
    {
        std::string name = "big_" + std::to_string(i) + ".bin";
        cache.Record(name, UnixTimeToFileTime(t), static_cast<uint32_t>(i), 3, 1000000000u);
        std::string zipPath = work.Path() + name + ".zip";
        CKrZipFile zip;
        uint32_t dos = 0;
        FileTimeToDosDateTime32(UnixTimeToFileTime(t), &dos);
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        ASSERT_TRUE(zip.AddFileFromMemory(name, "abc", 3, dos, 6));
        zip.Close();
        transport.AddFile("Data/" + name + ".zip", ReadWholeFile(zipPath));
    }
    transport.AddFile("Data.cch", cache.Bytes());
    WriteWholeFile(Installed("Data.cch"), cache.Bytes());
    FakeRun run = Run();
    ASSERT_EQ(run.state, CKrInstaller::StateFinished) << "error " << run.error;
    const double expected = 5e9 / 1048576.0;
    EXPECT_NEAR(run.totalMB, expected, 1.0);
    EXPECT_NEAR(run.doneMB, expected, 1.0);
    EXPECT_GT(run.doneMB, 4096.0f);
    EXPECT_FALSE(run.steppedBack);
    EXPECT_FALSE(run.passedTotal);
}
