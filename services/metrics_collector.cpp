#include "services/metrics_collector.h"

#include "services/metrics.h"

#include <string>

CKrMetricsCollector::CKrMetricsCollector(std::shared_ptr<CKrRequestSender> sender) : m_sender(std::move(sender))
{
}

CKrMetricsCollector::~CKrMetricsCollector()
{
    Stop();
}

void CKrMetricsCollector::Queue(const CKrJsonDocument& event)
{
    // A thread that failed sends nothing any more; its queue would only grow.
    if (m_failed.load())
        return;
    auto copy = std::make_unique<CKrJsonDocument>(event);
    CKrScopedLock guard(m_lock);
    m_queue.push_back(std::move(copy));
}

bool CKrMetricsCollector::Start(uint32_t customerId, const std::string& launcherHash)
{
    bool expected = false;
    if (!m_started.compare_exchange_strong(expected, true))
        return false;
    m_customerId = customerId;
    m_launcherHash = launcherHash;
    if (!m_thread.IsStarted())
    {
        m_running = true;
        if (!m_thread.Start(ThreadProc, this))
            m_running = false;
    }
    return true;
}

void CKrMetricsCollector::Stop()
{
    if (!m_started.load() || !m_thread.IsStarted())
        return;
    m_stop.Raise();
    while (m_stop.IsRaised() && m_running.load())
        kr::os::SleepMs(10);
    m_thread.Join();
}

std::size_t CKrMetricsCollector::QueuedCount() const
{
    CKrScopedLock guard(m_lock);
    return m_queue.size();
}

unsigned CKrMetricsCollector::ThreadProc(void* self)
{
    auto* collector = static_cast<CKrMetricsCollector*>(self);
    try
    {
        collector->Run();
    }
    catch (...)
    {
        collector->m_failed = true;
    }
    collector->m_running = false;
    collector->m_stop.Acknowledge();
    return 0;
}

void CKrMetricsCollector::Run()
{
    while (!m_stop.IsRaised())
    {
        try
        {
            CKrScopedLock guard(m_lock);
            if (!m_queue.empty() &&
                (m_lastFlush.GetElapsedSeconds() > kFlushSeconds || m_queue.size() == kBatchSize))
            {
                Flush();
                m_lastFlush.Restart();
            }
        }
        catch (...)
        {
            // Out of memory while batching: the events already handed over are gone, go on.
        }
        kr::os::SleepMs(10);
    }
    CKrScopedLock guard(m_lock);
    if (!m_queue.empty())
        Flush();
}

void CKrMetricsCollector::Hand(const CKrJsonDocument& batch)
{
    if (!m_sender)
        return;
    auto request = std::make_unique<KrMetricsRequest>();
    request->body = batch;
    request->url = GetMetricsUrl();
    request->key = m_launcherHash;
    request->customerId = m_customerId;
    m_sender->Enqueue(std::move(request));
}

void CKrMetricsCollector::Flush()
{
    // Taken out first so that the queue is empty afterwards whatever happens below.
    std::list<std::unique_ptr<CKrJsonDocument>> events;
    events.swap(m_queue);

    CKrJsonDocument batch;
    int count = 0;
    for (auto it = events.begin(); it != events.end();)
    {
        batch.scratch.SetType(CKrVariant::kUnsigned);
        batch.scratch.SetUnsigned(m_customerId);
        batch.Set("customer_id", batch.scratch, CKrJsonDocument::kKindUnsigned);
        batch.scratch.SetType(CKrVariant::kInt);
        batch.scratch.SetInt(0);
        // Only events that made it into the batch count, so one lost event cannot push the later
        // ones past the end of the array.
        if (batch.Set("events[" + std::to_string(count) + "]", batch.scratch, CKrJsonDocument::kKindInt))
        {
            if (rapidjson::Value* slot = batch.Find())
            {
                batch.CopyInto(*slot, **it);
                ++count;
            }
        }
        it = events.erase(it);
        if (count == static_cast<int>(kBatchSize) || (events.empty() && count > 0))
        {
            Hand(batch);
            batch.Clear();
            count = 0;
        }
    }
}
