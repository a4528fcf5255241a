#include "services/http_request.h"

#include "services/http_post.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

namespace {

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// atoi without its undefined behaviour on overflow: the value saturates instead.
int ReadLikeAtoi(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            value = 2147483648LL;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        value = 2147483647LL;
    return static_cast<int>(value);
}

} // namespace

void CKrHttpRequest::AddField(const std::string& key, const std::string& value, int kind)
{
    m_records.push_back(KrRequestRecord{key, value, kind});
}

void CKrHttpRequest::AddUnsigned(const std::string& key, uint32_t number)
{
    m_records.push_back(KrRequestRecord{key, std::to_string(number), kRecordRaw});
}

void CKrHttpRequest::SplitUrl(const char* url, const char* path, std::string& base, std::string& tail)
{
    std::string host = url ? url : "";
    tail = path ? path : "";
    std::string scheme;
    if (StartsWith(host, "http://"))
        host.erase(0, 7);
    else if (StartsWith(host, "https://"))
    {
        host.erase(0, 8);
        scheme = "https://";
    }
    std::size_t slash = host.find('/');
    if (slash != std::string::npos)
    {
        if (!path)
            tail = host.substr(slash);
        host.erase(slash);
    }
    base = scheme + host;
}

bool CKrHttpRequest::PostJson(const char* url, const char* path)
{
    std::string base;
    std::string tail;
    SplitUrl(url, path, base, tail);
    tail += "?Rand=" + std::to_string(std::rand() % 32768);

    m_body = WriteRecords(m_records);

    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    if (headers)
    {
        curl_slist* more = curl_slist_append(headers, "Accept: */*");
        if (!more)
        {
            curl_slist_free_all(headers);
            return false;
        }
        headers = more;
    }
    if (!headers)
        return false;

    bool ok = PerformHttpPost(base.c_str(), tail.c_str(), m_body.c_str(), &m_response, headers);
    if (ok)
        ParseFlat(m_response, m_values);
    return ok;
}

void CKrHttpRequest::TakeResponse(const std::string& text)
{
    m_response = text;
    ParseFlat(m_response, m_values);
}

std::string CKrHttpRequest::GetString(const std::string& key) const
{
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

int CKrHttpRequest::GetInt(const std::string& key) const
{
    auto it = m_values.find(key);
    return it == m_values.end() ? 0 : ReadLikeAtoi(it->second);
}

void CKrHttpRequest::Reset()
{
    m_records.clear();
    m_values.clear();
    m_body.clear();
    m_response.clear();
}
