#include "platform/download.h"

#include <windows.h>

#include <wininet.h>

#include <vector>

namespace kr::os
{

namespace
{

// Reload from the origin, keep nothing in the cache, never authenticate or show any UI.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kReadSize = 0x20000;

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

// Opens the request and reads its status line and the two headers the engine needs.
HINTERNET OpenRequest(HINTERNET session, const std::string& url, RemoteFileInfo* info)
{
    if (!session)
        return nullptr;
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, kRequestFlags, 0);
    if (!request)
        return nullptr;
    *info = RemoteFileInfo{};
    char status[512] = {};
    DWORD length = sizeof status - 1;
    DWORD index = 0;
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, status, &length, &index))
    {
        uint64_t code = 0;
        if (ParseLength(status, &code) && code < 1000)
            info->status = static_cast<int>(code);
    }
    SYSTEMTIME modified{};
    length = sizeof modified;
    index = 0;
    FILETIME ft{};
    if (HttpQueryInfoA(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &modified, &length,
                       &index) &&
        SystemTimeToFileTime(&modified, &ft))
    {
        info->hasLastModified = true;
        info->lastModified = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    }
    char contentLength[32] = {};
    length = sizeof contentLength - 1;
    index = 0;
    if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, contentLength, &length, &index))
        info->hasContentLength = ParseLength(contentLength, &info->contentLength);
    return request;
}

} // namespace

struct DownloadChannelImpl
{
    std::vector<char> buffer;
};

DownloadSession::DownloadSession() = default;

DownloadSession::~DownloadSession()
{
    Close();
}

bool DownloadSession::Open(const std::string& agent)
{
    Close();
    m_agent = agent;
    HINTERNET session = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session)
        return false;
    m_native.store(session, std::memory_order_release);
    m_open.store(true, std::memory_order_release);
    return true;
}

void DownloadSession::Close()
{
    m_open.store(false, std::memory_order_release);
    // Closing the session handle makes the requests running on it fail.
    if (void* session = m_native.exchange(nullptr, std::memory_order_acq_rel))
        InternetCloseHandle(static_cast<HINTERNET>(session));
}

DownloadChannel::DownloadChannel(DownloadSession& session)
    : m_session(session), m_impl(new DownloadChannelImpl)
{
}

DownloadChannel::~DownloadChannel() = default;

bool DownloadChannel::Query(const std::string& url, RemoteFileInfo* info)
{
    RemoteFileInfo local;
    HINTERNET request =
        OpenRequest(static_cast<HINTERNET>(m_session.m_native.load(std::memory_order_acquire)), url, &local);
    if (!request)
        return false;
    InternetCloseHandle(request);
    if (info)
        *info = local;
    return true;
}

FetchResult DownloadChannel::Fetch(const std::string& url, DownloadSink& sink,
                                   const std::atomic<bool>& keepRunning)
{
    if (!keepRunning.load(std::memory_order_acquire))
        return FetchResult::Cancelled;
    RemoteFileInfo info;
    HINTERNET request =
        OpenRequest(static_cast<HINTERNET>(m_session.m_native.load(std::memory_order_acquire)), url, &info);
    if (!request)
        return FetchResult::Failed;
    if (!sink.OnHeader(info))
    {
        InternetCloseHandle(request);
        return FetchResult::Declined;
    }
    if (m_impl->buffer.size() != kReadSize)
        m_impl->buffer.resize(kReadSize);
    FetchResult result = FetchResult::Complete;
    uint64_t received = 0;
    for (;;)
    {
        if (!keepRunning.load(std::memory_order_acquire) || !m_session.IsOpen())
        {
            result = FetchResult::Cancelled;
            break;
        }
        DWORD got = 0;
        if (!InternetReadFile(request, m_impl->buffer.data(), kReadSize, &got))
        {
            result = FetchResult::Failed;
            break;
        }
        if (got == 0)
            break;
        if (!sink.OnData(m_impl->buffer.data(), got))
        {
            result = FetchResult::Failed;
            break;
        }
        received += got;
    }
    InternetCloseHandle(request);
    // WinINet reports a dropped connection as a clean end: the length tells them apart.
    if (result == FetchResult::Complete && info.hasContentLength && received != info.contentLength)
        result = FetchResult::Failed;
    return result;
}

} // namespace kr::os
