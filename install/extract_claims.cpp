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

CKrExtractClaims::Claim CKrExtractClaims::Of(const std::vector<std::string>& names)
{
    Claim claim;
    claim.keys.reserve(names.size());
    for (const std::string& name : names)
    {
        bool directory = !name.empty() && (name.back() == '/' || name.back() == '\\');
        std::string key = ConflictKey(name, &claim.meetsAll);
        // A directory shared by two archives is harmless; a file and a directory of one name are
        // not, so the kinds are told apart only by this mark, which a file key never ends with.
        claim.keys.push_back(directory ? key + "/" : key);
    }
    std::sort(claim.keys.begin(), claim.keys.end());
    claim.keys.erase(std::unique(claim.keys.begin(), claim.keys.end()), claim.keys.end());
    return claim;
}

bool CKrExtractClaims::Meet(const Claim& a, const Claim& b)
{
    if (a.meetsAll || b.meetsAll)
        return true;
    // Both sorted: one merge pass. Directory keys never equal a file key, so shared directories pass.
    auto x = a.keys.begin();
    auto y = b.keys.begin();
    while (x != a.keys.end() && y != b.keys.end())
    {
        int order = x->compare(*y);
        if (order == 0)
        {
            if (x->empty() || x->back() != '/')
                return true;
            ++x;
            ++y;
        }
        else if (order < 0)
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
