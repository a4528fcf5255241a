// The download server's file-list cache, from bytes: what the reader accepts has only names that
// stay in their directory, is never more than the bytes can hold, reads the same written back plainly,
// and reads the same from a file as from memory.
#include "install/file_list_cache.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/engine/cache_writer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

bool SameRecords(const CKrFileListCache& a, const CKrFileListCache& b)
{
    if (a.Version() != b.Version() || a.Records().size() != b.Records().size())
        return false;
    for (std::size_t i = 0; i < a.Records().size(); ++i)
    {
        const KrCacheRecord& x = a.Records()[i];
        const KrCacheRecord& y = b.Records()[i];
        if (x.name != y.name || x.lastWrite != y.lastWrite || x.order != y.order || x.size != y.size ||
            x.downloadSize != y.downloadSize)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const std::unique_ptr<kr::test::TempDir> dir(new kr::test::TempDir);

    CKrFileListCache cache;
    const KrCacheResult result = cache.Parse(data, size);
    if (result != KrCacheResult::Ok)
    {
        KR_FUZZ_CHECK(cache.Records().empty());
        KR_FUZZ_CHECK(result == KrCacheResult::Unreadable ||
                      cache.Version() <= CKrFileListCache::kLastUnsupportedVersion);
    }
    else
    {
        KR_FUZZ_CHECK(cache.Version() > CKrFileListCache::kLastUnsupportedVersion);
        KR_FUZZ_CHECK(8 + cache.Records().size() * CKrFileListCache::kMinRecordSize <= size);
        kr::test::CacheWriter plain(cache.Version(), static_cast<uint32_t>(cache.Records().size()));
        for (const KrCacheRecord& r : cache.Records())
        {
            KR_FUZZ_CHECK(CKrFileListCache::IsAcceptableName(r.name));
            KR_FUZZ_CHECK(r.name.find_first_of("/\\:") == std::string::npos && r.name != "..");
            plain.Record(r.name, r.lastWrite, r.order, r.size, r.downloadSize);
        }
        CKrFileListCache reread;
        KR_FUZZ_CHECK(reread.Parse(plain.Bytes().data(), plain.Bytes().size()) == KrCacheResult::Ok);
        KR_FUZZ_CHECK(SameRecords(cache, reread));
    }

    const std::string path = dir->Path() + "list.cch";
    kr::test::WriteWholeFile(path, std::string(reinterpret_cast<const char*>(data), size));
    CKrFileListCache loaded;
    KR_FUZZ_CHECK(loaded.Load(path) == result);
    KR_FUZZ_CHECK(SameRecords(cache, loaded));
    return 0;
}
