#include "services/clock.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<uint32_t> g_fakeNow{0};
uint32_t FakeNow()
{
    return g_fakeNow.load();
}

struct FakeClock
{
    FakeClock() { CKrTime::SetClockSourceForTesting(FakeNow); }
    ~FakeClock() { CKrTime::SetClockSourceForTesting(nullptr); }
};

TEST(ClockTest, ElapsedSecondsSurviveTheThirtyTwoBitWrap)
{
    FakeClock fake;
    g_fakeNow = 0xFFFFFF00u;
    CKrTime watch;
    EXPECT_EQ(0.0f, watch.GetElapsedSeconds());
    g_fakeNow = 0x00000100u; // 512 ms later, across the wrap
    EXPECT_FLOAT_EQ(0.512f, watch.GetElapsedSeconds());
    watch.Restart();
    g_fakeNow += 5001;
    EXPECT_GT(watch.GetElapsedSeconds(), 5.0f);
}

TEST(ClockTest, RealClockAdvancesInMilliseconds)
{
    CKrTime watch;
    EXPECT_LT(watch.GetElapsedSeconds(), 0.05f);
    kr::os::SleepMs(30);
    float elapsed = watch.GetElapsedSeconds();
    EXPECT_GE(elapsed, 0.029f);
    EXPECT_LT(elapsed, 1.0f);
}

TEST(ClockTest, EveryThreadReadsTheOneProcessWideBase)
{
    // The base is taken before the threads exist; a thread that took a base of its own at its first
    // read would count from there and read about 0.
    const uint32_t before = CKrTime::Now();
    kr::os::SleepMs(60);
    std::vector<uint32_t> readings(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < readings.size(); ++i)
        threads.emplace_back([&readings, i] { readings[i] = CKrTime::Now(); });
    for (auto& t : threads)
        t.join();
    const uint32_t after = CKrTime::Now();
    for (uint32_t r : readings)
    {
        EXPECT_GE(static_cast<int64_t>(r) - static_cast<int64_t>(before), 50) << "a thread counted from a base of its own";
        EXPECT_LE(r, after);
    }
}

} // namespace
