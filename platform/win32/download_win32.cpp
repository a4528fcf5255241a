// The engine's transfers over WinINet. Each connection keeps one connect handle per server and one
// request at a time; Cancel closes the requests in flight from another thread, which is how WinINet
// ends a blocking call, and a small per-connection lock makes sure that exactly one side closes each
// handle.
#include "platform/download.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

namespace kr::os
{

namespace
{

// Reload from the origin, keep nothing in the cache, never authenticate or show any UI, and never
// follow a redirect (only the exact answer counts).
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kReadSize = 0x20000;
// The libcurl build's limits: a dead peer ends the request instead of hanging it.
constexpr DWORD kTimeoutMs = 60000;

// Owns one HINTERNET.
class InternetHandle
{
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void Reset(HINTERNET handle = nullptr)
    {
        if (m_handle)
            InternetCloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HINTERNET m_handle = nullptr;
};

bool ParseLength(const char* text, uint64_t* value)
{
    if (!*text)
        return false;
    uint64_t v = 0;
    int digits = 0;
    for (; *text; ++text)
    {
        if (*text < '0' || *text > '9' || ++digits > 19)
            return false;
        v = v * 10 + static_cast<uint64_t>(*text - '0');
    }
    *value = v;
    return true;
}

bool QueryText(HINTERNET request, DWORD what, std::string& out)
{
    char buffer[512] = {};
    DWORD length = sizeof buffer - 1;
    DWORD index = 0;
    if (!HttpQueryInfoA(request, what, buffer, &length, &index))
        return false;
    out.assign(buffer, std::min<DWORD>(length, sizeof buffer - 1));
    return true;
}

// The status line and the headers the engine needs.
void ReadInfo(HINTERNET request, RemoteFileInfo* info)
{
    *info = RemoteFileInfo{};
    std::string text;
    uint64_t code = 0;
    if (QueryText(request, HTTP_QUERY_STATUS_CODE, text) && ParseLength(text.c_str(), &code) && code < 1000)
        info->status = static_cast<int>(code);
    SYSTEMTIME modified{};
    DWORD length = sizeof modified;
    DWORD index = 0;
    FILETIME ft{};
    if (HttpQueryInfoA(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &modified, &length,
                       &index) &&
        SystemTimeToFileTime(&modified, &ft))
    {
        info->hasLastModified = true;
        info->lastModified = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        QueryText(request, HTTP_QUERY_LAST_MODIFIED, info->lastModifiedText);
    }
    if (QueryText(request, HTTP_QUERY_CONTENT_LENGTH, text))
        info->hasContentLength = ParseLength(text.c_str(), &info->contentLength);
    if (QueryText(request, HTTP_QUERY_CONTENT_RANGE, text))
        ParseContentRange(text, *info);
    QueryText(request, HTTP_QUERY_ETAG, info->etag);
}

// "http://host[:port]/path?query" in its three parts.
bool SplitUrl(const std::string& url, std::string& host, INTERNET_PORT& port, std::string& path)
{
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return false;
    size_t hostStart = scheme.size();
    size_t slash = url.find('/', hostStart);
    std::string authority = url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
    path = slash == std::string::npos ? "/" : url.substr(slash);
    port = INTERNET_DEFAULT_HTTP_PORT;
    size_t colon = authority.rfind(':');
    if (colon != std::string::npos)
    {
        uint64_t value = 0;
        if (!ParseLength(authority.c_str() + colon + 1, &value) || value == 0 || value > 65535)
            return false;
        port = static_cast<INTERNET_PORT>(value);
        authority.resize(colon);
    }
    host = authority;
    return !host.empty();
}

class WinInetConnection;

class WinInetTransport : public Transport
{
public:
    ~WinInetTransport() override
    {
        // Every connection is gone by now (they must not outlive the transport).
        m_session.Reset();
    }

    bool Open(const std::string& agent) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_session)
        {
            HINTERNET session = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
            if (!session)
                return false;
            DWORD timeout = kTimeoutMs;
            InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
            InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
            InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
            // The default is 2 per HTTP/1.1 server on older systems and under some settings: the
            // engine's parallel transfers would queue behind each other. Process-wide, so it is set
            // before any connection of this session exists.
            // Only ever raised: the process's other users (the embedded browser) keep a higher one.
            const DWORD options[] = {INTERNET_OPTION_MAX_CONNS_PER_SERVER, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER};
            for (DWORD option : options)
            {
                DWORD conns = m_maxConnections.load(std::memory_order_acquire);
                DWORD current = 0, length = sizeof current;
                if (InternetQueryOptionA(nullptr, option, &current, &length) && current >= conns)
                    continue;
                InternetSetOptionA(nullptr, option, &conns, sizeof conns);
            }
            m_session.Reset(session);
        }
        m_open.store(true, std::memory_order_release);
        return true;
    }

    void Cancel() override;
    bool IsOpen() const override { return m_open.load(std::memory_order_acquire); }
    std::unique_ptr<TransferConnection> NewConnection() override;
    void SetConnectionLimit(unsigned count) override
    {
        if (count > 0)
            m_maxConnections.store(count, std::memory_order_release);
    }

    HINTERNET Session()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_session.Get();
    }
    void Register(WinInetConnection* connection)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.insert(connection);
    }
    void Unregister(WinInetConnection* connection)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.erase(connection);
    }

