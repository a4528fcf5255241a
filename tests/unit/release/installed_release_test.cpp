// The last installed release number: written and read back, every damage seen as damage (never as
// another number), and the rule that refuses a rollback.
#include "install/installed_release.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

using kr::test::ReadWholeFile;
using kr::test::TempDir;
using kr::test::WriteWholeFile;

namespace {

TEST(InstalledReleaseTest, WrittenNumbersReadBackAndReplaceEachOther)
{
    TempDir dir;
    EXPECT_EQ(KrInstalledRelease::None, ReadInstalledRelease(dir.Path(), "Data").state);
    ASSERT_TRUE(WriteInstalledRelease(dir.Path(), "Data", 12));
    KrInstalledRelease last = ReadInstalledRelease(dir.Path(), "Data");
    EXPECT_EQ(KrInstalledRelease::Known, last.state);
    EXPECT_EQ(12u, last.release);

    // Without the trailing separator, the same file.
    std::string bare = dir.Path().substr(0, dir.Path().size() - 1);
    ASSERT_TRUE(WriteInstalledRelease(bare, "Data", 999999999999999999ull));
    EXPECT_EQ(999999999999999999ull, ReadInstalledRelease(dir.Path(), "Data").release);
    EXPECT_EQ(KrInstalledRelease::None, ReadInstalledRelease(dir.Path(), "PluginData").state) << "one per package";
    EXPECT_EQ((std::vector<std::string>{"Data.release"}), kr::test::EntryNames(dir.Path())) << "no temporary left";

    EXPECT_FALSE(WriteInstalledRelease(dir.Path() + "missing\\", "Data", 3));
    EXPECT_FALSE(WriteInstalledRelease(dir.Path(), "Data", 0));
    EXPECT_EQ(999999999999999999ull, ReadInstalledRelease(dir.Path(), "Data").release) << "a failed write changes nothing";
}

TEST(InstalledReleaseTest, EveryDamageReadsAsDamagedNeverAsANumber)
{
    TempDir dir;
    ASSERT_TRUE(WriteInstalledRelease(dir.Path(), "Data", 120));
    const std::string path = InstalledReleasePath(dir.Path(), "Data");
    const std::string good = ReadWholeFile(path);
    for (size_t i = 0; i < good.size(); ++i)
    {
        std::string changed = good;
        changed[i] ^= 0x01; // "120" -> "121", "020", ...
        WriteWholeFile(path, changed);
        EXPECT_EQ(KrInstalledRelease::Damaged, ReadInstalledRelease(dir.Path(), "Data").state) << "byte " << i;
    }
    for (size_t size = 0; size < good.size(); ++size)
    {
        WriteWholeFile(path, good.substr(0, size)); // "release 120" -> "release 12"
        EXPECT_EQ(KrInstalledRelease::Damaged, ReadInstalledRelease(dir.Path(), "Data").state) << "cut at " << size;
    }
    for (const std::string& other : {good + "\n", good + good, std::string(100000, 'x'),
                                     std::string("kr-installed-release 1\nrelease 120\n")})
    {
        WriteWholeFile(path, other);
        EXPECT_EQ(KrInstalledRelease::Damaged, ReadInstalledRelease(dir.Path(), "Data").state) << other.substr(0, 40);
    }
    kr::os::RemoveFile(path);
    ASSERT_TRUE(kr::os::MakeDirectory(path));
    EXPECT_EQ(KrInstalledRelease::Damaged, ReadInstalledRelease(dir.Path(), "Data").state) << "a directory";
    EXPECT_FALSE(WriteInstalledRelease(dir.Path(), "Data", 121)) << "cannot replace a directory";
}

TEST(InstalledReleaseTest, OnlyALowerNumberThanTheKnownOneIsARollback)
{
    KrInstalledRelease known;
    known.state = KrInstalledRelease::Known;
    known.release = 7;
    EXPECT_EQ(KrReleaseCheck::Rollback, CheckReleaseNumber(6, known));
    EXPECT_EQ(KrReleaseCheck::Rollback, CheckReleaseNumber(1, known));
    EXPECT_EQ(KrReleaseCheck::Accept, CheckReleaseNumber(7, known)) << "a repair or a second run";
    EXPECT_EQ(KrReleaseCheck::Accept, CheckReleaseNumber(8, known));
    EXPECT_EQ(KrReleaseCheck::Accept, CheckReleaseNumber(1, KrInstalledRelease()));
    KrInstalledRelease damaged;
    damaged.state = KrInstalledRelease::Damaged;
    EXPECT_EQ(KrReleaseCheck::Accept, CheckReleaseNumber(1, damaged));
}

} // namespace
