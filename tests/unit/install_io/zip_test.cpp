// Archives written by CKrZipFile itself, so these tests run on Windows too.
#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>

using kr::test::ReadWholeFile;
using kr::test::TempDir;
using kr::test::EntryNames;
using kr::test::WriteWholeFile;

namespace {

// 2021-07-15 08:30:20, packed DOS date and time.
constexpr uint32_t kDos = (static_cast<uint32_t>(((2021 - 1980) << 9) | (7 << 5) | 15) << 16) | ((8 << 11) | (30 << 5) | 10);

std::string Pattern(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Half random, half repetitive: deflate has something to do either way.
        data[i] = static_cast<char>(i % 1024 < 512 ? (x & 0xFF) : ('a' + i % 7));
    }
    return data;
}

uint64_t DosFileTime(uint32_t dos)
{
    uint64_t ft = 0;
    DosToFileTime(static_cast<uint16_t>(dos >> 16), static_cast<uint16_t>(dos & 0xFFFF), &ft);
    return ft;
}

TEST(ZipTest, WindowsStyleArchiveExtractsBesideItself)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "pkg.zip";
    std::string payload = Pattern(300000, 1);
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        ASSERT_TRUE(zip.AddDirectory("Data", kDos));
        ASSERT_TRUE(zip.AddFileFromMemory("Data/a.bin", payload.data(), payload.size(), kDos, 6));
        ASSERT_TRUE(zip.AddFileFromMemory("Data\\b.txt", "bee", 3, kDos, 0));
        EXPECT_EQ(1, zip.Close());
    }
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath));
    ASSERT_TRUE(zip.ExtractAll());
    EXPECT_EQ(payload, ReadWholeFile(dir.Path() + "Data/a.bin"));
    EXPECT_EQ("bee", ReadWholeFile(dir.Path() + "Data/b.txt"));
    uint64_t lastWrite = 0;
    ASSERT_TRUE(kr::os::GetFileTimes(dir.Path() + "Data/a.bin", nullptr, nullptr, &lastWrite));
    EXPECT_EQ(DosFileTime(kDos), lastWrite) << "the entry's DOS time, read as UTC";
    EXPECT_EQ(2u, zip.GetExtractStats().filesWritten);
    EXPECT_EQ(payload.size() + 3, zip.GetExtractStats().bytesWritten);
    EXPECT_EQ(1, zip.Close());
    EXPECT_FALSE(zip.ExtractAll()) << "nothing open";
}

// An archive kept as byte ranges in separate files (a download in pieces) reads as the archive they
// make up, whichever entry or directory record a cut falls into; a missing or shortened part fails.
TEST(ZipTest, AnArchiveInPartsExtractsAsTheWholeOne)
{
    TempDir dir;
    const std::string zipPath = dir.Path() + "pkg.zip";
    const std::string big = Pattern(900000, 7);
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        ASSERT_TRUE(zip.AddFileFromMemory("big.bin", big.data(), big.size(), kDos, 6));
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(zip.AddFileFromMemory("small/" + std::to_string(i) + ".txt", big.data() + i, 100 + i, kDos,
                                              i % 2 ? 6 : 0));
        EXPECT_EQ(1, zip.Close());
    }
    const std::string whole = ReadWholeFile(zipPath);
    // Cuts inside the first entry's data, among the small entries and inside the central directory.
    const size_t cuts[] = {0, 1000, whole.size() / 2, whole.size() - 700, whole.size() - 30, whole.size()};
    std::vector<std::string> parts;
    for (size_t i = 0; i + 1 < sizeof cuts / sizeof cuts[0]; ++i)
    {
        parts.push_back(dir.Path() + "pkg.zip." + std::to_string(i));
        WriteWholeFile(parts.back(), whole.substr(cuts[i], cuts[i + 1] - cuts[i]));
    }
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.OpenParts(parts));
        ASSERT_TRUE(zip.ExtractAll((dir.Path() + "out").c_str(), true));
        EXPECT_EQ(21u, zip.GetExtractStats().filesWritten);
    }
    EXPECT_EQ(big, ReadWholeFile(dir.Path() + "out/big.bin"));
    EXPECT_EQ(big.substr(19, 119), ReadWholeFile(dir.Path() + "out/small/19.txt"));

    // Without the piece that holds the end of the first entry, the archive is not what it was.
    std::vector<std::string> missing = parts;
    missing.erase(missing.begin() + 1);
    {
        CKrZipFile zip;
        bool extracted = zip.OpenParts(missing) && zip.ExtractAll((dir.Path() + "out2").c_str(), true);
        EXPECT_FALSE(extracted);
    }
    missing.push_back(dir.Path() + "none");
    CKrZipFile zip;
    EXPECT_FALSE(zip.OpenParts(missing)) << "a part that is gone";
}

