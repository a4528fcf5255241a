#pragma once
// Operating-system seam: the installation engine's plain HTTP transfers (WinINet on Windows,
// libcurl elsewhere). Requests never follow redirects and never use a cache.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kr::os
{

// What the response header told about a remote file.
struct RemoteFileInfo
{
    int status = 0; // HTTP status code; 0 when no answer was read
    bool hasLastModified = false;
    uint64_t lastModified = 0; // FILETIME: 100 ns units since 1601-01-01 UTC
    bool hasContentLength = false;
    uint64_t contentLength = 0;
};

// Receives one response. OnHeader runs once, before any body byte; returning false ends the
// transfer there. OnData returning false fails the transfer.
class DownloadSink
{
public:
    virtual ~DownloadSink() = default;
    virtual bool OnHeader(const RemoteFileInfo& info) = 0;
    virtual bool OnData(const void* data, std::size_t size) = 0;
};

enum class FetchResult
{
    Complete,  // the whole body was handed to the sink
    Declined,  // OnHeader returned false
    Failed,    // no answer, a transfer error, a truncated body, or OnData refused
    Cancelled, // keepRunning was cleared
};

class DownloadChannel;

// One internet session, shared by all channels of an engine. Close() makes every transfer in
// progress fail and every later request fail until the session is opened again.
class DownloadSession
{
public:
    DownloadSession();
    ~DownloadSession();
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    bool Open(const std::string& agent);
    void Close();
    bool IsOpen() const { return m_open.load(std::memory_order_acquire); }
    const std::string& Agent() const { return m_agent; }

private:
    friend class DownloadChannel;
    std::atomic<bool> m_open{false};
    std::string m_agent;
    std::atomic<void*> m_native{nullptr}; // HINTERNET on Windows
};

// A channel belongs to one thread at a time; it keeps its connection to the server between
// requests where the platform allows it.
class DownloadChannel
{
public:
    explicit DownloadChannel(DownloadSession& session);
    ~DownloadChannel();
    DownloadChannel(const DownloadChannel&) = delete;
    DownloadChannel& operator=(const DownloadChannel&) = delete;

    // Reads the response header of `url` without its body.
    bool Query(const std::string& url, RemoteFileInfo* info);
    // Reads the whole response into `sink`; stops early when keepRunning becomes false.
    FetchResult Fetch(const std::string& url, DownloadSink& sink, const std::atomic<bool>& keepRunning);

private:
    DownloadSession& m_session;
    std::unique_ptr<struct DownloadChannelImpl> m_impl;
};

} // namespace kr::os
