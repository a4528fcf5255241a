// The transfer of the helper's request natively: the platform's download channel (libcurl), so the
// signed request runs against loopback servers in the native tests too.
#include "installhelper/signed_request.h"

#include "platform/download.h"

#include <algorithm>

namespace kr::helper
{

namespace
{

class TextSink : public kr::os::DownloadSink
{
public:
    explicit TextSink(std::string& body) : m_body(body) {}
    bool OnHeader(const kr::os::RemoteFileInfo&) override { return true; }
    bool OnData(const void* data, std::size_t size) override
    {
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

private:
    std::string& m_body;
};

} // namespace

int CKrHttpRequest::HttpGet(const std::string& url, std::string& body)
{
    std::unique_ptr<kr::os::Transport> transport = kr::os::CreateSystemTransport();
    if (!transport->Open("HttpRequest"))
        return 0;
    std::unique_ptr<kr::os::TransferConnection> connection = transport->NewConnection();
    TextSink sink(body);
    std::atomic<bool> keepRunning{true};
    kr::os::TransferRequest request;
    request.url = WithHttpScheme(url);
    kr::os::FetchResult result = connection->Fetch(request, sink, keepRunning);
    // A transfer cut short still answered: what arrived is the answer, as on Windows.
    return (result == kr::os::FetchResult::Complete || !body.empty()) ? 1 : 0;
}

} // namespace kr::helper
