#pragma once
#include <string>

struct curl_slist;
class CKrStopFlag;

// One blocking POST over libcurl. `url` gets "http://" in front when it names no scheme; `suffix`
// (path and query, may be empty) is appended unchanged. The response body is appended to
// `response`. `headers` is taken over and freed after the transfer (null: form content type and
// "Accept: */*"). True when the transfer completed; the HTTP status is not examined. https
// transfers verify the certificate chain and host name and follow redirects to https only; plain
// http never follows redirects. A raised `cancel` flag aborts a running transfer.
bool PerformHttpPost(const char* url, const char* suffix, const char* body, std::string* response,
                     curl_slist* headers, const CKrStopFlag* cancel = nullptr);

// Answers larger than this are cut off and the transfer fails: the servers are not trusted.
constexpr std::size_t kKrMaxResponseBytes = 8u * 1024u * 1024u;

// Holds libcurl's global initialisation for its lifetime. The count is process-wide and guarded,
// so a transfer on one thread never sees the library torn down by another. Every libcurl user in
// the process goes through this instead of calling curl_global_init/cleanup itself.
class CKrCurlGlobal
{
public:
    CKrCurlGlobal();
    virtual ~CKrCurlGlobal();
    CKrCurlGlobal(const CKrCurlGlobal&) = delete;
    CKrCurlGlobal& operator=(const CKrCurlGlobal&) = delete;
    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};

// Tests only: a CA bundle that replaces the system trust store for https verification; an empty
// path restores the system store. Verification itself cannot be switched off.
void SetCaBundleForTesting(const std::string& path);
