#pragma once
// Reader of the file-list cache: the server's list of every installed file with its size and time.
// The cache comes from the network, so every count, length and name in it is checked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct KrCacheRecord
{
    std::string name;       // bare file name
    uint64_t lastWrite = 0; // FILETIME
    uint32_t order = 0;
    uint32_t size = 0;
    uint32_t downloadSize = 0;
};

enum class KrCacheResult
{
    Ok,
    Unreadable, // missing, truncated, or holding counts and names that cannot be right
    TooOld,     // version 257 or less
};

class CKrFileListCache
{
public:
    // Only versions above this one are understood.
    static constexpr uint32_t kLastUnsupportedVersion = 257;
    static constexpr std::size_t kMaxNameLength = 255;
    // Smallest record: length word, one name byte, time, order, size, reserved, download size.
    static constexpr std::size_t kMinRecordSize = 4 + 1 + 8 + 4 * 4;

    KrCacheResult Load(const std::string& path);
    KrCacheResult Parse(const void* data, std::size_t size);

    uint32_t Version() const { return m_version; }
    const std::vector<KrCacheRecord>& Records() const { return m_records; }

    // A name that can only denote one file directly in its directory.
    static bool IsAcceptableName(const std::string& name);

private:
    uint32_t m_version = 0;
    std::vector<KrCacheRecord> m_records;
};
