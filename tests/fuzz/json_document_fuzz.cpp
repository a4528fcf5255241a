// Metrics documents built by paths: any sequence of Set calls with fuzzed paths, kinds and values,
// copies of the document into itself, and clears must leave a document whose compact text is valid
// JSON that reads back to the same tree.
#include "services/json_document.h"
#include "tests/fuzz/fuzz_check.h"

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Operations are separated by 0xFF bytes: op byte, then "path\0value".
constexpr int kMaxOperations = 24;
constexpr int kMaxSelfCopies = 3; // each one can double the document

void CheckSerialisation(const CKrJsonDocument& doc)
{
    std::string text;
    doc.ToString(text);
    rapidjson::Document parsed;
    parsed.Parse<rapidjson::kParseFullPrecisionFlag>(text.c_str(), text.size());
    KR_FUZZ_CHECK(!parsed.HasParseError());
    KR_FUZZ_CHECK(parsed == doc.GetDocument());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    CKrJsonDocument doc;
    int copies = 0;
    int operations = 0;
    std::size_t at = 0;
    while (at < size && operations++ < kMaxOperations)
    {
        std::size_t end = at;
        while (end < size && data[end] != 0xFF)
            ++end;
        const uint8_t op = data[at];
        std::string body(reinterpret_cast<const char*>(data) + at + 1, end > at ? end - at - 1 : 0);
        at = end + 1;

        std::size_t zero = body.find('\0');
        std::string path = body.substr(0, zero);
        std::string value = zero == std::string::npos ? std::string() : body.substr(zero + 1);

        switch (op % 8)
        {
        case 6:
        {
            // The target may lie inside the tree being copied.
            rapidjson::Value* target = doc.Set(path, CKrVariant(), CKrJsonDocument::kKindInt) ? doc.Find() : nullptr;
            if (target && copies++ < kMaxSelfCopies)
            {
                CKrJsonDocument before(doc);
                doc.CopyInto(*target, before);
            }
            break;
        }
        case 7:
            doc.Clear();
            break;
        default:
        {
            CKrVariant source;
            source.SetString(value);
            // Kinds 5 and above are unknown: they must not store anything invalid either.
            doc.Set(path, source, op % 8);
            break;
        }
        }
        CheckSerialisation(doc);
    }

    CKrJsonDocument copy(doc);
    KR_FUZZ_CHECK(copy.GetDocument() == doc.GetDocument());
    return 0;
}