TEST(ZipTest, FilesFromDiskRoundTripIntoAnotherDirectory)
{
    TempDir dir;
    std::string big = Pattern(3 * 1024 * 1024 + 17, 2);
    WriteWholeFile(dir.Path() + "src/big.bin", big);
    WriteWholeFile(dir.Path() + "src/empty.bin", "");
    std::string zipPath = dir.Path() + "round.zip";
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        ASSERT_TRUE(zip.AddFileFromDisk("deep/er/Big.bin", dir.Path() + "src/big.bin", kDos, 6));
        ASSERT_TRUE(zip.AddFileFromDisk("empty.bin", dir.Path() + "src/empty.bin", kDos, 6));
        EXPECT_FALSE(zip.AddFileFromDisk("missing.bin", dir.Path() + "src/missing.bin", kDos, 6));
    }
    {
        // Appending keeps what is there.
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, true));
        ASSERT_TRUE(zip.AddFileFromMemory("later.txt", "later", 5, kDos, 9));
    }
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(big.data()), static_cast<uInt>(big.size())),
              CKrZipFile::GetZipEntryCrc(zipPath, "DEEP/ER/big.BIN"));
    EXPECT_EQ(0u, CKrZipFile::GetZipEntryCrc(zipPath, "nope"));
    EXPECT_EQ(0u, CKrZipFile::GetZipEntryCrc(dir.Path() + "missing.zip", "deep/er/Big.bin"));

    std::string target = dir.Path() + "target";
    ASSERT_TRUE(kr::os::MakeDirectory(target));
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath, true, nullptr, false));
    ASSERT_TRUE(zip.ExtractAll(target.c_str(), true));
    EXPECT_EQ(big, ReadWholeFile(target + "/deep/er/Big.bin")) << "directories made without directory entries";
    EXPECT_EQ("", ReadWholeFile(target + "/empty.bin"));
    EXPECT_TRUE(FileExists(target + "/empty.bin"));
    EXPECT_EQ("later", ReadWholeFile(target + "/later.txt"));
    EXPECT_EQ((std::vector<std::string>{"round.zip", "src", "target"}), EntryNames(dir.Path()));
}

