#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-1 (FIPS 180). Reset, Update any number of times, Final; then read the digest. After Final the
// object must be Reset before it hashes again.
class CKrHashSHA1
{
public:
    static constexpr size_t kDigestSize = 20;
    static constexpr size_t kBlockSize = 64;

    CKrHashSHA1();
    virtual ~CKrHashSHA1();

    void Reset();
    void Update(const void* data, size_t length);
    // Pads, writes the digest and wipes the working state.
    void Final();
    // Replaces `out` by the digest as 40 lowercase hexadecimal characters.
    void GetHashHex(std::string& out) const;
    const uint8_t* GetDigest() const { return m_digest; }

protected:
    void Transform(const uint8_t* block);

    uint32_t m_state[5];
    uint32_t m_count[2]; // message length in bits, low word first
    uint8_t m_buffer[kBlockSize];
    uint8_t m_digest[kDigestSize];
    uint8_t m_workspace[kBlockSize];
};

// HMAC-SHA1 (RFC 2104, 64-byte block); the MAC is the base's digest.
class CKrHMacSha1 : public CKrHashSHA1
{
public:
    ~CKrHMacSha1() override;
    void HMAC_SHA1(const void* data, size_t dataLength, const void* key, size_t keyLength);
};
