#include "install/extract_claims.h"

#include <algorithm>

namespace
{

// Letters that have a non-ASCII case partner somewhere (Kelvin sign, dotless i, long s) go with the
// non-ASCII bytes: one wildcard for a whole run of them.
bool IsWild(unsigned char c)
{
    return c >= 0x80 || c == 'i' || c == 'k' || c == 's';
}

} // namespace

std::string CKrExtractClaims::ConflictKey(const std::string& name, bool* meetsAll)
{
    std::string key;
    key.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '\\')
            c = '/';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c == '~' && i + 1 < name.size() && name[i + 1] >= '0' && name[i + 1] <= '9')
            *meetsAll = true;
        if (c == '/')
        {
            // Windows drops trailing dots and spaces of a name component.
            while (!key.empty() && (key.back() == '.' || key.back() == ' '))
                key.pop_back();
            if (!key.empty() && key.back() == '/')
                continue;
        }
        if (IsWild(c))
        {
            if (!key.empty() && key.back() == '*')
                continue;
            c = '*';
        }
        key += static_cast<char>(c);
    }
    while (!key.empty() && (key.back() == '.' || key.back() == ' ' || key.back() == '/'))
        key.pop_back();
    return key;
}

void CKrExtractClaims::Claim::Add(const std::string& path)
{
    bool directory = !path.empty() && (path.back() == '/' || path.back() == '\\');
    std::string key = ConflictKey(path, &m_meetsAll);
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (unsigned char c : key)
        hash = (hash ^ c) * 1099511628211ull;
    m_keys.push_back((hash & ~1ull) | (directory ? 1u : 0u));
}

void CKrExtractClaims::Claim::Seal()
{
    std::sort(m_keys.begin(), m_keys.end());
    m_keys.erase(std::unique(m_keys.begin(), m_keys.end()), m_keys.end());
}

bool CKrExtractClaims::Meet(const Claim& a, const Claim& b)
{
    if (a.m_meetsAll || b.m_meetsAll)
        return true;
    // Both sorted: one merge pass. A file's key never equals a directory's, so shared directories pass.
    auto x = a.m_keys.begin();
    auto y = b.m_keys.begin();
    while (x != a.m_keys.end() && y != b.m_keys.end())
    {
        if (*x == *y && !(*x & 1))
            return true;
        if (*x <= *y)
            ++x;
        else
            ++y;
    }
    return false;
}

bool CKrExtractClaims::TryHold(uint64_t id, const Claim& claim)
{
    CKrScopedLock lock(m_mutex);
    for (const Held& held : m_held)
        if (Meet(*held.claim, claim))
            return false;
    m_held.push_back(Held{id, &claim});
    return true;
}

void CKrExtractClaims::Release(uint64_t id)
{
    CKrScopedLock lock(m_mutex);
    m_held.erase(std::remove_if(m_held.begin(), m_held.end(), [&](const Held& held) { return held.id == id; }),
                 m_held.end());
}
