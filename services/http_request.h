#pragma once
#include "services/json_records.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A launcher-server call: request records posted as JSON to a path with a cache-busting query, and
// the answer parsed into a flat key/value map. Used by one thread at a time.
class CKrHttpRequest
{
public:
    CKrHttpRequest() = default;
    virtual ~CKrHttpRequest() = default;

    void AddField(const std::string& key, const std::string& value, int kind);
    void AddUnsigned(const std::string& key, uint32_t number);

    // Posts the records to `url` with `path` (null: the path of `url`) and "?Rand=N" appended; on a
    // completed transfer the answer is parsed into the values. True when the transfer completed,
    // whatever the HTTP status.
    bool PostJson(const char* url, const char* path);

    // Takes `text` as the answer of a completed transfer, as PostJson does (replayed answers, tests).
    void TakeResponse(const std::string& text);

    std::string GetString(const std::string& key) const;
    // The value read like atoi; 0 when absent.
    int GetInt(const std::string& key) const;
    int GetUserId() const { return GetInt("UserId"); }
    bool HasKey(const std::string& key) const { return m_values.count(key) != 0; }
    void Reset();

    const std::vector<KrRequestRecord>& Records() const { return m_records; }
    const std::string& Body() const { return m_body; }
    const std::string& Response() const { return m_response; }
    const std::map<std::string, std::string>& Values() const { return m_values; }

    // Splits `url` and `path` the way PostJson does: `base` is the scheme and host part handed to
    // the transfer ("https://" kept, "http://" dropped), `tail` the path, without the query.
    static void SplitUrl(const char* url, const char* path, std::string& base, std::string& tail);

private:
    std::vector<KrRequestRecord> m_records;
    std::string m_body;
    std::string m_response;
    std::map<std::string, std::string> m_values;
};
