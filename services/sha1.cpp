#include "services/sha1.h"

#include <cstring>

namespace {

uint32_t Rol(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

uint32_t LoadBigEndian(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

} // namespace

CKrHashSHA1::CKrHashSHA1()
{
    std::memset(m_buffer, 0, sizeof(m_buffer));
    std::memset(m_digest, 0, sizeof(m_digest));
    std::memset(m_workspace, 0, sizeof(m_workspace));
    Reset();
}

CKrHashSHA1::~CKrHashSHA1() = default;

void CKrHashSHA1::Reset()
{
    m_state[0] = 0x67452301u;
    m_state[1] = 0xEFCDAB89u;
    m_state[2] = 0x98BADCFEu;
    m_state[3] = 0x10325476u;
    m_state[4] = 0xC3D2E1F0u;
    m_count[0] = 0;
    m_count[1] = 0;
}

void CKrHashSHA1::Transform(const uint8_t* block)
{
    // The caller's block may change under us (it can be our own buffer); work on a private copy.
    std::memcpy(m_workspace, block, kBlockSize);
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = LoadBigEndian(m_workspace + 4 * i);
    for (int i = 16; i < 80; ++i)
        w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3], e = m_state[4];
    for (int i = 0; i < 80; ++i)
    {
        uint32_t f, k;
        if (i < 20)
        {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        }
        else if (i < 40)
        {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        }
        else if (i < 60)
        {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        }
        else
        {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        uint32_t t = Rol(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = Rol(b, 30);
        b = a;
        a = t;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    std::memset(w, 0, sizeof(w));
}

void CKrHashSHA1::Update(const void* data, size_t length)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t used = (m_count[0] >> 3) & 63;
    uint64_t bits = (uint64_t(m_count[1]) << 32 | m_count[0]) + uint64_t(length) * 8;
    m_count[0] = uint32_t(bits);
    m_count[1] = uint32_t(bits >> 32);

    size_t i = 0;
    if (used + length >= kBlockSize)
    {
        i = kBlockSize - used;
        std::memcpy(m_buffer + used, bytes, i);
        Transform(m_buffer);
        for (; i + kBlockSize <= length; i += kBlockSize)
            Transform(bytes + i);
        used = 0;
    }
    if (length > i)
        std::memcpy(m_buffer + used, bytes + i, length - i);
}

void CKrHashSHA1::Final()
{
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = uint8_t(m_count[i < 4 ? 1 : 0] >> ((3 - (i & 3)) * 8));

    const uint8_t mark = 0x80;
    Update(&mark, 1);
    const uint8_t zero = 0;
    while ((m_count[0] & 511) != 448)
        Update(&zero, 1);
    Update(lengthBytes, 8);

    for (size_t i = 0; i < kDigestSize; ++i)
        m_digest[i] = uint8_t(m_state[i >> 2] >> ((3 - (i & 3)) * 8));

    // Leave nothing of the message behind.
    std::memset(m_buffer, 0, sizeof(m_buffer));
    std::memset(m_state, 0, sizeof(m_state));
    std::memset(m_count, 0, sizeof(m_count));
    Transform(m_buffer);
}

void CKrHashSHA1::GetHashHex(std::string& out) const
{
    static const char kHex[] = "0123456789abcdef";
    out.clear();
    out.reserve(kDigestSize * 2);
    for (uint8_t byte : m_digest)
    {
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 15]);
    }
}

CKrHMacSha1::~CKrHMacSha1() = default;

void CKrHMacSha1::HMAC_SHA1(const void* data, size_t dataLength, const void* key, size_t keyLength)
{
    uint8_t keyBlock[kBlockSize] = {};
    if (keyLength > kBlockSize)
    {
        Reset();
        Update(key, keyLength);
        Final();
        std::memcpy(keyBlock, m_digest, kDigestSize);
    }
    else if (keyLength > 0)
    {
        std::memcpy(keyBlock, key, keyLength);
    }

    uint8_t pad[kBlockSize];
    for (size_t i = 0; i < kBlockSize; ++i)
        pad[i] = keyBlock[i] ^ 0x36;
    Reset();
    Update(pad, kBlockSize);
    Update(data, dataLength);
    Final();
    uint8_t inner[kDigestSize];
    std::memcpy(inner, m_digest, kDigestSize);

    for (size_t i = 0; i < kBlockSize; ++i)
        pad[i] = keyBlock[i] ^ 0x5C;
    Reset();
    Update(pad, kBlockSize);
    Update(inner, kDigestSize);
    Final();

    std::memset(keyBlock, 0, sizeof(keyBlock));
    std::memset(pad, 0, sizeof(pad));
}
