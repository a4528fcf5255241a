// The transfer of the helper's request natively: the platform's download channel (libcurl), so the
// signed request runs against loopback servers in the native tests too.
#include "installhelper/signed_request.h"

#include "platform/download.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kr::helper
{

namespace
{

class TextSink : public kr::os::DownloadSink
{
public:
    TextSink(std::string& body, std::size_t maxBytes) : m_body(body), m_maxBytes(maxBytes) {}
    bool OnHeader(const kr::os::RemoteFileInfo&) override { return true; }
    bool OnData(const void* data, std::size_t size) override
    {
        m_bytes += size;
        if (m_bytes > m_maxBytes)
        {
            m_tooLarge = true;
            return false;
        }
        // Pieces of at most 1024 bytes, as the Windows transfer reads them.
        const char* bytes = static_cast<const char*>(data);
        for (std::size_t done = 0; done < size;)
        {
            std::size_t piece = std::min<std::size_t>(1024, size - done);
            CKrHttpRequest::AppendTextPiece(m_body, bytes + done, piece);
            done += piece;
        }
        return true;
    }
    bool TooLarge() const { return m_tooLarge; }

private:
    std::string& m_body;
    std::size_t m_maxBytes;
    std::size_t m_bytes = 0;
    bool m_tooLarge = false;
};

// Clears `keepRunning` once the time is up, however the transfer is doing.
class Deadline
{
public:
    Deadline(std::atomic<bool>& keepRunning, uint32_t ms)
        : m_thread(
              [this, &keepRunning, ms]
              {
                  std::unique_lock<std::mutex> lock(m_mutex);
                  if (!m_done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_finished; }))
                      keepRunning.store(false);
              })
    {
    }
    ~Deadline()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace

int CKrHttpRequest::HttpGet(const std::string& url, std::string& body)
{
    std::unique_ptr<kr::os::Transport> transport = kr::os::CreateSystemTransport();
    if (!transport->Open("HttpRequest"))
        return 0;
    std::unique_ptr<kr::os::TransferConnection> connection = transport->NewConnection();
    std::string received;
    TextSink sink(received, m_limits.maxBytes);
    std::atomic<bool> keepRunning{true};
    kr::os::TransferRequest request;
    request.url = WithHttpScheme(url);
    kr::os::FetchResult result;
    {
        Deadline deadline(keepRunning, m_limits.maxMs);
        result = connection->Fetch(request, sink, keepRunning);
    }
    if (result == kr::os::FetchResult::Cancelled || sink.TooLarge())
        return 0;
    // A transfer cut short still answered: what arrived is the answer, as on Windows.
    if (result != kr::os::FetchResult::Complete && received.empty())
        return 0;
    body += received;
    return 1;
}

} // namespace kr::helper
