#include "services/json_document.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// Deeper paths are refused: reading and writing the document recurse once per level.
constexpr size_t kMaxPathTokens = 64;

bool IsDecimal(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Position named by a token; values that do not fit are beyond every array.
uint64_t IndexOf(const std::string& text)
{
    uint64_t value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > std::numeric_limits<uint32_t>::max())
            return std::numeric_limits<uint64_t>::max();
    }
    return value;
}

// A member token used on an array reads like atoi; a negative number reaches nothing.
uint64_t IndexOfMemberText(const std::string& text)
{
    long long value = std::atoll(text.c_str());
    return value < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(value);
}

rapidjson::Value::MemberIterator FindMember(rapidjson::Value& object, const std::string& name)
{
    rapidjson::Value key(rapidjson::StringRef(name.c_str(), static_cast<rapidjson::SizeType>(name.size())));
    return object.FindMember(key);
}

} // namespace

CKrJsonDocument::CKrJsonDocument() = default;

CKrJsonDocument::CKrJsonDocument(const CKrJsonDocument& other) : scratch(other.scratch)
{
    m_document.CopyFrom(static_cast<const rapidjson::Value&>(other.m_document), m_document.GetAllocator());
}

CKrJsonDocument& CKrJsonDocument::operator=(const CKrJsonDocument& other)
{
    if (this != &other)
    {
        rapidjson::Document fresh;
        fresh.CopyFrom(static_cast<const rapidjson::Value&>(other.m_document), fresh.GetAllocator());
        m_document.Swap(fresh);
        scratch = other.scratch;
        m_tokens.clear();
        m_resolved = nullptr;
        m_resolvedDepth = 0;
        m_lookupError = kLookupOk;
    }
    return *this;
}

bool CKrJsonDocument::ParsePath(const std::string& path)
{
    m_tokens.clear();
    std::string current;
    rapidjson::Type kind = rapidjson::kObjectType;
    auto flush = [&]() {
        if (!current.empty())
            m_tokens.push_back({current, kind});
        current.clear();
    };
    for (char c : path)
    {
        if (c == '/' || c == '[' || c == ']')
        {
            flush();
            kind = c == '[' ? rapidjson::kArrayType : rapidjson::kObjectType;
        }
        else
        {
            current.push_back(c);
        }
    }
    flush();
    for (const PathToken& token : m_tokens)
    {
        if (token.kind == rapidjson::kArrayType && !IsDecimal(token.text))
        {
            m_tokens.clear();
            return false;
        }
    }
    if (m_tokens.size() > kMaxPathTokens)
    {
        m_tokens.clear();
        return false;
    }
    return !m_tokens.empty();
}

rapidjson::Value* CKrJsonDocument::Lookup()
{
    m_resolved = nullptr;
    m_resolvedDepth = 0;
    m_lookupError = kLookupOk;
    if (m_tokens.empty())
        return nullptr;

    rapidjson::Value* current = &m_document;
    const PathToken& first = m_tokens[0];
    if (first.kind == rapidjson::kObjectType)
    {
        if (!current->IsObject())
        {
            m_lookupError = kLookupMismatch;
            return nullptr;
        }
        auto member = FindMember(*current, first.text);
        if (member == current->MemberEnd())
        {
            m_lookupError = kLookupNoFirstMember;
            return nullptr;
        }
        current = &member->value;
    }
    else
    {
        if (!current->IsArray())
        {
            m_lookupError = kLookupMismatch;
            return nullptr;
        }
        uint64_t index = IndexOf(first.text);
        if (index >= current->Size())
        {
            m_lookupError = kLookupFirstIndexOutOfRange;
            return nullptr;
        }
        current = &(*current)[static_cast<rapidjson::SizeType>(index)];
    }
    m_resolved = current;
    m_resolvedDepth = 1;

    for (size_t i = 1; i < m_tokens.size(); ++i)
    {
        const PathToken& token = m_tokens[i];
        if (token.kind == rapidjson::kObjectType && current->IsObject())
        {
            auto member = FindMember(*current, token.text);
            if (member == current->MemberEnd())
            {
                m_lookupError = kLookupMismatch;
                return nullptr;
            }
            current = &member->value;
        }
        else if (current->IsArray())
        {
            uint64_t index = token.kind == rapidjson::kArrayType ? IndexOf(token.text) : IndexOfMemberText(token.text);
            if (index >= current->Size())
            {
                m_lookupError = kLookupMismatch;
                return nullptr;
            }
            current = &(*current)[static_cast<rapidjson::SizeType>(index)];
        }
        else
        {
            m_lookupError = kLookupMismatch;
            return nullptr;
        }
        m_resolved = current;
        m_resolvedDepth = static_cast<uint32_t>(i + 1);
    }
    return m_resolved;
}

