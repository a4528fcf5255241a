// Archives made by other tools: python3's zipfile (to set the host and attributes exactly) and the
// zip command.
#include <minizip/unzip.h>

#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

using kr::test::ReadWholeFile;
using kr::test::TempDir;
using kr::test::EntryNames;
using kr::test::WriteWholeFile;

namespace {

int RunCommand(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a python3 snippet with `zipPath` as sys.argv[1]; "zipfile" and "z" (ZipFile for writing)
// are ready to use.
void MakeZip(const TempDir& dir, const std::string& zipPath, const std::string& body)
{
    std::string script = dir.Path() + "make_zip.py";
    WriteWholeFile(script, "import sys, zipfile\n"
                           "def entry(name, attr, host, data=b'', date=(2021, 7, 15, 8, 30, 20)):\n"
                           "    i = zipfile.ZipInfo(name, date)\n"
                           "    i.create_system = host\n"
                           "    i.external_attr = attr\n"
                           "    z.writestr(i, data)\n"
                           "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n" +
                               body);
    ASSERT_EQ(0, RunCommand("python3 '" + script + "' '" + zipPath + "'")) << body;
}

TEST(ForeignZipTest, DosAttributesDecideWhatIsExtracted)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "dos.zip";
    MakeZip(dir, zipPath,
            "    entry('Data/', 0x10, 0)\n"
            "    entry('Data/a.bin', 0x20, 0, b'archive bit')\n"
            "    entry('Data/ro.bin', 0x01, 0, b'read-only only')\n"
            "    entry('Data/both.bin', 0x21, 11, b'NTFS host')\n"
            "    entry('Data/dir-flag.bin', 0x30, 14, b'directory wins')\n");
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath));
    ASSERT_TRUE(zip.ExtractAll());
    EXPECT_EQ("archive bit", ReadWholeFile(dir.Path() + "Data/a.bin"));
    EXPECT_EQ("NTFS host", ReadWholeFile(dir.Path() + "Data/both.bin"));
    EXPECT_FALSE(FileExists(dir.Path() + "Data/ro.bin"));
    EXPECT_TRUE(kr::os::IsDirectory(dir.Path() + "Data/dir-flag.bin"));
    EXPECT_EQ(1u, zip.GetExtractStats().entriesSkipped);
    uint64_t lastWrite = 0, expected = 0;
    ASSERT_TRUE(kr::os::GetFileTimes(dir.Path() + "Data/a.bin", nullptr, nullptr, &lastWrite));
    ASSERT_TRUE(DosToFileTime(((2021 - 1980) << 9) | (7 << 5) | 15, (8 << 11) | (30 << 5) | 10, &expected));
    EXPECT_EQ(expected, lastWrite);
}

TEST(ForeignZipTest, UnixArchivesWithoutDirectoryEntries)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "unix.zip";
    // Unix hosts: every entry is a file unless its mode says directory; attribute bits do not count.
    MakeZip(dir, zipPath,
            "    entry('Data/x', 0o100644 << 16, 3, b'x')\n"
            "    entry('Data/deep/er/y', 0o100444 << 16, 3, b'y')\n"
            "    entry('Data/emptydir/', (0o40755 << 16) | 0x10, 3)\n"
            "    entry('Data/plain', 0, 19, b'any host')\n");
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath));
    ASSERT_TRUE(zip.ExtractAll(nullptr, true));
    EXPECT_EQ("x", ReadWholeFile(dir.Path() + "Data/x"));
    EXPECT_EQ("y", ReadWholeFile(dir.Path() + "Data/deep/er/y"));
    EXPECT_EQ("any host", ReadWholeFile(dir.Path() + "Data/plain"));
    EXPECT_TRUE(kr::os::IsDirectory(dir.Path() + "Data/emptydir"));
}

