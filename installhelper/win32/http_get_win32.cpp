// The transfer of the helper's request over WinINet.
#include "installhelper/signed_request.h"

#include <windows.h>
#include <wininet.h>

namespace kr::helper
{

int CKrHttpRequest::HttpGet(const std::string& url, std::string& body)
{
    std::string full = WithHttpScheme(url);
    HINTERNET session = InternetOpenA("HttpRequest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session)
        return 0;
    static const char kHeaders[] = "Accept: */*\r\n\r\n";
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_PRAGMA_NOCACHE;
    HINTERNET file = InternetOpenUrlA(session, full.c_str(), kHeaders, sizeof(kHeaders) - 1, flags, 0);
    if (!file)
    {
        InternetCloseHandle(session);
        return 0;
    }
    char buffer[1025];
    for (;;)
    {
        DWORD read = 0;
        if (!InternetReadFile(file, buffer, 1024, &read) || read == 0)
            break;
        buffer[read] = '\0';
        AppendTextPiece(body, buffer, read);
    }
    InternetCloseHandle(file);
    InternetCloseHandle(session);
    return 1;
}

} // namespace kr::helper