rapidjson::Value* CKrJsonDocument::Find()
{
    return Lookup();
}

bool CKrJsonDocument::Build()
{
    rapidjson::Document::AllocatorType& allocator = m_document.GetAllocator();
    size_t first = m_resolvedDepth;
    rapidjson::Value* place = m_resolved;
    if (first == 0)
    {
        if (m_lookupError == kLookupMismatch)
        {
            if (m_tokens[0].kind == rapidjson::kObjectType)
                m_document.SetObject();
            else
                m_document.SetArray();
        }
        place = &m_document;
    }
    if (!place)
        return false;
    // Only a container can take the chain; a member cannot be named by an index in an object.
    bool intoArray = place->IsArray();
    if (!intoArray && !(place->IsObject() && m_tokens[first].kind == rapidjson::kObjectType))
        return false;

    rapidjson::Value chain;
    for (size_t i = m_tokens.size() - 1; i > first; --i)
    {
        const PathToken& token = m_tokens[i];
        rapidjson::Value container(token.kind);
        if (token.kind == rapidjson::kObjectType)
            container.AddMember(rapidjson::Value(token.text.c_str(), allocator), chain, allocator);
        else
            container.PushBack(chain, allocator);
        chain = container;
    }
    if (intoArray)
        place->PushBack(chain, allocator);
    else
        place->AddMember(rapidjson::Value(m_tokens[first].text.c_str(), allocator), chain, allocator);
    return true;
}

void CKrJsonDocument::Store(rapidjson::Value& target, const CKrVariant& source, int kind)
{
    switch (kind)
    {
    case kKindInt: target.SetInt(source.AsInt()); break;
    case kKindUnsigned: target.SetUint(source.AsUnsigned()); break;
    case kKindDouble:
    {
        // JSON has no NaN or infinity; the writer would stop in the middle of the document.
        float value = source.AsFloat();
        if (std::isfinite(value))
            target.SetDouble(static_cast<double>(value));
        else
            target.SetNull();
        break;
    }
    case kKindBool: target.SetBool(source.AsInt() == 1); break;
    case kKindString:
    {
        std::string text = source.AsText();
        target.SetString(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), m_document.GetAllocator());
        break;
    }
    default: break;
    }
}

bool CKrJsonDocument::Set(const std::string& path, const CKrVariant& source, int kind)
{
    if (!ParsePath(path))
        return false;
    rapidjson::Value* target = Lookup();
    if (!target)
    {
        if (!Build())
            return false;
        target = Lookup();
        if (!target)
            return false;
    }
    if (target->IsArray())
    {
        target->PushBack(rapidjson::Value(), m_document.GetAllocator());
        target = &(*target)[target->Size() - 1];
    }
    Store(*target, source, kind);
    return true;
}

void CKrJsonDocument::CopyInto(rapidjson::Value& target, const CKrJsonDocument& source)
{
    // Copy first: `target` may lie inside the very tree being copied.
    rapidjson::Value copy(static_cast<const rapidjson::Value&>(source.m_document), m_document.GetAllocator());
    target = copy;
}

void CKrJsonDocument::ToString(std::string& out) const
{
    rapidjson::StringBuffer buffer(nullptr, 256);
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    m_document.Accept(writer);
    out.assign(buffer.GetString(), buffer.GetSize());
}

void CKrJsonDocument::Clear()
{
    if (!m_document.IsObject() && !m_document.IsArray())
        return;
    // A fresh document gives the removed values' memory back; the pool allocator would keep it.
    rapidjson::Document fresh;
    if (m_document.IsObject())
        fresh.SetObject();
    else
        fresh.SetArray();
    m_document.Swap(fresh);
    m_tokens.clear();
    m_resolved = nullptr;
    m_resolvedDepth = 0;
    m_lookupError = kLookupOk;
}
