#include "installhelper/helper_logic.h"

#include "platform/file_links.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace kr::helper;

namespace
{

// A temp dir path without its trailing separator, as the base folders come.
std::string Base(const kr::test::TempDir& dir)
{
    std::string p = dir.Path();
    p.pop_back();
    return p;
}

bool Touch(const std::string& path)
{
    std::FILE* f = kr::os::OpenFile(path, "wb");
    if (!f)
        return false;
    std::fputs("x", f);
    std::fclose(f);
    return true;
}

bool Exists(const std::string& path)
{
    kr::os::FileInfo info;
    return kr::os::GetFileInfo(path, info);
}

} // namespace

TEST(HelperStatus, MapsEveryEngineSituation)
{
    struct Case
    {
        int state, errorCode;
        float done, total;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 0.0f, 0.0f, 0},    // nothing measured: no division by zero
        {5, 0, 3.0f, 0.0f, 0},    //
        {5, 0, 3.0f, -1.0f, 0},   //
        {7, 1, 5.0f, 10.0f, -1},  // server unreachable
        {7, 2, 0.0f, 0.0f, -1},   // cache download failed
        {7, 3, 0.0f, 0.0f, -2},   //
        {7, 5, 10.0f, 10.0f, -2}, //
        {6, 0, 0.0f, 0.0f, 100},  // finished with nothing to do
        {6, 0, 3.0f, 10.0f, 100}, //
        {5, 0, 5.0f, 10.0f, 50},  //
        {2, 0, 1.0f, 3.0f, 33},   // truncated
        {5, 0, 9.99f, 10.0f, 99}, //
        {5, 0, 10.0f, 10.0f, 99}, // done but not finished: never 100
        {5, 0, 12.0f, 10.0f, 99}, //
        {5, 0, 3e9f, 1e-9f, 99},  // a ratio beyond any integer
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, StatusFromEngine(c.state, c.errorCode, c.done, c.total))
            << "state " << c.state << " error " << c.errorCode << " " << c.done << "/" << c.total;
}

TEST(HelperSettings, FindsTheFirstMatchingDashToken)
{
    EXPECT_EQ("abc", GetSetting("-Foo=1 -downloadserver=abc", "DownloadServer"));
    EXPECT_EQ("a=b", GetSetting("-DownloadServer=a=b", "DownloadServer"));
    EXPECT_EQ("", GetSetting("DownloadServer=x", "DownloadServer"));
    EXPECT_EQ("first",
              GetSetting("   -A=1    -DownloadServer=first  -DownloadServer=second ", "DownloadServer"));
    // Only the blank separates: a line break stays inside the value.
    EXPECT_EQ("x\ny", GetSetting("-DownloadServer=x\ny -B=2", "DownloadServer"));
    EXPECT_EQ("", GetSetting("-DownloadServerX=1 -Download=2", "DownloadServer"));
    // A token without "=" is skipped; the "=" of the next token does not count for it.
    EXPECT_EQ("ok", GetSetting("-DownloadServer -DownloadServer=ok", "DownloadServer"));
    EXPECT_EQ("", GetSetting("-DownloadServer =x", "DownloadServer"));
    EXPECT_EQ("", GetSetting("", "DownloadServer"));
}

TEST(HelperUninstallCheck, AcceptsOnlyTheProductFolder)
{
    EXPECT_TRUE(IsProductFolderRoot("C:\\Users\\Public\\QuorvaleOnline\\", kProductFolder));
    EXPECT_TRUE(IsProductFolderRoot("C:\\Users\\Public\\QuorvaleOnline.old\\", kProductFolder));
    EXPECT_TRUE(IsProductFolderRoot("/home/u/QuorvaleOnline/", kProductFolder));
    EXPECT_FALSE(IsProductFolderRoot("C:\\Users\\Public\\QuorvaleOnline2\\", kProductFolder));
    EXPECT_FALSE(IsProductFolderRoot("C:\\Users\\Public\\quorvaleonline\\", kProductFolder));
    EXPECT_FALSE(IsProductFolderRoot("C:\\QuorvaleOnline\\Data\\", kProductFolder));
    EXPECT_FALSE(IsProductFolderRoot("C:\\Windows\\", kProductFolder));
    EXPECT_FALSE(IsProductFolderRoot("C:\\", kProductFolder));
    EXPECT_FALSE(IsProductFolderRoot("", kProductFolder));
}

