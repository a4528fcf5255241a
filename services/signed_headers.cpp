#include "services/signed_headers.h"

#include "services/sha1.h"

#include <curl/curl.h>

#include <cstring>

std::string BuildAuthorizationLine(const char* body, uint32_t customerId, const char* key,
                                   const std::string& scheme)
{
    if (!body)
        body = "";
    if (!key)
        key = "";
    CKrHMacSha1 mac;
    mac.HMAC_SHA1(body, std::strlen(body), key, std::strlen(key));
    std::string hex;
    mac.GetHashHex(hex);
    return "Authorization: " + scheme + " CustomerID=" + std::to_string(static_cast<int32_t>(customerId)) +
           ", Mac=" + hex;
}

curl_slist* BuildSignedHeaders(const char* body, uint32_t customerId, const char* key,
                               const std::string& scheme, const std::string& contentType)
{
    const std::string lines[] = {"Content-Type: " + contentType, "Accept: */*",
                                 BuildAuthorizationLine(body, customerId, key, scheme)};
    curl_slist* list = nullptr;
    for (const std::string& line : lines)
    {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (!grown)
        {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = grown;
    }
    return list;
}
