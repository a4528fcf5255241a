#pragma once
// The install helper's own small request class: one plain GET whose query is signed with one of
// the shared keys. The key never travels; only its index and the SHA-1 of the signed text do.
// In its own namespace so that it can live beside the launcher's request class of the same name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kr::helper
{

// What one answer may cost: an answer that is larger or takes longer counts as no answer. The size is
// the launcher's own cap on answers.
struct KrAnswerLimits
{
    std::size_t maxBytes = std::size_t(8) << 20;
    uint32_t maxMs = 30000;
};

class CKrHttpRequest
{
public:
    static constexpr int kKeyCount = 21;

    // `keys` is the signature key table; a table of any other size makes every request fail.
    explicit CKrHttpRequest(std::vector<std::string> keys);

    void AddParameter(const std::string& name, const std::string& value);
    // 1 when an answer arrived (its body is in the answer), 0 when none could be opened.
    int SendSignedRequest(const std::string& url);
    const char* GetAnswer() const { return m_answer.c_str(); }
    const std::string& GetQuery() const { return m_query; }
    // 1 when an answer was read into `body` (any HTTP status), 0 otherwise, also when the answer
    // broke a limit (`body` then stays as it was).
    int HttpGet(const std::string& url, std::string& body);
    void SetLimits(const KrAnswerLimits& limits) { m_limits = limits; }

    // "?a=1&b=2&signature_version=v": parameters as given, no escaping.
    static std::string BuildQuery(const std::vector<std::pair<std::string, std::string>>& parameters,
                                  int keyIndex);
    // 40 lower-case hex digits of SHA-1(query + "&signature=" + key).
    static std::string SignQuery(const std::string& query, const std::string& key);
    // "http://" in front unless the URL begins with exactly that.
    static std::string WithHttpScheme(const std::string& url);
    // Appends a received piece up to its first NUL: the answer is text.
    static void AppendTextPiece(std::string& body, const char* data, size_t size);

private:
    std::string m_host; // reserved, unused by the signed request
    std::string m_path; // reserved, unused by the signed request
    std::vector<std::pair<std::string, std::string>> m_parameters;
    std::string m_query;
    std::string m_answer;
    std::vector<std::string> m_keys;
    KrAnswerLimits m_limits;
};

} // namespace kr::helper