TEST(HelperDirectories, FreshMachineInstallsUnderTheSharedBaseAndFindsItAgain)
{
    kr::test::TempDir shared, user;
    InstallDirectories dirs;
    ASSERT_TRUE(ResolveInstallDirectories(kProductFolder, Base(shared), Base(user), dirs));
    EXPECT_EQ(Base(shared) + "\\QuorvaleOnline\\", dirs.installRoot);
    EXPECT_EQ(dirs.installRoot + "Data\\", dirs.installDataDir);
    EXPECT_EQ(Base(user) + "\\QuorvaleOnline\\", dirs.userDataDir);
    EXPECT_TRUE(kr::os::IsDirectory(dirs.installDataDir));
    EXPECT_TRUE(kr::os::IsDirectory(dirs.userDataDir));

    InstallDirectories again;
    ASSERT_TRUE(ResolveInstallDirectories(kProductFolder, Base(shared), Base(user), again));
    EXPECT_EQ(dirs.installRoot, again.installRoot);
    EXPECT_EQ(dirs.userDataDir, again.userDataDir);
}

TEST(HelperDirectories, ACompleteUserInstallationWinsAndAnUnwritableSharedBaseFallsBack)
{
    kr::test::TempDir shared, user;
    // Shared base that cannot be written: its parent does not exist.
    std::string unwritable = Base(shared) + "\\missing\\deeper";
    InstallDirectories dirs;
    ASSERT_TRUE(ResolveInstallDirectories(kProductFolder, unwritable, Base(user), dirs));
    EXPECT_EQ(Base(user) + "\\QuorvaleOnline\\", dirs.installRoot);
    EXPECT_TRUE(kr::os::IsDirectory(dirs.installDataDir));
    EXPECT_FALSE(Exists(unwritable));

    // Now the user base holds a whole installation: it is taken before the (writable) shared base.
    InstallDirectories found;
    ASSERT_TRUE(ResolveInstallDirectories(kProductFolder, Base(shared), Base(user), found));
    EXPECT_EQ(dirs.installRoot, found.installRoot);
    EXPECT_FALSE(Exists(Base(shared) + "\\QuorvaleOnline"));
}

TEST(HelperDirectories, WithoutAUserBaseNothingIsCreatedAtTheRoot)
{
    kr::test::TempDir shared, user;
    InstallDirectories dirs;
    EXPECT_FALSE(ResolveInstallDirectories(kProductFolder, Base(shared), "", dirs));
    EXPECT_FALSE(Exists(Base(shared) + "\\QuorvaleOnline"));
    ASSERT_TRUE(ResolveInstallDirectories(kProductFolder, "", Base(user), dirs));
    EXPECT_EQ(Base(user) + "\\QuorvaleOnline\\", dirs.installRoot);
}

TEST(HelperRemoveTree, RemovesEverythingButStopsAtDotNames)
{
    kr::test::TempDir temp;
    std::string root = Base(temp) + "\\QuorvaleOnline";
    ASSERT_TRUE(kr::os::MakeDirectories(root + "\\Data\\sub\\deep"));
    ASSERT_TRUE(Touch(root + "\\a.bin"));
    ASSERT_TRUE(Touch(root + "\\Data\\b.bin"));
    ASSERT_TRUE(Touch(root + "\\Data\\sub\\deep\\c.bin"));
    EXPECT_TRUE(RemoveDirectoryTree(root));
    EXPECT_FALSE(Exists(root));
    EXPECT_FALSE(RemoveDirectoryTree(root)); // nothing left to remove

    ASSERT_TRUE(kr::os::MakeDirectories(root + "\\Data"));
    ASSERT_TRUE(Touch(root + "\\Data\\.hidden"));
    ASSERT_TRUE(Touch(root + "\\Data\\z.bin"));
    EXPECT_FALSE(RemoveDirectoryTree(root));
    EXPECT_TRUE(Exists(root + "\\Data\\.hidden"));
}

