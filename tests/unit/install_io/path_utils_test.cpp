#include "install/path_utils.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second)
{
    uint16_t date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    uint16_t time = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    uint64_t ft = 0;
    EXPECT_TRUE(DosToFileTime(date, time, &ft));
    return ft + static_cast<uint64_t>(second % 2) * 10000000ULL;
}

TEST(PathTextTest, TitleDirectoryAndNormalForm)
{
    EXPECT_EQ("Data", GetFileTitle("C:\\Game\\Data.zip"));
    EXPECT_EQ("C:\\Game", GetDirectoryPart("C:\\Game\\Data.zip"));
    EXPECT_EQ("Data_2", GetFileTitle("x/y\\Data_2.zip"));
    EXPECT_EQ("a", GetFileTitle("a.b.c"));
    EXPECT_EQ("", GetFileTitle("dir\\.hidden"));
    EXPECT_EQ("x/y", GetDirectoryPart("x/y\\Data_2.zip"));
    EXPECT_EQ("plain", GetDirectoryPart("plain"));
    EXPECT_EQ("a\\b\\", NormalizePath("a//b/"));
    EXPECT_EQ("\\a\\b", NormalizePath("\\/\\a\\\\/b"));
}

TEST(DosTimeTest, KnownValuesAndLimits)
{
    // 1970-01-01 in FILETIME, from the definition of both epochs.
    EXPECT_EQ(116444736000000000ULL, UnixTimeToFileTime(0));
    EXPECT_EQ(1700000000, FileTimeToUnixTime(UnixTimeToFileTime(1700000000, 1234)));

    uint16_t date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDos(UnixTimeToFileTime(315532800), &date, &time)); // 1980-01-01 00:00:00
    EXPECT_EQ(0x0021, date);
    EXPECT_EQ(0x0000, time);
    // 2024-02-29 13:45:59 -> seconds field holds 29 (58 s): DOS keeps even seconds, rounded down.
    ASSERT_TRUE(FileTimeToDos(UnixTimeToFileTime(1709214359), &date, &time));
    EXPECT_EQ(((2024 - 1980) << 9) | (2 << 5) | 29, date);
    EXPECT_EQ((13 << 11) | (45 << 5) | 29, time);
    uint64_t back = 0;
    ASSERT_TRUE(DosToFileTime(date, time, &back));
    EXPECT_EQ(UnixTimeToFileTime(1709214358), back);

    EXPECT_FALSE(FileTimeToDos(0, &date, &time));
    EXPECT_FALSE(FileTimeToDos(UnixTimeToFileTime(315532799), &date, &time)) << "1979 has no DOS time";
    EXPECT_FALSE(DosToFileTime(static_cast<uint16_t>((1 << 9) | (2 << 5) | 30), 0, &back)) << "30 February";
    EXPECT_FALSE(DosToFileTime(0x0021, static_cast<uint16_t>(24 << 11), &back)) << "hour 24";
    EXPECT_FALSE(DosToFileTime(0x0000, 0, &back)) << "month 0";
    uint32_t packed = 0;
    ASSERT_TRUE(FileTimeToDosDateTime32(UnixTimeToFileTime(315532800), &packed));
    EXPECT_EQ(0x00210000u, packed);
}

TEST(DosTimeTest, TimesCompareInTwoSecondSteps)
{
    uint64_t even = FileTimeOf(2023, 6, 1, 12, 0, 10);
    EXPECT_EQ(0, CompareDosTimes(even, even + 19999999)) << "10.0 s and 11.99 s share a step";
    EXPECT_EQ(-1, CompareDosTimes(even, even + 20000000));
    EXPECT_EQ(1, CompareDosTimes(even, even - 1));
    EXPECT_EQ(1, CompareFileTimes(even + 1, even));
    // "Unknown" (0) never equals a real time, in either order.
    EXPECT_NE(0, CompareDosTimes(0, even));
    EXPECT_NE(0, CompareDosTimes(even, 0));
    EXPECT_EQ(0, CompareDosTimes(0, 0));
}

TEST(FileStampTest, DosAndLastWriteTimesReachTheFile)
{
    TempDir dir;
    std::string path = dir.Path() + "sub\\stamped.bin"; // the product's separators work here too
    ASSERT_TRUE(kr::os::MakeDirectories(dir.Path() + "sub"));
    WriteWholeFile(dir.Path() + "sub/stamped.bin", "x");
    ASSERT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.Path() + "sub")) << "a directory is not a file";
    EXPECT_FALSE(FileExists(dir.Path() + "nothing"));

    uint64_t access = FileTimeOf(2020, 1, 2, 3, 4, 6);
    ASSERT_TRUE(kr::os::SetFileTimes(path, nullptr, &access, nullptr));
    uint32_t dos = (static_cast<uint32_t>(((2021 - 1980) << 9) | (7 << 5) | 15) << 16) | ((8 << 11) | (30 << 5) | 10);
    ASSERT_TRUE(SetFileTimeFromDos(path, dos, false));
    uint64_t lastWrite = 0, lastAccess = 0;
    ASSERT_TRUE(kr::os::GetFileTimes(path, nullptr, &lastAccess, &lastWrite));
    EXPECT_EQ(FileTimeOf(2021, 7, 15, 8, 30, 20), lastWrite);
    EXPECT_EQ(access, lastAccess) << "the access time is kept";

    uint64_t exact = FileTimeOf(2022, 3, 4, 5, 6, 7) + 1234567;
    ASSERT_TRUE(SetFileLastWriteTime(path, exact));
    ASSERT_TRUE(kr::os::GetFileTimes(path, nullptr, nullptr, &lastWrite));
    EXPECT_EQ(exact, lastWrite);
    EXPECT_FALSE(SetFileLastWriteTime(dir.Path() + "nothing", exact));
    EXPECT_FALSE(SetFileTimeFromDos(path, 0, false)) << "an invalid DOS date stamps nothing";
}

