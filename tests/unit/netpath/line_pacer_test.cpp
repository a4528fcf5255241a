#include "tools/netpath/line_pacer.h"

#include <gtest/gtest.h>

#include <string>

TEST(TokenBucket, SendsAtItsRateAfterTheBurst)
{
    CKrTokenBucket bucket(1000000, 10000); // 1 MB/s, 10 kB burst
    EXPECT_EQ(bucket.Available(0), 10000u);
    bucket.Consume(10000);
    EXPECT_EQ(bucket.Available(0), 0u);
    EXPECT_EQ(bucket.Available(5000), 5000u); // 5 ms later
    // Waiting saves up no more than the burst.
    EXPECT_EQ(bucket.Available(10000000), 10000u);
    bucket.Consume(10000);
    EXPECT_EQ(bucket.WaitUs(10000000, 4000), 4001);
    EXPECT_EQ(bucket.WaitUs(10000000, 1u << 30), 10001); // capped at the burst, never forever
    // Over one simulated second the bytes sent match the rate.
    uint64_t sent = 0;
    for (int64_t t = 10000000; t <= 11000000; t += 1000)
    {
        const uint64_t n = bucket.Available(t);
        bucket.Consume(n);
        sent += n;
    }
    EXPECT_NEAR(static_cast<double>(sent), 1000000.0, 2000.0);
}

TEST(TokenBucket, ZeroRateIsUnlimited)
{
    CKrTokenBucket bucket(0, 1);
    EXPECT_GT(bucket.Available(0), 1u << 30);
    bucket.Consume(1u << 30);
    EXPECT_EQ(bucket.WaitUs(0, 1u << 30), 0);
}

TEST(DelayLine, HoldsBytesForTheDelayAndKeepsTheirOrder)
{
    CKrDelayLine line(20000);
    EXPECT_EQ(line.NextReadyUs(), -1);
    line.Push(100, "abc", 3);
    line.Push(5000, "defg", 4);
    EXPECT_EQ(line.Queued(), 7u);
    const char* data = nullptr;
    EXPECT_EQ(line.Ready(20099, &data, 100), 0u);
    EXPECT_EQ(line.NextReadyUs(), 20100);
    ASSERT_EQ(line.Ready(20100, &data, 2), 2u);
    EXPECT_EQ(std::string(data, 2), "ab");
    line.Pop(2);
    ASSERT_EQ(line.Ready(20100, &data, 100), 1u);
    EXPECT_EQ(std::string(data, 1), "c");
    line.Pop(1);
    // The second chunk is not due yet.
    EXPECT_EQ(line.Ready(20100, &data, 100), 0u);
    EXPECT_EQ(line.NextReadyUs(), 25000);
    ASSERT_EQ(line.Ready(25000, &data, 100), 4u);
    EXPECT_EQ(std::string(data, 4), "defg");
    line.Pop(4);
    EXPECT_EQ(line.Queued(), 0u);
    EXPECT_EQ(line.NextReadyUs(), -1);
}
