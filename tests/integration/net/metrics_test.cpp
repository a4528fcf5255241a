#include "services/clock.h"
#include "services/metrics.h"
#include "services/metrics_collector.h"
#include "services/request_sender.h"
#include "tests/support/servers.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using kr::test::DevServer;
using kr::test::WaitFor;

std::atomic<uint32_t> g_nowMs{0};
uint32_t FakeNow()
{
    return g_nowMs.load();
}

void SetSeconds(double seconds)
{
    g_nowMs = static_cast<uint32_t>(seconds * 1000.0 + 0.5);
}

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Batch
{
    bool valid = false;
    int64_t headerCustomer = -1;
    int64_t bodyCustomer = -1;
    std::vector<uint32_t> seqs;
};

class MetricsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        receiver = new DevServer;
        ASSERT_TRUE(receiver->Start("metrics_receiver.py"));
    }
    static void TearDownTestSuite()
    {
        delete receiver;
        receiver = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, receiver);
        ASSERT_FALSE(receiver->Admin("reset").empty());
        g_nowMs = 1000;
        CKrTime::SetClockSourceForTesting(FakeNow);
        SetMetricsUrl(receiver->Url() + "/data/");
    }
    void TearDown() override
    {
        StopMetrics();
        StopRequestSender();
        CKrTime::SetClockSourceForTesting(nullptr);
    }

    void Configure(const std::string& json) { ASSERT_FALSE(receiver->Admin("config", json).empty()); }

    static CKrJsonDocument Event(uint32_t seq)
    {
        CKrJsonDocument event;
        CreateEvent(event, 10007);
        event.scratch.SetType(CKrVariant::kUnsigned);
        event.scratch.SetUnsigned(seq);
        event.Set("seq", event.scratch, CKrJsonDocument::kKindUnsigned);
        return event;
    }

    static std::vector<Batch> Batches()
    {
        rapidjson::Document doc;
        doc.Parse(receiver->Admin("batches").c_str());
        std::vector<Batch> out;
        if (!doc.IsArray())
            return out;
        for (const auto& b : doc.GetArray())
        {
            Batch batch;
            batch.valid = b["valid"].GetBool();
            if (b["header_customer_id"].IsInt64())
                batch.headerCustomer = b["header_customer_id"].GetInt64();
            if (b["customer_id"].IsInt64())
                batch.bodyCustomer = b["customer_id"].GetInt64();
            rapidjson::Document body;
            body.Parse(b["body"].GetString());
            if (body.IsObject() && body.HasMember("events") && body["events"].IsArray())
                for (const auto& e : body["events"].GetArray())
                    batch.seqs.push_back(e.HasMember("seq") ? e["seq"].GetUint() : 0xFFFFFFFFu);
            out.push_back(batch);
        }
        return out;
    }

    static int DroppedWhileDown()
    {
        rapidjson::Document doc;
        doc.Parse(receiver->Admin("attempts").c_str());
        return doc.IsObject() ? doc["down"].GetInt() : -1;
    }

    static DevServer* receiver;
};
DevServer* MetricsTest::receiver = nullptr;

TEST_F(MetricsTest, BurstOf120LeavesAs50And50And20InOrderAndSigned)
{
    Configure(R"({"keys": {"1234": "hash-T"}})");
    StartRequestSender();
    CreateMetricsCollector();
    for (uint32_t i = 0; i < 120; ++i)
        QueueEvent(Event(i));
    StartMetrics(1234, "hash-T");
    Pause(100);
    EXPECT_TRUE(Batches().empty()) << "nothing leaves before the 5 s flush unless exactly 50 wait";

    g_nowMs += 5001;
    ASSERT_TRUE(WaitFor([] { return Batches().size() >= 3; }));
    auto batches = Batches();
    ASSERT_EQ(3u, batches.size());
    const size_t sizes[] = {50, 50, 20};
    uint32_t next = 0;
    for (size_t b = 0; b < 3; ++b)
    {
        EXPECT_TRUE(batches[b].valid) << "batch " << b;
        EXPECT_EQ(1234, batches[b].headerCustomer);
        EXPECT_EQ(1234, batches[b].bodyCustomer);
        ASSERT_EQ(sizes[b], batches[b].seqs.size());
        for (uint32_t seq : batches[b].seqs)
            EXPECT_EQ(next++, seq);
    }
}

TEST_F(MetricsTest, FiftyWaitingLeaveAtOnceFewerWaitFiveSeconds)
{
    Configure(R"({"keys": {"42": "k"}})");
    StartRequestSender();
    CreateMetricsCollector();
    StartMetrics(42, "k");
    for (uint32_t i = 0; i < 50; ++i)
        QueueEvent(Event(i));
    ASSERT_TRUE(WaitFor([] { return Batches().size() == 1; }));
    EXPECT_EQ(50u, Batches()[0].seqs.size());

    for (uint32_t i = 50; i < 53; ++i)
        QueueEvent(Event(i));
    g_nowMs += 4000;
    Pause(100);
    EXPECT_EQ(1u, Batches().size());
    g_nowMs += 1001;
    ASSERT_TRUE(WaitFor([] { return Batches().size() == 2; }));
    auto batches = Batches();
    EXPECT_EQ((std::vector<uint32_t>{50, 51, 52}), batches[1].seqs);
    EXPECT_TRUE(batches[1].valid);
}

