#include "platform/download.h"

#include <curl/curl.h>

#include <cctype>
#include <cstring>
#include <mutex>

namespace kr::os
{

namespace
{

// Large receive buffers cut the per-call overhead of big transfers considerably.
constexpr long kReceiveBuffer = 512 * 1024;
// The platform defaults of the Windows build: give up on a dead peer instead of hanging forever.
constexpr long kConnectTimeoutS = 60;
constexpr long kStallTimeoutS = 60;
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(const char* text, std::size_t size, const char* prefix)
{
    std::size_t n = std::strlen(prefix);
    if (size < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
    {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::string Trimmed(const char* text, std::size_t size)
{
    std::size_t b = 0;
    while (b < size && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (size > b && (text[size - 1] == '\r' || text[size - 1] == '\n' || text[size - 1] == ' ' ||
                        text[size - 1] == '\t'))
        --size;
    return std::string(text + b, size - b);
}

// Only a plain decimal number is a length; anything else counts as no length at all.
bool ParseLength(const std::string& text, uint64_t* value)
{
    if (text.empty() || text.size() > 19)
        return false;
    uint64_t v = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

struct Transfer
{
    const DownloadSession* session = nullptr;
    DownloadSink* sink = nullptr; // null for a header-only query
    const std::atomic<bool>* keepRunning = nullptr;
    RemoteFileInfo info;
    bool headerDone = false;
    bool declined = false;
    bool cancelled = false;
    uint64_t received = 0;

    bool ShouldStop()
    {
        if ((keepRunning && !keepRunning->load(std::memory_order_acquire)) || !session->IsOpen())
            cancelled = true;
        return cancelled;
    }
};

std::size_t OnHeaderLine(char* line, std::size_t size, std::size_t count, void* context)
{
    auto* t = static_cast<Transfer*>(context);
    std::size_t n = size * count;
    if (StartsWithNoCase(line, n, "HTTP/"))
    {
        // A new response (also after an interim 1xx): start over.
        t->info = RemoteFileInfo{};
        const char* space = static_cast<const char*>(std::memchr(line, ' ', n));
        if (space)
        {
            std::string rest = Trimmed(space + 1, n - static_cast<std::size_t>(space + 1 - line));
            int status = 0;
            std::size_t i = 0;
            for (; i < rest.size() && i < 3 && std::isdigit(static_cast<unsigned char>(rest[i])); ++i)
                status = status * 10 + (rest[i] - '0');
            t->info.status = i == 3 ? status : 0;
        }
        return n;
    }
    if (StartsWithNoCase(line, n, "Content-Length:"))
    {
        uint64_t length = 0;
        std::string value = Trimmed(line + 15, n - 15);
        t->info.hasContentLength = ParseLength(value, &length);
        t->info.contentLength = t->info.hasContentLength ? length : 0;
        return n;
    }
    if (StartsWithNoCase(line, n, "Last-Modified:"))
    {
        std::string value = Trimmed(line + 14, n - 14);
        time_t when = curl_getdate(value.c_str(), nullptr);
        t->info.hasLastModified = when > 0;
        if (t->info.hasLastModified)
            t->info.lastModified = static_cast<uint64_t>(when) * 10000000ull + kUnixEpochAsFileTime;
        return n;
    }
    if (Trimmed(line, n).empty())
    {
        if (t->info.status >= 100 && t->info.status < 200)
            return n;
        t->headerDone = true;
        if (t->sink && !t->sink->OnHeader(t->info))
        {
            t->declined = true;
            return 0;
        }
    }
    return n;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context)
{
    auto* t = static_cast<Transfer*>(context);
    std::size_t n = size * count;
    if (t->ShouldStop() || !t->headerDone || !t->sink)
        return 0;
    if (n > 0 && !t->sink->OnData(data, n))
        return 0;
    t->received += n;
    return n;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(context)->ShouldStop() ? 1 : 0;
}

} // namespace

struct DownloadChannelImpl
{
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;

    ~DownloadChannelImpl()
    {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
};

DownloadSession::DownloadSession() = default;

DownloadSession::~DownloadSession()
{
    Close();
}

bool DownloadSession::Open(const std::string& agent)
{
    GlobalInit();
    m_agent = agent;
    m_open.store(true, std::memory_order_release);
    return true;
}

void DownloadSession::Close()
{
    m_open.store(false, std::memory_order_release);
}

DownloadChannel::DownloadChannel(DownloadSession& session)
    : m_session(session), m_impl(new DownloadChannelImpl)
{
    GlobalInit();
}

DownloadChannel::~DownloadChannel() = default;

namespace
{

// Returns a configured handle, kept between requests so the connection stays open.
CURL* Prepare(DownloadChannelImpl& impl, const DownloadSession& session, const std::string& url, Transfer& t)
{
    if (!impl.easy)
    {
        impl.easy = curl_easy_init();
        if (!impl.easy)
            return nullptr;
        // Always fetch from the origin and never store anything on the way.
        impl.headers = curl_slist_append(impl.headers, "Pragma: no-cache");
        impl.headers = curl_slist_append(impl.headers, "Cache-Control: no-cache");
    }
    CURL* e = impl.easy;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_USERAGENT, session.Agent().c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, impl.headers);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, kStallTimeoutS);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeaderLine);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    return e;
}

} // namespace

bool DownloadChannel::Query(const std::string& url, RemoteFileInfo* info)
{
    if (!m_session.IsOpen())
        return false;
    Transfer t;
    t.session = &m_session;
    CURL* e = Prepare(*m_impl, m_session, url, t);
    if (!e)
        return false;
    // The header of a GET without its body is what a HEAD request answers.
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    CURLcode rc = curl_easy_perform(e);
    curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (rc != CURLE_OK || !t.headerDone || t.cancelled)
        return false;
    if (info)
        *info = t.info;
    return true;
}

FetchResult DownloadChannel::Fetch(const std::string& url, DownloadSink& sink,
                                   const std::atomic<bool>& keepRunning)
{
    if (!m_session.IsOpen())
        return FetchResult::Failed;
    Transfer t;
    t.session = &m_session;
    t.sink = &sink;
    t.keepRunning = &keepRunning;
    if (t.ShouldStop())
        return FetchResult::Cancelled;
    CURL* e = Prepare(*m_impl, m_session, url, t);
    if (!e)
        return FetchResult::Failed;
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    CURLcode rc = curl_easy_perform(e);
    if (t.declined)
        return FetchResult::Declined;
    if (t.cancelled)
        return FetchResult::Cancelled;
    if (rc != CURLE_OK || !t.headerDone)
        return FetchResult::Failed;
    if (t.info.hasContentLength && t.received != t.info.contentLength)
        return FetchResult::Failed;
    return FetchResult::Complete;
}

} // namespace kr::os