#ifndef _WIN32
TEST(HelperRemoveTree, RemovesLinksWithoutTouchingTheirTargets)
{
    kr::test::TempDir temp, outside;
    ASSERT_TRUE(kr::os::MakeDirectories(Base(outside) + "/keep/inner"));
    ASSERT_TRUE(Touch(Base(outside) + "/keep/inner/precious.txt"));
    ASSERT_TRUE(Touch(Base(outside) + "/file.txt"));

    std::string root = Base(temp) + "/QuorvaleOnline";
    ASSERT_TRUE(kr::os::MakeDirectories(root + "/Data"));
    ASSERT_EQ(0, symlink((Base(outside) + "/keep").c_str(), (root + "/Data/dirlink").c_str()));
    ASSERT_EQ(0, symlink((Base(outside) + "/file.txt").c_str(), (root + "/filelink").c_str()));
    ASSERT_EQ(0, symlink((Base(outside) + "/gone").c_str(), (root + "/dangling").c_str()));
    EXPECT_TRUE(kr::os::IsLinkEntry(root + "\\Data\\dirlink\\"));
    EXPECT_FALSE(kr::os::IsLinkEntry(root + "\\Data"));

    EXPECT_TRUE(RemoveDirectoryTree(root));
    EXPECT_FALSE(Exists(root));
    EXPECT_TRUE(Exists(Base(outside) + "/keep/inner/precious.txt"));
    EXPECT_TRUE(Exists(Base(outside) + "/file.txt"));

    // A root that is itself a link: the link goes, the tree it points to stays.
    ASSERT_EQ(0, symlink((Base(outside) + "/keep").c_str(), root.c_str()));
    EXPECT_TRUE(RemoveDirectoryTree(root));
    EXPECT_FALSE(kr::os::IsLinkEntry(root));
    EXPECT_TRUE(Exists(Base(outside) + "/keep/inner/precious.txt"));
}

TEST(HelperRemoveTree, ADirectorySwappedForALinkWhileItIsRemovedLeadsNowhere)
{
    kr::test::TempDir temp, outside;
    ASSERT_TRUE(kr::os::MakeDirectories(Base(outside) + "/keep/inner"));
    ASSERT_TRUE(Touch(Base(outside) + "/keep/precious.txt"));
    ASSERT_TRUE(Touch(Base(outside) + "/keep/inner/deep.txt"));
    const std::string root = Base(temp) + "/QuorvaleOnline";
    ASSERT_TRUE(kr::os::MakeDirectories(root + "/Data/inner"));
    ASSERT_TRUE(Touch(root + "/Data/a.bin"));

    // The moment after the removal decided that Data is a directory: Data moves away and a link to
    // the outside tree takes its name.
    int swaps = 0;
    bool removed = RemoveDirectoryTree(root, [&](const std::string& path) {
        if (kr::os::NativePath(path) != root + "/Data")
            return;
        ++swaps;
        ASSERT_EQ(0, rename((root + "/Data").c_str(), (Base(temp) + "/moved").c_str()));
        ASSERT_EQ(0, symlink((Base(outside) + "/keep").c_str(), (root + "/Data").c_str()));
    });
    EXPECT_EQ(swaps, 1);
    EXPECT_TRUE(Exists(Base(outside) + "/keep/precious.txt"));
    EXPECT_TRUE(Exists(Base(outside) + "/keep/inner/deep.txt"));
    EXPECT_FALSE(removed) << "the link in Data's place is no empty directory";
    EXPECT_TRUE(kr::os::IsLinkEntry(root + "/Data"));
}
#endif