TEST_F(MetricsTest, LaterLoginChangesNothingAndEmptyHashStillSigns)
{
    Configure(R"({"keys": {"1": "", "2": "second"}})");
    StartRequestSender();
    CreateMetricsCollector();
    StartMetrics(1, "");
    StartMetrics(2, "second");
    QueueEvent(Event(7));
    StopMetrics(); // final flush
    ASSERT_TRUE(WaitFor([] { return Batches().size() == 1; }));
    auto batches = Batches();
    EXPECT_EQ(1, batches[0].headerCustomer);
    EXPECT_EQ(1, batches[0].bodyCustomer);
    EXPECT_TRUE(batches[0].valid);
    EXPECT_EQ(std::vector<uint32_t>{7}, batches[0].seqs);

    QueueEvent(Event(8)); // after the collector is gone: dropped, not a crash
    StopRequestSender();
    EXPECT_EQ(1u, Batches().size());
}

TEST_F(MetricsTest, DownServiceIsRetriedOnScheduleAndGetsEverythingInOrderOnceBack)
{
    Configure(R"({"keys": {"9": "key9"}, "mode": "down"})");
    SetSeconds(0);
    auto sender = std::make_shared<CKrRequestSender>();
    ASSERT_TRUE(sender->Start());
    {
        CKrMetricsCollector collector(sender);
        for (uint32_t i = 0; i < 51; ++i) // two batches for the same URL
            collector.Queue(Event(i));
        collector.Start(9, "key9");
        collector.Stop();
    }
    ASSERT_TRUE(WaitFor([&] { return sender->Attempts() == 1; }));

    const double schedule[] = {5, 15, 30, 50, 75, 105, 135, 165};
    uint32_t attempts = 1;
    for (double at : schedule)
    {
        SetSeconds(at - 0.1);
        Pause(40);
        EXPECT_EQ(attempts, sender->Attempts()) << "too early before " << at << " s";
        SetSeconds(at);
        ASSERT_TRUE(WaitFor([&] { return sender->Attempts() == attempts + 1; })) << "no attempt at " << at << " s";
        Pause(20);
        EXPECT_EQ(++attempts, sender->Attempts()) << "the second batch must wait behind the first";
    }
    EXPECT_EQ(0u, sender->Delivered());
    EXPECT_EQ(static_cast<int>(attempts), DroppedWhileDown());

    Configure(R"({"mode": "up"})");
    SetSeconds(195);
    ASSERT_TRUE(WaitFor([&] { return sender->Delivered() == 2; }));
    auto batches = Batches();
    ASSERT_EQ(2u, batches.size());
    EXPECT_EQ(50u, batches[0].seqs.size());
    EXPECT_EQ(std::vector<uint32_t>{50}, batches[1].seqs);
    EXPECT_TRUE(batches[0].valid && batches[1].valid);

    // The success reset the delay: the next failure waits 5 s again, not 30.
    Configure(R"({"mode": "down"})");
    {
        CKrMetricsCollector collector(sender);
        collector.Queue(Event(99));
        collector.Start(9, "key9");
        collector.Stop();
    }
    ASSERT_TRUE(WaitFor([&] { return sender->Attempts() == attempts + 3; }));
    Configure(R"({"mode": "up"})");
    SetSeconds(199.9);
    Pause(40);
    EXPECT_EQ(2u, sender->Delivered());
    SetSeconds(200);
    ASSERT_TRUE(WaitFor([&] { return sender->Delivered() == 3; }));
    EXPECT_EQ(std::vector<uint32_t>{99}, Batches().back().seqs);
    sender->Stop();
}

TEST_F(MetricsTest, StoppingTheSenderAbortsATransferThatHangs)
{
    DevServer slow;
    ASSERT_TRUE(slow.Start("recording_server.py"));
    ASSERT_FALSE(slow.Admin("config", R"({"delay": 20})").empty());
    CKrRequestSender sender;
    ASSERT_TRUE(sender.Start());
    auto request = std::make_unique<KrMetricsRequest>();
    request->url = slow.Url() + "/data/";
    request->key = "k";
    sender.Enqueue(std::move(request));
    // The server records the request before it starts to stall.
    ASSERT_TRUE(WaitFor([&] { return slow.Admin("requests").find("/data/") != std::string::npos; }));
    const auto start = std::chrono::steady_clock::now();
    sender.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(1u, sender.Attempts());
    EXPECT_EQ(0u, sender.Delivered());
}

} // namespace
