#pragma once
// Operating-system seam: the installation engine's plain HTTP transfers, behind an interface. The
// system transport is libcurl natively and WinINet on Windows; tests hand the engine a scripted fake
// (tests/support/fake_transport.h). Requests never follow redirects and never use a cache.
//
// Shape, with what comes next in mind:
// - A Transport is one session shared by the whole engine; each thread that transfers owns its own
//   TransferConnection, so several transfers run side by side simply by using several connections.
// - A request names a byte range (offset, length), so one large file can be fetched in pieces over
//   several connections, each piece written at its offset by its own sink.
// - Every body byte passes through a DownloadSink, where a speed limit (a shared token bucket that
//   OnData waits on) can be added without touching the transports.
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
    uint64_t lastModified = 0;    // FILETIME: 100 ns units since 1601-01-01 UTC
    std::string lastModifiedText; // as the server sent it, for If-Range
    std::string etag;             // empty when there is none
    bool hasContentLength = false;
    uint64_t contentLength = 0; // bytes of this answer's body (of the range, for a 206)
    // Content-Range of a 206 ("bytes first-last/complete") or of a 416 ("bytes */complete").
    bool hasContentRange = false;
    uint64_t rangeFirst = 0;
    uint64_t rangeLast = 0;
    bool hasCompleteLength = false;
    uint64_t completeLength = 0;
};

// Parses a Content-Range value into `info`; false (info untouched) when it is not of the two forms.
bool ParseContentRange(const std::string& value, RemoteFileInfo& info);

struct TransferRequest
{
    std::string url;
    // With offset > 0 or length > 0 a "Range: bytes=offset-[offset+length-1]" header is sent.
    uint64_t offset = 0;
    uint64_t length = 0; // 0: up to the end
    // Sent as If-Range with a range: an HTTP date (Last-Modified) or an entity tag. A server whose
    // file changed answers 200 with the whole file instead of 206.
    std::string ifRange;
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
    Complete,  // the whole body was handed to the sink (all of Content-Length, when there was one)
    Declined,  // OnHeader returned false
    Failed,    // no answer, a transfer error, a time-out, a truncated body, or OnData refused
    Cancelled, // keepRunning was cleared, or the transport was cancelled
};

// One connection to the server, used by one thread at a time. It keeps its connection open between
// requests where the platform allows it.
class TransferConnection
{
public:
    virtual ~TransferConnection() = default;
    // Reads the response header of `url` (a HEAD request) without a body.
    virtual bool Query(const std::string& url, RemoteFileInfo* info) = 0;
    // Reads the whole answer into `sink`; stops early when keepRunning becomes false.
    virtual FetchResult Fetch(const TransferRequest& request, DownloadSink& sink,
                              const std::atomic<bool>& keepRunning) = 0;
};

// One internet session, shared by every connection of an engine.
class Transport
{
public:
    virtual ~Transport() = default;
    // Starts (or restarts after Cancel) the session; `agent` is the user agent.
    virtual bool Open(const std::string& agent) = 0;
    // Safe from any thread while connections are in use: transfers in progress end soon with
    // Cancelled (within about a second, also while connecting), and later requests fail until the
    // next Open. Nothing is freed here; connections stay valid until their owners destroy them.
    virtual void Cancel() = 0;
    virtual bool IsOpen() const = 0;
    // A new connection; it must be destroyed before the transport.
    virtual std::unique_ptr<TransferConnection> NewConnection() = 0;
    // How many connections to one server the owner runs at once; before Open. Transports whose
    // platform limits them by default (WinINet) raise the limit to this.
    virtual void SetConnectionLimit(unsigned count) { (void)count; }
};

// libcurl natively, WinINet on Windows.
std::unique_ptr<Transport> CreateSystemTransport();

} // namespace kr::os