private:
    std::mutex m_mutex;
    InternetHandle m_session;
    std::atomic<bool> m_open{false};
    std::atomic<DWORD> m_maxConnections{8};
    std::set<WinInetConnection*> m_connections;
};

class WinInetConnection : public TransferConnection
{
public:
    explicit WinInetConnection(WinInetTransport& transport) : m_transport(transport)
    {
        m_transport.Register(this);
    }
    ~WinInetConnection() override
    {
        m_transport.Unregister(this);
        CloseRequest();
    }

    bool Query(const std::string& url, RemoteFileInfo* info) override
    {
        RemoteFileInfo local;
        if (!Send("HEAD", url, std::string(), &local))
            return false;
        CloseRequest();
        if (info)
            *info = local;
        return true;
    }

    FetchResult Fetch(const TransferRequest& request, DownloadSink& sink,
                      const std::atomic<bool>& keepRunning) override
    {
        if (!keepRunning.load(std::memory_order_acquire))
            return FetchResult::Cancelled;
        std::string headers;
        if (request.offset > 0 || request.length > 0)
        {
            headers = "Range: bytes=" + std::to_string(request.offset) + "-";
            if (request.length > 0)
                headers += std::to_string(request.offset + request.length - 1);
            headers += "\r\n";
            if (!request.ifRange.empty())
                headers += "If-Range: " + request.ifRange + "\r\n";
        }
        RemoteFileInfo info;
        if (!Send("GET", request.url, headers, &info))
            return m_transport.IsOpen() && keepRunning.load(std::memory_order_acquire) ? FetchResult::Failed
                                                                                      : FetchResult::Cancelled;
        if (!sink.OnHeader(info))
        {
            CloseRequest();
            return FetchResult::Declined;
        }
        if (m_buffer.size() != kReadSize)
            m_buffer.resize(kReadSize);
        FetchResult result = FetchResult::Complete;
        uint64_t received = 0;
        for (;;)
        {
            if (!keepRunning.load(std::memory_order_acquire) || !m_transport.IsOpen())
            {
                result = FetchResult::Cancelled;
                break;
            }
            HINTERNET current = CurrentRequest();
            DWORD got = 0;
            if (!current || !InternetReadFile(current, m_buffer.data(), kReadSize, &got))
            {
                result = m_transport.IsOpen() ? FetchResult::Failed : FetchResult::Cancelled;
                break;
            }
            if (got == 0)
                break;
            if (!sink.OnData(m_buffer.data(), got))
            {
                result = FetchResult::Failed;
                break;
            }
            received += got;
        }
        CloseRequest();
        // WinINet reports a dropped connection as a clean end: the length tells them apart.
        if (result == FetchResult::Complete && info.hasContentLength && received != info.contentLength)
            result = FetchResult::Failed;
        return result;
    }

    // From another thread: ends the request in flight.
    void CancelRequest() { CloseRequest(); }

private:
    bool Send(const char* verb, const std::string& url, const std::string& headers, RemoteFileInfo* info)
    {
        if (!m_transport.IsOpen())
            return false;
        std::string host, path;
        INTERNET_PORT port = 0;
        if (!SplitUrl(url, host, port, path))
            return false;
        HINTERNET session = m_transport.Session();
        if (!session)
            return false;
        if (!m_connect || host != m_host || port != m_port)
        {
            m_connect.Reset(InternetConnectA(session, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
            m_host = host;
            m_port = port;
            if (!m_connect)
                return false;
        }
        HINTERNET request =
            HttpOpenRequestA(m_connect.Get(), verb, path.c_str(), nullptr, nullptr, nullptr, kRequestFlags, 0);
        if (!request)
        {
            // The connect handle may have been spoilt by a cancel: start afresh next time.
            m_connect.Reset();
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(m_requestMutex);
            m_request = request;
        }
        // A cancel that came just before the request was published must not be missed.
        if (!m_transport.IsOpen())
        {
            CloseRequest();
            return false;
        }
        BOOL sent = HttpSendRequestA(request, headers.empty() ? nullptr : headers.c_str(),
                                     headers.empty() ? 0 : static_cast<DWORD>(headers.size()), nullptr, 0);
        HINTERNET current = CurrentRequest();
        if (!sent || !current)
        {
            CloseRequest();
            return false;
        }
        ReadInfo(current, info);
        return true;
    }

    HINTERNET CurrentRequest()
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        return m_request;
    }

    // Whoever comes first closes the request; the other finds it gone.
    void CloseRequest()
    {
        HINTERNET request = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_requestMutex);
            request = m_request;
            m_request = nullptr;
        }
        if (request)
            InternetCloseHandle(request);
    }

    WinInetTransport& m_transport;
    InternetHandle m_connect;
    std::string m_host;
    INTERNET_PORT m_port = 0;
    std::mutex m_requestMutex;
    HINTERNET m_request = nullptr;
    std::vector<char> m_buffer;
};

void WinInetTransport::Cancel()
{
    m_open.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (WinInetConnection* connection : m_connections)
        connection->CancelRequest();
}

std::unique_ptr<TransferConnection> WinInetTransport::NewConnection()
{
    return std::make_unique<WinInetConnection>(*this);
}

} // namespace

std::unique_ptr<Transport> CreateSystemTransport()
{
    return std::make_unique<WinInetTransport>();
}

} // namespace kr::os
