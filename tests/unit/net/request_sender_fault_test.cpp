// The request sender's thread when a transfer throws: the process goes on, the throw counts as a
// failed attempt with its retry delay, and the sender still stops on request.
#include "services/request_sender.h"

#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>

namespace
{

class ThrowingSender : public CKrRequestSender
{
public:
    ~ThrowingSender() override { Stop(); }
    std::atomic<int> calls{0};
    bool throwBadAlloc = false;

protected:
    bool Send(const KrMetricsRequest&) override
    {
        ++calls;
        if (throwBadAlloc)
            throw std::bad_alloc();
        throw std::runtime_error("transfer");
    }
};

std::unique_ptr<KrMetricsRequest> Request(const std::string& url)
{
    auto request = std::make_unique<KrMetricsRequest>();
    request->url = url;
    return request;
}

// Waits up to a second for `attempts` booked attempts.
bool WaitForAttempts(const CKrRequestSender& sender, uint32_t attempts)
{
    for (int i = 0; i < 200 && sender.Attempts() < attempts; ++i)
        kr::os::SleepMs(5);
    return sender.Attempts() >= attempts;
}

TEST(RequestSenderFaults, AThrowingTransferIsAFailedAttemptThatWaitsForItsRetry)
{
    for (bool badAlloc : {false, true})
    {
        SCOPED_TRACE(badAlloc ? "bad_alloc" : "runtime_error");
        ThrowingSender sender;
        sender.throwBadAlloc = badAlloc;
        ASSERT_TRUE(sender.Start());
        sender.Enqueue(Request("http://127.0.0.1:1/a/"));
        sender.Enqueue(Request("http://127.0.0.1:1/b/"));
        ASSERT_TRUE(WaitForAttempts(sender, 2));
        // Both URLs now wait five seconds; a throw that is not booked would be retried at once.
        kr::os::SleepMs(300);
        EXPECT_EQ(sender.calls.load(), 2);
        EXPECT_EQ(sender.Attempts(), 2u);
        EXPECT_EQ(sender.Delivered(), 0u);
        sender.Stop();
    }
}

} // namespace
