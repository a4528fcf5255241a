// The metrics sender against a service that misbehaves: batches whose answer did not arrive whole
// are retried on schedule, and once the service behaves every event arrives exactly once, in order.
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

namespace
{

using kr::test::WaitFor;

std::atomic<uint32_t> g_nowMs{0};
uint32_t FakeNow()
{
    return g_nowMs.load();
}

// Sequence numbers of the events of every accepted batch, in arrival order.
std::vector<uint32_t> AcceptedSeqs(const kr::test::OddServer::Log& log)
{
    std::vector<uint32_t> seqs;
    for (const std::string& body : log.accepted)
    {
        rapidjson::Document doc;
        doc.Parse(body.c_str());
        if (!doc.IsObject() || !doc.HasMember("events") || !doc["events"].IsArray())
        {
            ADD_FAILURE() << "not a batch: " << body;
            continue;
        }
        for (const auto& e : doc["events"].GetArray())
            seqs.push_back(e.HasMember("seq") && e["seq"].IsUint() ? e["seq"].GetUint() : 0xFFFFFFFFu);
    }
    return seqs;
}

class HostileMetricsService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.Start());
        g_nowMs = 0;
        CKrTime::SetClockSourceForTesting(FakeNow);
        SetMetricsUrl(service.Url() + "/data/");
        ASSERT_TRUE(sender->Start());
    }
    void TearDown() override
    {
        sender->Stop();
        CKrTime::SetClockSourceForTesting(nullptr);
    }

    // Queues `count` events numbered from 0 and flushes them as batches of at most 50.
    void SendEvents(uint32_t count)
    {
        CKrMetricsCollector collector(sender);
        for (uint32_t i = 0; i < count; ++i)
        {
            CKrJsonDocument event;
            CreateEvent(event, 10007);
            event.scratch.SetType(CKrVariant::kUnsigned);
            event.scratch.SetUnsigned(i);
            event.Set("seq", event.scratch, CKrJsonDocument::kKindUnsigned);
            collector.Queue(event);
        }
        collector.Start(5, "key");
        collector.Stop();
    }

    kr::test::OddServer service;
    std::shared_ptr<CKrRequestSender> sender = std::make_shared<CKrRequestSender>();
};

} // namespace

TEST_F(HostileMetricsService, BrokenAnswersAreRetriedAndEveryEventArrivesOnce)
{
    // Three failed transfers of the first batch, then three answers that are odd but whole.
    ASSERT_TRUE(service.Script({"close_before_headers", "drop_mid_body", "length_too_long", "no_length",
                                "length_too_short", "trickle"},
                               R"({"status": 0})"));
    SendEvents(160); // batches of 50, 50, 50 and 10
    ASSERT_TRUE(WaitFor([&] { return sender->Attempts() == 1; }, 8000));
    // Retries at 5, 15 and 30 s; nothing moves before its time, the later batches wait behind.
    const double schedule[] = {5, 15, 30};
    for (double at : schedule)
    {
        const uint32_t before = sender->Attempts();
        g_nowMs = static_cast<uint32_t>(at * 1000) - 100;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        EXPECT_EQ(sender->Attempts(), before) << "attempt before " << at << " s";
        EXPECT_EQ(sender->Delivered(), 0u);
        g_nowMs = static_cast<uint32_t>(at * 1000);
        ASSERT_TRUE(WaitFor([&] { return sender->Attempts() > before; }, 8000)) << "no attempt at " << at << " s";
    }
    ASSERT_TRUE(WaitFor([&] { return sender->Delivered() == 4; }, 8000));
    EXPECT_EQ(sender->Attempts(), 7u);

    kr::test::OddServer::Log log = service.ReadLog();
    EXPECT_EQ(log.posts, 7);
    EXPECT_EQ(log.faultsLeft, 0);
    ASSERT_EQ(log.accepted.size(), 4u);
    std::vector<uint32_t> expected(160);
    for (uint32_t i = 0; i < 160; ++i)
        expected[i] = i;
    EXPECT_EQ(AcceptedSeqs(log), expected);

    // Delivered batches are never sent again.
    g_nowMs += 120000;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(service.ReadLog().posts, 7);
}

TEST_F(HostileMetricsService, ErrorStatusesAndRedirectsCountAsDeliveredAndAreNotRetried)
{
    ASSERT_TRUE(service.Script({"status_500", "status_404", "redirect_http", "redirect_https"}, R"({"status": 1})"));
    SendEvents(250); // five batches of 50
    ASSERT_TRUE(WaitFor([&] { return sender->Delivered() == 5; }, 8000));
    g_nowMs += 60000;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sender->Attempts(), 5u);
    kr::test::OddServer::Log log = service.ReadLog();
    EXPECT_EQ(log.posts, 5) << "a redirect was followed or a batch resent";
    std::vector<uint32_t> last(50);
    for (uint32_t i = 0; i < 50; ++i)
        last[i] = 200 + i;
    EXPECT_EQ(AcceptedSeqs(log), last);
}

TEST_F(HostileMetricsService, ServiceThatGoesAwayAndComesBackGetsEverythingOnce)
{
    service.Stop();
    SendEvents(60);
    ASSERT_TRUE(WaitFor([&] { return sender->Attempts() == 1; }, 8000));
    ASSERT_TRUE(service.Restart());
    ASSERT_TRUE(service.Script({}, "{}"));
    g_nowMs = 5000;
    ASSERT_TRUE(WaitFor([&] { return sender->Delivered() == 2; }, 8000));
    std::vector<uint32_t> expected(60);
    for (uint32_t i = 0; i < 60; ++i)
        expected[i] = i;
    EXPECT_EQ(AcceptedSeqs(service.ReadLog()), expected);
}
