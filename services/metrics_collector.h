#pragma once
#include "services/clock.h"
#include "services/json_document.h"
#include "services/mutex.h"
#include "services/request_sender.h"
#include "services/thread.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

// Gathers metrics events on its own thread into batches of at most 50 and hands them to the
// request sender: when 50 are waiting, or 5 seconds after the previous flush, and once more when
// it stops. Events wait in the queue until Start has been called.
class CKrMetricsCollector
{
public:
    static constexpr std::size_t kBatchSize = 50;
    static constexpr float kFlushSeconds = 5.0f;

    // `sender` may be null: batches are then dropped at flush time.
    explicit CKrMetricsCollector(std::shared_ptr<CKrRequestSender> sender);
    virtual ~CKrMetricsCollector();
    CKrMetricsCollector(const CKrMetricsCollector&) = delete;
    CKrMetricsCollector& operator=(const CKrMetricsCollector&) = delete;

    // Queues a deep copy of `event`; callable from any thread.
    void Queue(const CKrJsonDocument& event);
    // The first call stores the identity that signs every batch and starts the thread; later calls
    // change nothing and return false.
    bool Start(uint32_t customerId, const std::string& launcherHash);
    // Final flush, then the thread ends. Does nothing when not started.
    void Stop();

    std::size_t QueuedCount() const;

private:
    static unsigned ThreadProc(void* self);
    void Run();
    void Flush(); // with m_lock held
    void Hand(const CKrJsonDocument& batch);

    std::atomic<bool> m_started{false};
    CKrStopFlag m_stop;
    CKrThread m_thread;
    mutable CKrMutex m_lock;
    CKrTime m_lastFlush;                                 // guarded by m_lock
    uint32_t m_customerId = 0;                           // set once, before the thread starts
    std::string m_launcherHash;                          // set once, before the thread starts
    std::list<std::unique_ptr<CKrJsonDocument>> m_queue; // guarded by m_lock
    std::shared_ptr<CKrRequestSender> m_sender;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_failed{false}; // the thread ended by an exception
};
