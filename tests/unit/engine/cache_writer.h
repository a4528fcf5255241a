#pragma once
// Builds file-list cache bytes for tests, including broken ones.
#include <cstdint>
#include <string>

namespace kr::test
{

class CacheWriter
{
public:
    explicit CacheWriter(uint32_t version = 258, uint32_t count = 0) { U32(version).U32(count); }

    CacheWriter& U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }
    // The name's length word (with `key` in its top byte, bytes stored `key` less), then the fields.
    CacheWriter& Record(const std::string& name, uint64_t lastWrite, uint32_t order, uint32_t size,
                        uint32_t downloadSize, uint8_t key = 0)
    {
        U32(static_cast<uint32_t>(key) << 24 | static_cast<uint32_t>(name.size()));
        for (char c : name)
            m_bytes += static_cast<char>(static_cast<unsigned char>(c) - key);
        return U32(static_cast<uint32_t>(lastWrite))
            .U32(static_cast<uint32_t>(lastWrite >> 32))
            .U32(order)
            .U32(size)
            .U32(0xDEADBEEF)
            .U32(downloadSize);
    }
    // Sets the record count of the header.
    CacheWriter& Count(uint32_t count)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes[4 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
        return *this;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

} // namespace kr::test