TEST(ZipTest, EntriesThatWouldLeaveTheTargetAreNeverWritten)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "evil.zip";
    const char* bad[] = {"../evil", "/abs", "\\abs2", "C:/x", "C:x", "a/../../b", "a\\..\\..\\c", "...\\d",
                         "ok/.. /e", "stream.txt:ads", ".."};
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        for (const char* name : bad)
            ASSERT_TRUE(zip.AddFileFromMemory(name, "x", 1, kDos, 0)) << name;
        ASSERT_TRUE(zip.AddDirectory("../outside-dir", kDos));
        ASSERT_TRUE(zip.AddFileFromMemory("good/file.txt", "good", 4, kDos, 0));
    }
    std::string target = dir.Path() + "inner/target/";
    ASSERT_TRUE(kr::os::MakeDirectories(target));
    for (bool launcherStyle : {false, true})
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath));
        bool ok = launcherStyle ? (zip.SetReplaceBackslashes(true), zip.ExtractAll(target.c_str(), true))
                                : zip.ExtractAll(target.c_str(), true);
        EXPECT_FALSE(ok) << "refused entries are reported";
        EXPECT_EQ(sizeof bad / sizeof bad[0] + 1, zip.GetExtractStats().entriesRefused);
        EXPECT_EQ("good", ReadWholeFile(target + "good/file.txt")) << "the sound entries are still extracted";
        EXPECT_EQ((std::vector<std::string>{"evil.zip", "inner"}), EntryNames(dir.Path()));
        EXPECT_EQ((std::vector<std::string>{"target"}), EntryNames(dir.Path() + "inner"));
        EXPECT_EQ((std::vector<std::string>{"good"}), EntryNames(target));
    }
    for (const char* name : bad)
        EXPECT_FALSE(CKrZipFile::IsSafeEntryName(name)) << name;
    for (const char* name : {"a", "a/b/c.txt", "a\\b", ".hidden", "a/./b", "x..y", "dir/"})
        EXPECT_TRUE(CKrZipFile::IsSafeEntryName(name)) << name;
}

TEST(ZipTest, DamagedEntryIsRemovedAndStopsTheExtraction)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "damaged.zip";
    std::string marker = "<<payload-that-gets-damaged>>" + Pattern(5000, 3);
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        ASSERT_TRUE(zip.AddFileFromMemory("first.txt", "fine", 4, kDos, 0));
        ASSERT_TRUE(zip.AddFileFromMemory("Data/x.bin", marker.data(), marker.size(), kDos, 0)); // stored
        ASSERT_TRUE(zip.AddFileFromMemory("after.txt", "never", 5, kDos, 0));
    }
    std::string bytes = ReadWholeFile(zipPath);
    size_t at = bytes.find("<<payload");
    ASSERT_NE(std::string::npos, at);
    bytes[at + 2] ^= 0x20;
    WriteWholeFile(zipPath, bytes);

    // An older copy stamped "up to date" must not survive as if it were the new one.
    WriteWholeFile(dir.Path() + "Data/x.bin", "old contents");
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath));
    EXPECT_FALSE(zip.ExtractAll(nullptr, true));
    EXPECT_FALSE(FileExists(dir.Path() + "Data/x.bin"));
    EXPECT_EQ("fine", ReadWholeFile(dir.Path() + "first.txt"));
    EXPECT_FALSE(FileExists(dir.Path() + "after.txt"));
    EXPECT_EQ(1u, zip.GetExtractStats().filesWritten);
}

TEST(ZipTest, EmptyArchivesUnreadableFilesAndMissingDirectories)
{
    TempDir dir;
    std::string empty = dir.Path() + "empty.zip";
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(empty, false, nullptr, false));
    }
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(empty));
    EXPECT_TRUE(zip.ExtractAll());
    EXPECT_EQ((std::vector<std::string>{"empty.zip"}), EntryNames(dir.Path()));

    WriteWholeFile(dir.Path() + "junk.zip", "this is not a zip archive at all, just text");
    EXPECT_FALSE(zip.Open(dir.Path() + "junk.zip"));
    EXPECT_FALSE(zip.Open(dir.Path() + "missing.zip"));
    EXPECT_FALSE(zip.IsOpenForReading());

    // Without directory creation a file whose directory is missing cannot be written: reported.
    std::string nested = dir.Path() + "nested.zip";
    {
        CKrZipFile writer;
        ASSERT_TRUE(writer.Open(nested, false, nullptr, false));
        ASSERT_TRUE(writer.AddFileFromMemory("sub/file.txt", "s", 1, kDos, 6));
        ASSERT_TRUE(writer.AddFileFromMemory("top.txt", "t", 1, kDos, 6));
    }
    ASSERT_TRUE(zip.Open(nested));
    EXPECT_FALSE(zip.ExtractAll(nullptr, false));
    EXPECT_EQ("t", ReadWholeFile(dir.Path() + "top.txt"));
    EXPECT_FALSE(kr::os::IsDirectory(dir.Path() + "sub"));
    ASSERT_TRUE(kr::os::MakeDirectory(dir.Path() + "sub"));
    EXPECT_TRUE(zip.ExtractAll(nullptr, false));
    EXPECT_EQ("s", ReadWholeFile(dir.Path() + "sub/file.txt"));
}

} // namespace

