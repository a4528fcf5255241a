#include "services/mutex.h"
#include "services/thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Worker
{
    CKrStopFlag stop;
    CKrMutex lock;
    int passes = 0;
    std::atomic<bool> finalWorkDone{false};
};

unsigned WorkerLoop(void* arg)
{
    auto* w = static_cast<Worker*>(arg);
    while (!w->stop.IsRaised())
    {
        {
            CKrScopedLock guard(w->lock);
            ++w->passes;
        }
        kr::os::SleepMs(1);
    }
    w->finalWorkDone = true;
    w->stop.Acknowledge();
    return 0;
}

TEST(ThreadTest, StopProtocolWaitsForTheWorkersFinalWork)
{
    Worker w;
    CKrThread thread;
    ASSERT_TRUE(thread.Start(WorkerLoop, &w));
    EXPECT_FALSE(thread.Start(WorkerLoop, &w)) << "a second start while a thread is held must not create one";
    while (true)
    {
        CKrScopedLock guard(w.lock);
        if (w.passes > 2)
            break;
    }
    w.stop.RaiseAndWait();
    EXPECT_TRUE(w.finalWorkDone);
    EXPECT_FALSE(w.stop.IsRaised());
    thread.Close();
    EXPECT_FALSE(thread.IsStarted());
}

TEST(ThreadTest, PriorityLevelsMapToPlatformValuesAndOthersAreRefused)
{
    int value = 99;
    for (int level = 0; level <= 4; ++level)
    {
        ASSERT_TRUE(PriorityForLevel(level, &value));
        EXPECT_EQ(level - 2, value);
    }
    value = 99;
    EXPECT_FALSE(PriorityForLevel(-1, &value));
    EXPECT_FALSE(PriorityForLevel(5, &value));
    EXPECT_EQ(99, value);
}

unsigned WaitUntilStopped(void* arg)
{
    auto* flag = static_cast<CKrStopFlag*>(arg);
    while (!flag->IsRaised())
        kr::os::SleepMs(1);
    flag->Acknowledge();
    return 0;
}

TEST(ThreadTest, PriorityOutsideTheLevelsLeavesTheThreadAsItWas)
{
    CKrStopFlag stop;
    CKrThread thread;
    ASSERT_TRUE(thread.Start(WaitUntilStopped, &stop));
    thread.priority = 1;
    thread.SetPriority();
    int before = 0;
    ASSERT_TRUE(kr::os::GetThreadPriorityValue(thread.Handle(), &before));
    EXPECT_EQ(-1, before);
    thread.priority = 7;
    thread.SetPriority();
    int after = 0;
    ASSERT_TRUE(kr::os::GetThreadPriorityValue(thread.Handle(), &after));
    EXPECT_EQ(before, after);
    stop.RaiseAndWait();
}

} // namespace
