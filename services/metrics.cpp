#include "services/metrics.h"

#include "services/metrics_collector.h"
#include "services/request_sender.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#ifndef KR_METRICS_URL
#error "KR_METRICS_URL must name the default metrics endpoint"
#endif

namespace {

// Held only to read or swap these members, never while calling into the collector or the sender;
// the collector takes it (for the URL) inside its own lock.
struct MetricsGlobals
{
    std::mutex lock;
    std::shared_ptr<CKrRequestSender> sender;
    std::shared_ptr<CKrMetricsCollector> collector;
    std::string url = KR_METRICS_URL;
};

MetricsGlobals& Globals()
{
    static MetricsGlobals globals;
    return globals;
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

} // namespace

std::string FormatUtcTime(int64_t secondsSince1970)
{
    int64_t days = secondsSince1970 / 86400;
    int64_t rest = secondsSince1970 % 86400;
    if (rest < 0)
    {
        rest += 86400;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(year), month, day,
                  static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
                  static_cast<unsigned>(rest % 60));
    return text;
}

void CreateEvent(CKrJsonDocument& doc, uint32_t eventType)
{
    doc.scratch.SetType(CKrVariant::kUnsigned);
    doc.scratch.SetUnsigned(eventType);
    doc.Set("event_type", doc.scratch, CKrJsonDocument::kKindUnsigned);
    doc.scratch.SetType(CKrVariant::kString);
    doc.scratch.SetString(FormatUtcTime(static_cast<int64_t>(std::time(nullptr))));
    doc.Set("time", doc.scratch, CKrJsonDocument::kKindString);
}

void QueueEvent(const CKrJsonDocument& doc)
{
    std::shared_ptr<CKrMetricsCollector> collector;
    {
        std::lock_guard<std::mutex> guard(Globals().lock);
        collector = Globals().collector;
    }
    if (collector)
        collector->Queue(doc);
}

void CreateMetricsCollector()
{
    MetricsGlobals& g = Globals();
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.collector)
        g.collector = std::make_shared<CKrMetricsCollector>(g.sender);
}

void StartMetrics(uint32_t customerId, const std::string& launcherHash)
{
    std::shared_ptr<CKrMetricsCollector> collector;
    {
        std::lock_guard<std::mutex> guard(Globals().lock);
        collector = Globals().collector;
    }
    if (collector)
        collector->Start(customerId, launcherHash);
}

void StopMetrics()
{
    std::shared_ptr<CKrMetricsCollector> collector;
    {
        std::lock_guard<std::mutex> guard(Globals().lock);
        collector.swap(Globals().collector);
    }
    // The final flush runs here, outside the global lock; callers still queueing into this
    // collector only add to what is dropped with it.
    if (collector)
        collector->Stop();
}

void StartRequestSender()
{
    MetricsGlobals& g = Globals();
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.sender)
        return;
    auto sender = std::make_shared<CKrRequestSender>();
    if (sender->Start())
        g.sender = std::move(sender);
}

void StopRequestSender(uint32_t drainMs)
{
    std::shared_ptr<CKrRequestSender> sender;
    {
        std::lock_guard<std::mutex> guard(Globals().lock);
        sender.swap(Globals().sender);
    }
    // A collector still holding it only hands requests to a closed inbox.
    if (sender)
        sender->Stop(drainMs);
}

void SetMetricsUrl(const std::string& url)
{
    std::lock_guard<std::mutex> guard(Globals().lock);
    Globals().url = url;
}

std::string GetMetricsUrl()
{
    std::lock_guard<std::mutex> guard(Globals().lock);
    return Globals().url;
}