TEST(ForeignZipTest, ZipCommandTreeAndPasswords)
{
    TempDir dir;
    WriteWholeFile(dir.Path() + "src/Data/one.txt", "one");
    WriteWholeFile(dir.Path() + "src/Data/sub/two.bin", std::string(200000, 'z'));
    ASSERT_EQ(0, RunCommand("cd '" + dir.Path() + "src' && zip -qr ../tree.zip Data && zip -qr -P secret ../locked.zip Data"));

    std::string target = dir.Path() + "out";
    ASSERT_TRUE(kr::os::MakeDirectory(target));
    CKrZipFile zip;
    // A password does not disturb entries that are not encrypted.
    ASSERT_TRUE(zip.Open(dir.Path() + "tree.zip", true, "unused", false));
    ASSERT_TRUE(zip.ExtractAll(target.c_str(), true));
    EXPECT_EQ("one", ReadWholeFile(target + "/Data/one.txt"));
    EXPECT_EQ(std::string(200000, 'z'), ReadWholeFile(target + "/Data/sub/two.bin"));
    EXPECT_EQ(0u, zip.GetExtractStats().entriesRefused);

    std::string locked = dir.Path() + "locked";
    ASSERT_TRUE(kr::os::MakeDirectory(locked));
    ASSERT_TRUE(zip.Open(dir.Path() + "locked.zip", true, "wrong", false));
    EXPECT_FALSE(zip.ExtractAll(locked.c_str(), true));
    EXPECT_FALSE(FileExists(locked + "/Data/one.txt")) << "a wrong password leaves nothing behind";
    EXPECT_FALSE(FileExists(locked + "/Data/sub/two.bin"));
    ASSERT_TRUE(zip.Open(dir.Path() + "locked.zip"));
    EXPECT_FALSE(zip.ExtractAll(locked.c_str(), true)) << "no password at all";
    EXPECT_FALSE(FileExists(locked + "/Data/one.txt"));

    // Debian's libminizip is built without decryption; the Windows build has it.
    unzFile probe = unzOpen64((dir.Path() + "locked.zip").c_str());
    ASSERT_NE(nullptr, probe);
    int opened = unzOpenCurrentFilePassword(probe, "secret");
    unzClose(probe);
    if (opened == UNZ_PARAMERROR)
        GTEST_SKIP() << "this minizip cannot decrypt";
    ASSERT_TRUE(zip.Open(dir.Path() + "locked.zip", true, "secret", false));
    ASSERT_TRUE(zip.ExtractAll(locked.c_str(), true));
    EXPECT_EQ(std::string(200000, 'z'), ReadWholeFile(locked + "/Data/sub/two.bin"));
}

TEST(ForeignZipTest, TraversalNamesFromAnotherToolAreRefused)
{
    TempDir dir;
    std::string zipPath = dir.Path() + "evil.zip";
    MakeZip(dir, zipPath,
            "    entry('../evil', 0x20, 0, b'e')\n"
            "    entry('/abs', 0x20, 0, b'e')\n"
            "    entry('C:/x', 0x20, 0, b'e')\n"
            "    entry('a/../../b', 0o100644 << 16, 3, b'e')\n"
            "    entry('..\\\\win', 0o100644 << 16, 3, b'e')\n"
            "    entry('../dir/', (0o40755 << 16) | 0x10, 3)\n"
            "    entry('fine.txt', 0x20, 0, b'fine')\n");
    std::string target = dir.Path() + "t/";
    ASSERT_TRUE(kr::os::MakeDirectory(target));
    CKrZipFile zip;
    ASSERT_TRUE(zip.Open(zipPath));
    EXPECT_FALSE(zip.ExtractAll(target.c_str(), true));
    EXPECT_EQ(6u, zip.GetExtractStats().entriesRefused);
    EXPECT_EQ((std::vector<std::string>{"fine.txt"}), EntryNames(target));
    EXPECT_EQ((std::vector<std::string>{"evil.zip", "make_zip.py", "t"}), EntryNames(dir.Path()));
}

} // namespace
