#pragma once
#include "services/clock.h"
#include "services/json_document.h"
#include "services/mutex.h"
#include "services/thread.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

// One batch of metrics events on its way to the service.
struct KrMetricsRequest
{
    CKrJsonDocument body;
    std::string url;
    std::string key; // the launcher hash that signs the body
    uint32_t customerId = 0;
};

// Posts metrics requests on its own thread, signed, with per-URL retries: a URL whose post failed
// waits 5 s times its failures in a row (at most 30 s) before its next attempt, and holds back its
// later requests meanwhile; a success resets the delay. The wait is measured with CKrTime.
class CKrRequestSender
{
public:
    CKrRequestSender() = default;
    virtual ~CKrRequestSender();
    CKrRequestSender(const CKrRequestSender&) = delete;
    CKrRequestSender& operator=(const CKrRequestSender&) = delete;

    // Starts the thread; false when it could not be created or was started before.
    bool Start();
    // Stops the thread (a running transfer is aborted); requests not yet sent are discarded, and
    // requests handed over later are dropped. With `drainMs`, the requests already handed over get
    // that long to go out first, so that the events of the last moments are not lost at exit.
    void Stop(uint32_t drainMs = 0);
    // Takes the request over; it is dropped when the sender has been stopped.
    void Enqueue(std::unique_ptr<KrMetricsRequest> request);

    // Transfers finished (and their outcome booked) and transfers that completed, for monitoring.
    uint32_t Attempts() const { return m_attempts.load(); }
    uint32_t Delivered() const { return m_delivered.load(); }

    // Seconds a URL waits after `failures` failed attempts in a row.
    static float RetryDelaySeconds(int failures);

protected:
    // Signs and posts one request; true when the transfer completed. An exception counts as a
    // failed transfer.
    virtual bool Send(const KrMetricsRequest& request);

private:
    struct Group;
    using Groups = std::map<std::string, Group>;
    static unsigned ThreadProc(void* self);
    void Run();
    // One pass over the inbox and the groups; false when nothing was attempted.
    bool Pass(const CKrTime& watch, Groups& groups);
    // Send, with whatever it throws turned into a failure.
    bool TrySend(const KrMetricsRequest& request);

    CKrThread m_thread;
    CKrStopFlag m_stop;
    CKrMutex m_lock;
    std::list<std::unique_ptr<KrMetricsRequest>> m_inbox; // guarded by m_lock
    bool m_closed = false;                                // guarded by m_lock
    std::atomic<bool> m_running{false};
    std::atomic<uint32_t> m_attempts{0};
    std::atomic<uint32_t> m_delivered{0};
    std::atomic<uint32_t> m_outstanding{0}; // handed over and not yet delivered
};
