#include "services/request_sender.h"

#include "services/http_post.h"
#include "services/signed_headers.h"

namespace {

constexpr const char* kScheme = "QVOLAUNCHER";
constexpr const char* kContentType = "application/json";

} // namespace

struct CKrRequestSender::Group
{
    int retries = 0;
    float nextTry = 0.0f;
    std::list<std::unique_ptr<KrMetricsRequest>> pending;
};

CKrRequestSender::~CKrRequestSender()
{
    Stop();
}

float CKrRequestSender::RetryDelaySeconds(int failures)
{
    float delay = 5.0f * static_cast<float>(failures);
    if (delay < 0.0f)
        return 0.0f;
    return delay > 30.0f ? 30.0f : delay;
}

bool CKrRequestSender::Start()
{
    {
        CKrScopedLock guard(m_lock);
        if (m_closed || m_thread.IsStarted())
            return false;
    }
    m_running = true;
    if (!m_thread.Start(ThreadProc, this))
    {
        m_running = false;
        return false;
    }
    return true;
}

void CKrRequestSender::Stop(uint32_t drainMs)
{
    // Wall time, not CKrTime: tests may hold that clock still.
    for (uint32_t waited = 0; waited < drainMs && m_running.load() && m_outstanding.load() != 0; waited += 10)
        kr::os::SleepMs(10);
    {
        CKrScopedLock guard(m_lock);
        m_closed = true;
    }
    if (m_thread.IsStarted())
    {
        m_stop.Raise();
        // A thread that ended on its own cannot acknowledge; stop waiting for it then.
        while (m_stop.IsRaised() && m_running.load())
            kr::os::SleepMs(10);
        m_thread.Join();
    }
    CKrScopedLock guard(m_lock);
    m_inbox.clear();
}

void CKrRequestSender::Enqueue(std::unique_ptr<KrMetricsRequest> request)
{
    if (!request)
        return;
    CKrScopedLock guard(m_lock);
    if (!m_closed)
    {
        m_inbox.push_back(std::move(request));
        ++m_outstanding;
    }
}

unsigned CKrRequestSender::ThreadProc(void* self)
{
    auto* sender = static_cast<CKrRequestSender*>(self);
    try
    {
        sender->Run();
    }
    catch (...)
    {
        // The thread is gone: later requests are dropped rather than kept for nobody.
        try
        {
            CKrScopedLock guard(sender->m_lock);
            sender->m_closed = true;
        }
        catch (...)
        {
        }
    }
    sender->m_running = false;
    sender->m_stop.Acknowledge();
    return 0;
}

void CKrRequestSender::Run()
{
    CKrTime watch;
    Groups groups;
    while (!m_stop.IsRaised())
    {
        bool attempted = false;
        try
        {
            attempted = Pass(watch, groups);
        }
        catch (...)
        {
            // Out of memory in a pass: what is pending stays, try again shortly.
        }
        // A pass in which every group still waits would otherwise spin.
        if (!attempted)
            kr::os::SleepMs(5);
    }
}

bool CKrRequestSender::TrySend(const KrMetricsRequest& request)
{
    try
    {
        return Send(request);
    }
    catch (...)
    {
        return false;
    }
}

bool CKrRequestSender::Send(const KrMetricsRequest& request)
{
    std::string body;
    request.body.ToString(body);
    curl_slist* headers = BuildSignedHeaders(body.c_str(), request.customerId, request.key.c_str(), kScheme,
                                             kContentType);
    // Never send a batch unsigned.
    if (!headers)
        return false;
    std::string response;
    return PerformHttpPost(request.url.c_str(), "", body.c_str(), &response, headers, &m_stop);
}

bool CKrRequestSender::Pass(const CKrTime& watch, Groups& groups)
{
    std::list<std::unique_ptr<KrMetricsRequest>> taken;
    {
        CKrScopedLock guard(m_lock);
        taken.swap(m_inbox);
    }
    for (auto& request : taken)
    {
        Group& group = groups[request->url];
        group.pending.push_back(std::move(request));
    }

    bool attempted = false;
    const float now = watch.GetElapsedSeconds();
    for (auto& entry : groups)
    {
        if (m_stop.IsRaised())
            break;
        Group& group = entry.second;
        if (group.pending.empty() || (group.retries != 0 && group.nextTry > now))
            continue;
        while (!group.pending.empty() && !m_stop.IsRaised())
        {
            attempted = true;
            if (!TrySend(*group.pending.front()))
            {
                ++group.retries;
                group.nextTry = watch.GetElapsedSeconds() + RetryDelaySeconds(group.retries);
                ++m_attempts; // counted once the outcome is booked, so observers see a settled state
                break;
            }
            group.pending.pop_front();
            group.retries = 0;
            group.nextTry = 0.0f;
            ++m_attempts;
            ++m_delivered;
            --m_outstanding;
        }
    }
    // Groups without work are forgotten, so that the map does not grow with every URL ever used.
    for (auto it = groups.begin(); it != groups.end();)
    {
        if (it->second.pending.empty() && it->second.retries == 0)
            it = groups.erase(it);
        else
            ++it;
    }
    return attempted;
}