namespace {

std::string ThreeEntryZip(const TempDir& dir)
{
    std::string zipPath = dir.Path() + "three.zip";
    CKrZipFile zip;
    EXPECT_TRUE(zip.Open(zipPath, false, nullptr, false));
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        EXPECT_TRUE(zip.AddFileFromMemory(name, name, 5, kDos, 6));
    zip.Close();
    return ReadWholeFile(zipPath);
}

} // namespace

// minizip stopping early in the central directory must not pass for a complete
// extraction (the entries after the damage would be missing without anyone knowing).
TEST(ZipTest, ACentralDirectoryThatEndsEarlyFailsAsDamaged)
{
    TempDir dir;
    std::string bytes = ThreeEntryZip(dir);
    // The second central directory header loses its signature.
    size_t first = bytes.find(std::string("PK\x01\x02", 4));
    size_t second = bytes.find(std::string("PK\x01\x02", 4), first + 4);
    ASSERT_NE(second, std::string::npos);
    bytes[second + 3] = 'X';
    WriteWholeFile(dir.Path() + "damaged.zip", bytes);
    for (bool createDirectories : {true, false})
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(dir.Path() + "damaged.zip", true, nullptr, false));
        EXPECT_FALSE(zip.ExtractAll((dir.Path() + "out").c_str(), createDirectories));
        EXPECT_TRUE(zip.GetExtractStats().damaged);
    }
}

TEST(ZipTest, AClearedStopFlagEndsTheExtractionBeforeTheNextBlock)
{
    TempDir dir;
    WriteWholeFile(dir.Path() + "three.zip", ThreeEntryZip(dir));
    std::atomic<bool> running{false};
    CKrZipFile zip;
    zip.SetStopFlag(&running);
    ASSERT_TRUE(zip.Open(dir.Path() + "three.zip", true, nullptr, false));
    EXPECT_FALSE(zip.ExtractAll((dir.Path() + "out\\").c_str(), true));
    EXPECT_TRUE(zip.WasStopped());
    EXPECT_FALSE(zip.GetExtractStats().damaged);
    // The file begun is not left behind as if it were complete.
    EXPECT_TRUE(EntryNames(dir.Path() + "out").empty());

    running = true;
    zip.SetRecordWrittenFiles(true);
    ASSERT_TRUE(zip.ExtractAll((dir.Path() + "out\\").c_str(), true));
    EXPECT_FALSE(zip.WasStopped());
    ASSERT_EQ(zip.GetWrittenFiles().size(), 3u);
    EXPECT_EQ(ReadWholeFile(kr::os::NativePath(zip.GetWrittenFiles()[1])), std::string("b.bin", 5));
}

TEST(ZipTest, ZeroBlocksBecomeHolesAndReadBackAsZeros)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "zeros.zip";
    std::string payload(3 << 20, '\0');
    payload[100] = 'x';
    payload[(2 << 20) + 5] = 'y';
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(zipPath, false, nullptr, false));
        ASSERT_TRUE(zip.AddFileFromMemory("zeros.bin", payload.data(), payload.size(), kDos, 6));
        ASSERT_TRUE(zip.AddFileFromMemory("tail.bin", payload.data(), 1 << 20, kDos, 6));
        zip.Close();
    }
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath));
    ASSERT_TRUE(zip.ExtractAll());
    EXPECT_TRUE(ReadWholeFile(dir.Path() + "zeros.bin") == payload);
    // A file that ends in zeros keeps its whole length.
    EXPECT_TRUE(ReadWholeFile(dir.Path() + "tail.bin") == payload.substr(0, 1 << 20));
}
