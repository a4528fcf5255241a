// The transfer of the helper's request over WinINet.
#include "installhelper/signed_request.h"

#include <windows.h>
#include <wininet.h>

namespace kr::helper
{

namespace
{

struct InternetHandle
{
    HINTERNET handle;
    ~InternetHandle()
    {
        if (handle)
            InternetCloseHandle(handle);
    }
};

} // namespace

int CKrHttpRequest::HttpGet(const std::string& url, std::string& body)
{
    const DWORD start = GetTickCount();
    std::string full = WithHttpScheme(url);
    InternetHandle session{InternetOpenA("HttpRequest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)};
    if (!session.handle)
        return 0;
    // Every blocking step ends within the time limit; the loop below bounds their sum.
    DWORD timeout = m_limits.maxMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(session.handle, option, &timeout, sizeof(timeout));
    static const char kHeaders[] = "Accept: */*\r\n\r\n";
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_PRAGMA_NOCACHE;
    InternetHandle file{InternetOpenUrlA(session.handle, full.c_str(), kHeaders, sizeof(kHeaders) - 1, flags, 0)};
    if (!file.handle)
        return 0;
    std::string received;
    char buffer[1025];
    size_t bytes = 0;
    for (;;)
    {
        if (GetTickCount() - start > m_limits.maxMs)
            return 0;
        // Only what has arrived: a read of a full piece could wait for a trickling server far longer.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(file.handle, &available, 0, 0) || available == 0)
            break;
        DWORD read = 0;
        if (!InternetReadFile(file.handle, buffer, available < 1024 ? available : 1024, &read) || read == 0)
            break;
        bytes += read;
        if (bytes > m_limits.maxBytes)
            return 0;
        buffer[read] = '\0';
        AppendTextPiece(received, buffer, read);
    }
    body += received;
    return 1;
}

} // namespace kr::helper