TEST(DirectoryTest, ListingAndSizeOfATree)
{
    TempDir dir;
    WriteWholeFile(dir.Path() + "a.bin", std::string(1000, 'a'));
    WriteWholeFile(dir.Path() + "sub/b.bin", std::string(3000, 'b'));
    WriteWholeFile(dir.Path() + "sub/deeper/c.bin", std::string(5, 'c'));
    WriteWholeFile(dir.Path() + ".hidden/d.bin", std::string(7, 'd'));

    std::vector<DirEntry> entries;
    EXPECT_EQ(1, EnumerateDirectory(dir.Path(), entries));
    auto find = [&](const std::string& name) {
        return std::find_if(entries.begin(), entries.end(), [&](const DirEntry& e) { return e.name == name; });
    };
    ASSERT_NE(entries.end(), find("."));
    ASSERT_NE(entries.end(), find(".."));
    EXPECT_EQ(0u, find(".")->isDirectory);
    EXPECT_EQ(0u, find(".hidden")->isDirectory) << "names beginning with '.' are listed as files";
    EXPECT_EQ(1u, find("sub")->isDirectory);
    EXPECT_EQ(0u, find("sub")->size);
    EXPECT_EQ(1000u, find("a.bin")->size);
    EXPECT_EQ(kr::os::kAttrDirectory, find("sub")->attributes);
    EXPECT_GT(find("a.bin")->lastWrite, UnixTimeToFileTime(1600000000));

    // Without a trailing separator, and twice into the same list: entries are appended.
    std::string noSlash = dir.Path().substr(0, dir.Path().size() - 1);
    size_t before = entries.size();
    EnumerateDirectory(noSlash, entries);
    EXPECT_EQ(2 * before, entries.size());

    std::vector<DirEntry> none;
    EXPECT_EQ(1, EnumerateDirectory(dir.Path() + "missing", none));
    EXPECT_TRUE(none.empty());

    uint64_t mb = 99;
    EXPECT_EQ(4005u, GetDirectorySizeMB(dir.Path(), &mb));
    EXPECT_EQ(0u, mb);
    EXPECT_EQ(3005u, GetDirectorySize(dir.Path() + "sub"));
    EXPECT_EQ(0u, GetDirectorySize(dir.Path() + "missing"));
}

TEST(FileSeamTest, CreateRemoveAndRename)
{
    TempDir dir;
    std::string nested = dir.Path() + "x\\y/z";
    ASSERT_TRUE(kr::os::MakeDirectories(nested));
    EXPECT_TRUE(kr::os::IsDirectory(dir.Path() + "x/y/z/"));
    EXPECT_TRUE(kr::os::MakeDirectory(nested)) << "an existing directory is no error";

    std::string marker = dir.Path() + "x\\m.install";
    EXPECT_TRUE(kr::os::CreateNewFile(marker));
    EXPECT_FALSE(kr::os::CreateNewFile(marker)) << "only when absent";
    uint64_t size = 1;
    ASSERT_TRUE(kr::os::GetFileSize(marker, &size));
    EXPECT_EQ(0u, size);
    EXPECT_FALSE(kr::os::MakeDirectory(marker)) << "a file is in the way";

    std::string moved = dir.Path() + "x\\y\\moved";
    WriteWholeFile(dir.Path() + "x/y/moved", "old");
    ASSERT_TRUE(kr::os::RenameFile(marker, moved));
    EXPECT_EQ("", kr::test::ReadWholeFile(dir.Path() + "x/y/moved")) << "the target is replaced";

    EXPECT_FALSE(kr::os::RemoveFile(dir.Path() + "x\\y\\z")) << "never a directory";
    EXPECT_FALSE(kr::os::RemoveEmptyDirectory(dir.Path() + "x\\y")) << "not empty";
    EXPECT_TRUE(kr::os::RemoveFile(moved));
    EXPECT_TRUE(kr::os::RemoveEmptyDirectory(dir.Path() + "x\\y\\z"));
    EXPECT_TRUE(kr::os::RemoveEmptyDirectory(dir.Path() + "x\\y"));
    EXPECT_FALSE(kr::os::IsDirectory(dir.Path() + "x\\y"));
}

} // namespace
