#include "install/file_list_cache.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/engine/cache_writer.h"

#include <gtest/gtest.h>

using kr::test::CacheWriter;

namespace
{

KrCacheResult ParseBytes(CKrFileListCache& cache, const std::string& bytes)
{
    return cache.Parse(bytes.data(), bytes.size());
}

} // namespace

TEST(FileListCache, ReadsRecordsWithTheirFieldsInFileOrder)
{
    CacheWriter w(258, 2);
    w.Record("b.bin", 0x01D2345678ABCDEFull, 7, 1000, 400).Record("a.pak", 0x0000000100000002ull, 3, 5, 9);
    CKrFileListCache cache;
    ASSERT_EQ(ParseBytes(cache, w.Bytes()), KrCacheResult::Ok);
    EXPECT_EQ(cache.Version(), 258u);
    ASSERT_EQ(cache.Records().size(), 2u);
    const KrCacheRecord& r = cache.Records()[0];
    EXPECT_EQ(r.name, "b.bin");
    EXPECT_EQ(r.lastWrite, 0x01D2345678ABCDEFull);
    EXPECT_EQ(r.order, 7u);
    EXPECT_EQ(r.size, 1000u);
    EXPECT_EQ(r.downloadSize, 400u);
    EXPECT_EQ(cache.Records()[1].name, "a.pak");
    EXPECT_EQ(cache.Records()[1].lastWrite, 0x0000000100000002ull);
}

TEST(FileListCache, KeyedLengthWordRestoresTheBytes)
{
    // 0x06000005: five bytes, each stored six less than its value.
    CacheWriter w(300, 1);
    w.Record("hello", 1, 0, 1, 1, 6);
    EXPECT_EQ(w.Bytes().substr(8, 4), std::string("\x05\x00\x00\x06", 4));
    EXPECT_EQ(w.Bytes().substr(12, 5), "b_ffi");
    CKrFileListCache cache;
    ASSERT_EQ(ParseBytes(cache, w.Bytes()), KrCacheResult::Ok);
    EXPECT_EQ(cache.Records()[0].name, "hello");
}

TEST(FileListCache, VersionsUpTo257AreTooOld)
{
    CKrFileListCache cache;
    EXPECT_EQ(ParseBytes(cache, CacheWriter(257, 0).Bytes()), KrCacheResult::TooOld);
    EXPECT_EQ(ParseBytes(cache, CacheWriter(0, 0).Bytes()), KrCacheResult::TooOld);
    EXPECT_EQ(ParseBytes(cache, CacheWriter(258, 0).Bytes()), KrCacheResult::Ok);
    // The comparison is unsigned: a version with the top bit set is new, not negative.
    EXPECT_EQ(ParseBytes(cache, CacheWriter(0x80000000u, 0).Bytes()), KrCacheResult::Ok);
}

TEST(FileListCache, TruncatedOrOversizedInputIsUnreadable)
{
    CKrFileListCache cache;
    EXPECT_EQ(ParseBytes(cache, ""), KrCacheResult::Unreadable);
    EXPECT_EQ(ParseBytes(cache, CacheWriter(258, 0).Bytes().substr(0, 7)), KrCacheResult::Unreadable);

    CacheWriter one(258, 1);
    one.Record("x.bin", 5, 0, 1, 1);
    // Every cut inside the record is noticed.
    for (size_t cut = 8; cut < one.Bytes().size(); ++cut)
        EXPECT_EQ(ParseBytes(cache, one.Bytes().substr(0, cut)), KrCacheResult::Unreadable) << cut;

    // A count that cannot fit the file is refused before any record is read or memory reserved.
    CacheWriter huge(258, 0xFFFFFFFFu);
    huge.Record("x.bin", 5, 0, 1, 1);
    EXPECT_EQ(ParseBytes(cache, huge.Bytes()), KrCacheResult::Unreadable);
    CacheWriter twoClaimed = one;
    twoClaimed.Count(2);
    EXPECT_EQ(ParseBytes(cache, twoClaimed.Bytes()), KrCacheResult::Unreadable);
    EXPECT_TRUE(cache.Records().empty());
}

TEST(FileListCache, NamesThatAreNotOneFileAreRefused)
{
    const std::string bad[] = {"",     ".",   "..",  "a\\b",
                               "../x", "a/b", "c:x", std::string("a\0b", 3),
                               "x\ny", "a*",  "a?b", std::string(256, 'n')};
    for (const std::string& name : bad)
    {
        CacheWriter w(258, 2);
        w.Record("good.bin", 1, 0, 1, 1).Record(name, 1, 0, 1, 1);
        CKrFileListCache cache;
        EXPECT_EQ(ParseBytes(cache, w.Bytes()), KrCacheResult::Unreadable) << name;
        EXPECT_TRUE(cache.Records().empty());
    }
    CacheWriter longest(258, 1);
    longest.Record(std::string(255, 'n'), 1, 0, 1, 1);
    CKrFileListCache cache;
    EXPECT_EQ(ParseBytes(cache, longest.Bytes()), KrCacheResult::Ok);
    // A length over 255 hidden behind a key is still over 255.
    CacheWriter keyed(258, 1);
    keyed.Record(std::string(300, 'n'), 1, 0, 1, 1, 3);
    EXPECT_EQ(ParseBytes(cache, keyed.Bytes()), KrCacheResult::Unreadable);
}

TEST(FileListCache, LoadReadsAFileAndReportsAMissingOneAsUnreadable)
{
    kr::test::TempDir dir;
    CacheWriter w(258, 1);
    w.Record("x.bin", 42, 1, 2, 3);
    kr::test::WriteWholeFile(dir.Path() + "Data.cch", w.Bytes());
    CKrFileListCache cache;
    ASSERT_EQ(cache.Load(dir.Path() + "Data.cch"), KrCacheResult::Ok);
    EXPECT_EQ(cache.Records()[0].lastWrite, 42u);
    EXPECT_EQ(cache.Load(dir.Path() + "missing.cch"), KrCacheResult::Unreadable);
}
