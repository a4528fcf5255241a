// The engine's transfers over libcurl (easy interface, one handle per connection).
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
// Give up on a dead peer instead of hanging forever (the Windows build sets the same limits).
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

class CurlTransport;

struct Transfer
{
    const CurlTransport* transport = nullptr;
    DownloadSink* sink = nullptr; // null for a header-only query
    const std::atomic<bool>* keepRunning = nullptr;
    RemoteFileInfo info;
    bool headerDone = false;
    bool declined = false;
    bool cancelled = false;
    uint64_t received = 0;

    bool ShouldStop();
};

class CurlTransport : public Transport
{
public:
    CurlTransport() { GlobalInit(); }

    bool Open(const std::string& agent) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_agent = agent;
        }
        m_open.store(true, std::memory_order_release);
        return true;
    }

    // The progress callback of every running transfer sees this within a second (libcurl calls it
    // at least once a second, also while connecting or waiting for data).
    void Cancel() override { m_open.store(false, std::memory_order_release); }
    bool IsOpen() const override { return m_open.load(std::memory_order_acquire); }

    std::string Agent() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_agent;
    }

    std::unique_ptr<TransferConnection> NewConnection() override;

private:
    mutable std::mutex m_mutex;
    std::string m_agent;
    std::atomic<bool> m_open{false};
};

bool Transfer::ShouldStop()
{
    if ((keepRunning && !keepRunning->load(std::memory_order_acquire)) || !transport->IsOpen())
        cancelled = true;
    return cancelled;
}

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
    if (StartsWithNoCase(line, n, "Content-Range:"))
    {
        ParseContentRange(Trimmed(line + 14, n - 14), t->info);
        return n;
    }
    if (StartsWithNoCase(line, n, "ETag:"))
    {
        t->info.etag = Trimmed(line + 5, n - 5);
        return n;
    }
    if (StartsWithNoCase(line, n, "Last-Modified:"))
    {
        std::string value = Trimmed(line + 14, n - 14);
        time_t when = curl_getdate(value.c_str(), nullptr);
        t->info.hasLastModified = when > 0;
        if (t->info.hasLastModified)
        {
            t->info.lastModified = static_cast<uint64_t>(when) * 10000000ull + kUnixEpochAsFileTime;
            t->info.lastModifiedText = value;
        }
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

// Frees the easy handle and header lists on every path.
struct EasyHandle
{
    CURL* easy = nullptr;
    curl_slist* fixedHeaders = nullptr;
    ~EasyHandle()
    {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(fixedHeaders);
    }
};

struct HeaderList
{
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void Add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

class CurlConnection : public TransferConnection
{
public:
    explicit CurlConnection(const CurlTransport& transport) : m_transport(transport) {}

    bool Query(const std::string& url, RemoteFileInfo* info) override
    {
        if (!m_transport.IsOpen())
            return false;
        Transfer t;
        t.transport = &m_transport;
        HeaderList extra;
        CURL* e = Prepare(url, t, extra);
        if (!e)
            return false;
        // A HEAD request: the header without the body.
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

    FetchResult Fetch(const TransferRequest& request, DownloadSink& sink,
                      const std::atomic<bool>& keepRunning) override
    {
        if (!m_transport.IsOpen())
            return FetchResult::Failed;
        Transfer t;
        t.transport = &m_transport;
        t.sink = &sink;
        t.keepRunning = &keepRunning;
        if (t.ShouldStop())
            return FetchResult::Cancelled;
        HeaderList extra;
        // Plain headers rather than CURLOPT_RANGE: libcurl then leaves a 200 answer to a range
        // request to the caller, who takes it as the whole file.
        if (request.offset > 0 || request.length > 0)
        {
            std::string range = "Range: bytes=" + std::to_string(request.offset) + "-";
            if (request.length > 0)
                range += std::to_string(request.offset + request.length - 1);
            extra.Add(range);
            if (!request.ifRange.empty())
                extra.Add("If-Range: " + request.ifRange);
        }
        CURL* e = Prepare(request.url, t, extra);
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

private:
    // A configured handle, kept between requests so the connection stays open. The per-request
    // header list must outlive curl_easy_perform.
    CURL* Prepare(const std::string& url, Transfer& t, HeaderList& extra)
    {
        if (!m_handle.easy)
        {
            m_handle.easy = curl_easy_init();
            if (!m_handle.easy)
                return nullptr;
            // Always fetch from the origin and never store anything on the way.
            m_handle.fixedHeaders = curl_slist_append(m_handle.fixedHeaders, "Pragma: no-cache");
            m_handle.fixedHeaders = curl_slist_append(m_handle.fixedHeaders, "Cache-Control: no-cache");
        }
        for (curl_slist* h = m_handle.fixedHeaders; h; h = h->next)
            extra.Add(h->data);
        CURL* e = m_handle.easy;
        m_agent = m_transport.Agent();
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        curl_easy_setopt(e, CURLOPT_USERAGENT, m_agent.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, extra.list);
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

    const CurlTransport& m_transport;
    EasyHandle m_handle;
    std::string m_agent;
};

std::unique_ptr<TransferConnection> CurlTransport::NewConnection()
{
    return std::make_unique<CurlConnection>(*this);
}

} // namespace

std::unique_ptr<Transport> CreateSystemTransport()
{
    return std::make_unique<CurlTransport>();
}

} // namespace kr::os
