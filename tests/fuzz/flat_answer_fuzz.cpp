// The launcher server's answers: ParseFlat on any text, compared with RapidJSON where the text is a
// flat JSON object, and the request writer's output read back by the answer parser.
#include "services/json_records.h"
#include "tests/fuzz/fuzz_check.h"

#include <rapidjson/document.h>
#include <rapidjson/reader.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

// Reads a flat object (string and boolean members) with RapidJSON in place, so that a key's raw text
// can be told apart from its decoded form: ParseFlat takes keys as written.
class FlatObjectHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FlatObjectHandler>
{
public:
    FlatObjectHandler(const std::string& original, const char* buffer, std::map<std::string, std::string>& out)
        : m_original(original), m_buffer(buffer), m_out(out)
    {
    }

    bool Default() { return false; }
    bool StartObject() { return m_depth++ == 0; }
    bool EndObject(rapidjson::SizeType) { return --m_depth == 0; }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        // In place, a key starts where its raw text starts; it is plain when that text is the key.
        const std::size_t at = static_cast<std::size_t>(text - m_buffer);
        m_key.assign(text, length);
        return m_key.find('\\') == std::string::npos && m_original.compare(at, length, m_key) == 0 &&
               at + length < m_original.size() && m_original[at + length] == '"';
    }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        m_out[m_key].assign(text, length);
        return true;
    }
    bool Bool(bool value)
    {
        m_out[m_key] = value ? "1" : "0";
        return true;
    }

private:
    const std::string& m_original;
    const char* m_buffer;
    std::map<std::string, std::string>& m_out;
    std::string m_key;
    int m_depth = 0;
};

// What ParseFlat must read from a flat object with plain keys; false for any other text.
bool ExpectedFromRapidJson(const std::string& text, std::map<std::string, std::string>& expected)
{
    if (text.empty() || text[0] != '{' || text.find('\0') != std::string::npos)
        return false;
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    rapidjson::InsituStringStream stream(buffer.data());
    FlatObjectHandler handler(text, buffer.data(), expected);
    rapidjson::Reader reader;
    return !reader.Parse<rapidjson::kParseInsituFlag>(stream, handler).IsError();
}

// Records cut from the input at 0xFF bytes: key, value, key, value...; a key's first byte chooses
// raw or string. Keys lose the characters the parser does not unescape in keys.
void CheckWriterRoundTrip(const std::string& text)
{
    std::vector<std::string> pieces(1);
    for (char c : text)
    {
        if (static_cast<unsigned char>(c) == 0xFF)
            pieces.emplace_back();
        else
            pieces.back().push_back(c);
    }
    std::vector<KrRequestRecord> records;
    std::map<std::string, std::string> expected;
    for (std::size_t i = 0; i + 1 < pieces.size(); i += 2)
    {
        KrRequestRecord record;
        for (char c : pieces[i])
            if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
                record.key.push_back(c);
        record.kind = !pieces[i].empty() && (pieces[i][0] & 1) ? kRecordRaw : kRecordString;
        record.value = pieces[i + 1];
        std::string value = record.value;
        if (record.kind == kRecordRaw && value == "true")
            value = "1";
        else if (record.kind == kRecordRaw && value == "false")
            value = "0";
        expected[record.key] = value;
        records.push_back(record);
    }
    std::string body = WriteRecords(records);

    rapidjson::Document doc;
    doc.Parse(body.c_str(), body.size());
    // RapidJSON refuses numbers beyond double's range that JSON's grammar allows ("1e999").
    if (doc.GetParseError() != rapidjson::kParseErrorNumberTooBig)
    {
        KR_FUZZ_CHECK(!doc.HasParseError() && doc.IsObject());
        KR_FUZZ_CHECK(doc.MemberCount() == records.size());
    }

    std::map<std::string, std::string> parsed;
    ParseFlat(body, parsed);
    KR_FUZZ_CHECK(parsed == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::map<std::string, std::string> values;
    ParseFlat(text, values);
    std::map<std::string, std::string> expected;
    if (ExpectedFromRapidJson(text, expected))
        KR_FUZZ_CHECK(values == expected);

    // Decoding never grows the text: each escape is at least as long as its UTF-8 bytes.
    KR_FUZZ_CHECK(UnescapeJsonString(text).size() <= text.size());

    CheckWriterRoundTrip(text);
    return 0;
}
