#include "services/http_post.h"

#include "services/thread.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace {

std::mutex& GlobalLock()
{
    static std::mutex lock;
    return lock;
}
int g_globalRefs = 0; // guarded by GlobalLock()

std::mutex& CaLock()
{
    static std::mutex lock;
    return lock;
}
std::string& CaBundle() // guarded by CaLock()
{
    static std::string path;
    return path;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    std::size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
    {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

size_t CollectBody(char* data, size_t size, size_t count, void* target)
{
    auto* out = static_cast<std::string*>(target);
    if (!out)
        return 0;
    size_t bytes = size * count;
    if (bytes > kKrMaxResponseBytes || out->size() > kKrMaxResponseBytes - bytes)
        return 0;
    out->append(data, bytes);
    return bytes;
}

int CheckCancel(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const CKrStopFlag*>(flag)->IsRaised() ? 1 : 0;
}

curl_slist* DefaultHeaders()
{
    curl_slist* list = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
    if (!list)
        return nullptr;
    curl_slist* more = curl_slist_append(list, "Accept: */*");
    if (!more)
    {
        curl_slist_free_all(list);
        return nullptr;
    }
    return more;
}

struct EasyHandle
{
    CURL* handle = curl_easy_init();
    ~EasyHandle()
    {
        if (handle)
            curl_easy_cleanup(handle);
    }
};

struct HeaderList
{
    curl_slist* list;
    ~HeaderList() { curl_slist_free_all(list); }
};

} // namespace

CKrCurlGlobal::CKrCurlGlobal()
{
    std::lock_guard<std::mutex> guard(GlobalLock());
    m_ok = g_globalRefs > 0 || curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    if (m_ok)
        ++g_globalRefs;
}

CKrCurlGlobal::~CKrCurlGlobal()
{
    std::lock_guard<std::mutex> guard(GlobalLock());
    if (m_ok && --g_globalRefs == 0)
        curl_global_cleanup();
}

void SetCaBundleForTesting(const std::string& path)
{
    std::lock_guard<std::mutex> guard(CaLock());
    CaBundle() = path;
}

bool PerformHttpPost(const char* url, const char* suffix, const char* body, std::string* response,
                     curl_slist* headers, const CKrStopFlag* cancel)
{
    HeaderList owned{headers};
    std::string target = url ? url : "";
    if (!StartsWithNoCase(target, "http://") && !StartsWithNoCase(target, "https://"))
        target.insert(0, "http://");
    const bool secure = StartsWithNoCase(target, "https://");
    if (suffix)
        target += suffix;
    if (!body)
        body = "";

    CKrCurlGlobal global;
    if (!global.Ok())
        return false;
    EasyHandle easy;
    if (!easy.handle)
        return false;
    CURL* h = easy.handle;

    if (!owned.list)
    {
        owned.list = DefaultHeaders();
        if (!owned.list)
            return false;
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, owned.list);
    // Only the two web schemes, whatever the configured URL says.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (secure)
    {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        // Schannel only: an unreachable revocation server must not fail an otherwise valid chain.
        curl_easy_setopt(h, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
        // A redirect must not downgrade the request to plain http.
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
        std::lock_guard<std::mutex> guard(CaLock());
        if (!CaBundle().empty())
            curl_easy_setopt(h, CURLOPT_CAINFO, CaBundle().c_str()); // copied by libcurl
    }
    else
    {
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    }

    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (cancel)
    {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, CheckCancel);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<CKrStopFlag*>(cancel));
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    else
    {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    }
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(std::strlen(body)));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, response);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L);

    return curl_easy_perform(h) == CURLE_OK;
}
