#include "installhelper/signed_request.h"

#include "services/sha1.h"

#include <cstdlib>
#include <cstring>

namespace kr::helper
{

CKrHttpRequest::CKrHttpRequest(std::vector<std::string> keys) : m_keys(std::move(keys)) {}

void CKrHttpRequest::AddParameter(const std::string& name, const std::string& value)
{
    m_parameters.emplace_back(name, value);
}

std::string CKrHttpRequest::BuildQuery(const std::vector<std::pair<std::string, std::string>>& parameters,
                                       int keyIndex)
{
    std::string query = "?";
    for (size_t i = 0; i < parameters.size(); ++i)
    {
        if (i > 0)
            query += "&";
        query += parameters[i].first + "=" + parameters[i].second;
    }
    query += parameters.empty() ? "signature_version=" : "&signature_version=";
    query += std::to_string(keyIndex);
    return query;
}

std::string CKrHttpRequest::SignQuery(const std::string& query, const std::string& key)
{
    std::string signedText = query + "&signature=" + key;
    // The text up to its first NUL, as a C string would be hashed.
    size_t length = std::strlen(signedText.c_str());
    CKrHashSHA1 sha;
    sha.Update(signedText.data(), length);
    sha.Final();
    std::string digest;
    sha.GetHashHex(digest);
    return digest;
}

std::string CKrHttpRequest::WithHttpScheme(const std::string& url)
{
    if (url.compare(0, 7, "http://") == 0)
        return url;
    return "http://" + url;
}

void CKrHttpRequest::AppendTextPiece(std::string& body, const char* data, size_t size)
{
    const void* nul = std::memchr(data, '\0', size);
    body.append(data, nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : size);
}

int CKrHttpRequest::SendSignedRequest(const std::string& url)
{
    if (m_keys.size() != static_cast<size_t>(kKeyCount))
        return 0;
    // Never seeded by the library; the last key is never chosen.
    int keyIndex = std::rand() % 20;
    m_query = BuildQuery(m_parameters, keyIndex);
    std::string requestUrl = url + m_query + "&signature=" + SignQuery(m_query, m_keys[keyIndex]);
    return HttpGet(requestUrl, m_answer);
}

} // namespace kr::helper
