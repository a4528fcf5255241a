#include "install/file_list_cache.h"

#include "install/file.h"

#include <cstring>

namespace
{

class Reader
{
public:
    Reader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t Remaining() const { return m_size - m_pos; }

    bool U32(uint32_t* value)
    {
        if (Remaining() < 4)
            return false;
        const unsigned char* p = m_data + m_pos;
        *value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        m_pos += 4;
        return true;
    }

    bool Bytes(std::string& out, std::size_t n)
    {
        if (Remaining() < n)
            return false;
        out.assign(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return true;
    }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace

bool CKrFileListCache::IsAcceptableName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
    {
        // Separators would leave the directory; the rest cannot be a file name on the target
        // system (":" would even address a stream of another file there).
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    }
    return true;
}

KrCacheResult CKrFileListCache::Parse(const void* data, std::size_t size)
{
    m_version = 0;
    m_records.clear();
    Reader in(static_cast<const unsigned char*>(data), size);
    uint32_t count = 0;
    if (!in.U32(&m_version) || !in.U32(&count))
        return KrCacheResult::Unreadable;
    if (m_version <= kLastUnsupportedVersion)
        return KrCacheResult::TooOld;
    if (count > in.Remaining() / kMinRecordSize)
        return KrCacheResult::Unreadable;

    std::vector<KrCacheRecord> records;
    records.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
    {
        uint32_t word = 0;
        if (!in.U32(&word))
            return KrCacheResult::Unreadable;
        // A length word above 0xFFFFFF carries a key in its top byte that was subtracted from
        // every byte when the string was written.
        uint32_t key = word > 0xFFFFFF ? word >> 24 : 0;
        uint32_t length = word > 0xFFFFFF ? word & 0xFFFFFF : word;
        KrCacheRecord r;
        if (length > kMaxNameLength || !in.Bytes(r.name, length))
            return KrCacheResult::Unreadable;
        for (char& c : r.name)
            c = static_cast<char>(static_cast<unsigned char>(c) + key);
        if (!IsAcceptableName(r.name))
            return KrCacheResult::Unreadable;
        uint32_t low = 0, high = 0, reserved = 0;
        if (!in.U32(&low) || !in.U32(&high) || !in.U32(&r.order) || !in.U32(&r.size) || !in.U32(&reserved) ||
            !in.U32(&r.downloadSize))
            return KrCacheResult::Unreadable;
        r.lastWrite = static_cast<uint64_t>(high) << 32 | low;
        records.push_back(std::move(r));
    }
    m_records = std::move(records);
    return KrCacheResult::Ok;
}

KrCacheResult CKrFileListCache::Load(const std::string& path)
{
    m_version = 0;
    m_records.clear();
    CKrFile file;
    if (!file.Open(path, "rb"))
        return KrCacheResult::Unreadable;
    int size = file.GetSize();
    if (size < 0)
        return KrCacheResult::Unreadable;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (size > 0 && file.Read(&bytes[0], 1, size) != size)
        return KrCacheResult::Unreadable;
    file.Close();
    return Parse(bytes.data(), bytes.size());
}
