#pragma once
#include "services/variant.h"

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

// A JSON document whose values are set by paths such as "customer_id", "events[3]", "a/b" or
// "list[0]/name"; missing objects and arrays are created on the way.
class CKrJsonDocument
{
public:
    // Set kinds: how the CKrVariant is read and stored.
    static constexpr int kKindInt = 0;      // AsInt
    static constexpr int kKindUnsigned = 1; // AsUnsigned
    static constexpr int kKindDouble = 2;   // AsFloat, stored as double
    static constexpr int kKindBool = 3;     // true exactly when AsInt() == 1
    static constexpr int kKindString = 4;   // AsText

    // Lookup errors of the last Find/Set.
    static constexpr int32_t kLookupOk = 0;
    static constexpr int32_t kLookupMismatch = 1;
    static constexpr int32_t kLookupNoFirstMember = 2;
    static constexpr int32_t kLookupFirstIndexOutOfRange = 3;

    CKrJsonDocument();
    CKrJsonDocument(const CKrJsonDocument& other);
    CKrJsonDocument& operator=(const CKrJsonDocument& other);
    ~CKrJsonDocument() = default;

    // Sets the value at `path`, creating what is missing; an array reached by the path gets the
    // value appended. False for an empty path, a non-numeric index, or a path that cannot be reached.
    bool Set(const std::string& path, const CKrVariant& source, int kind);
    // The value of the last parsed path, or null.
    rapidjson::Value* Find();
    // Replaces `target` (a value of this document) by a deep copy of `source`'s root.
    void CopyInto(rapidjson::Value& target, const CKrJsonDocument& source);
    // Compact JSON of the whole document.
    void ToString(std::string& out) const;
    // An array root gets size 0, an object root loses all members; the memory they held is released.
    void Clear();

    rapidjson::Document& GetDocument() { return m_document; }
    const rapidjson::Document& GetDocument() const { return m_document; }
    int32_t GetLookupError() const { return m_lookupError; }
    uint32_t GetResolvedDepth() const { return m_resolvedDepth; }

    // Scratch value that event builders prepare before handing it to Set.
    CKrVariant scratch;

private:
    struct PathToken
    {
        std::string text;
        rapidjson::Type kind; // kObjectType: member, kArrayType: index
    };

    bool ParsePath(const std::string& path);
    rapidjson::Value* Lookup();
    bool Build();
    void Store(rapidjson::Value& target, const CKrVariant& source, int kind);

    rapidjson::Document m_document;
    std::vector<PathToken> m_tokens;
    rapidjson::Value* m_resolved = nullptr;
    uint32_t m_resolvedDepth = 0;
    int32_t m_lookupError = kLookupOk;
};
