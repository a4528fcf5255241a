// The Linux host's shell, folders and URL protocol entry.
#include "launcher/linux/system_ports.h"

#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace
{

using kr::linux_host::DesktopEntry;
using kr::linux_host::RegisterDesktopEntry;

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old, m_had = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(LinuxShellTest, GameParametersSplitIntoPiecesThatKeepTheirBlanks)
{
    EXPECT_EQ(CKrLinuxShell::SplitParameters(" -StudioLanguageCode=1 -Language=en -NetworkLauncherHash=h"
                                             " -ProjectUserDataPath=/home/p q/Quorvale Online/ -NetworkUserId=42"),
              (std::vector<std::string>{"-StudioLanguageCode=1", "-Language=en", "-NetworkLauncherHash=h",
                                        "-ProjectUserDataPath=/home/p q/Quorvale Online/", "-NetworkUserId=42"}));
    EXPECT_EQ(CKrLinuxShell::SplitParameters("  -a=1   -b=  "), (std::vector<std::string>{"-a=1", "-b="}));
    EXPECT_TRUE(CKrLinuxShell::SplitParameters("").empty());
    EXPECT_TRUE(CKrLinuxShell::SplitParameters("    ").empty());
}

TEST(LinuxShellTest, OnlyWebUrlsOpenOutside)
{
    for (const char* url : {"http://a.test/", "https://a.test/x?y", "HTTPS://A.TEST/", "Http://a"})
        EXPECT_TRUE(CKrLinuxShell::IsWebUrl(url)) << url;
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "quorvaleonline://x", "http://", "https:",
                            "", "ftp://a.test/", " http://a.test/", "/usr/bin/xterm"})
        EXPECT_FALSE(CKrLinuxShell::IsWebUrl(url)) << url;
}

TEST(LinuxShellTest, TheGameStartsThroughTheRuntimeLauncherInTheProjectFolder)
{
    kr::test::TempDir dir;
    const std::string record = dir.Path() + "record.txt";
    const std::string recorder = dir.Path() + "recorder.sh";
    kr::test::WriteWholeFile(recorder, "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } >" +
                                           record + ".tmp && mv " + record + ".tmp " + record + "\n");
    ASSERT_EQ(chmod(recorder.c_str(), 0755), 0);
    ScopedEnv launcher("KR_RUNTIME_LAUNCHER", recorder.c_str());
    const std::string project = dir.Path() + "game folder/";
    ASSERT_EQ(mkdir(project.c_str(), 0755), 0);

    CKrLinuxShell shell;
    // The launcher composes "Data\\"-style names; the file is found in the project folder.
    shell.StartProgram("KelvaneRuntimeMMO.exe", " -Language=en -ProjectUserDataPath=" + project + " -NetworkUserId=7",
                       project);
    ASSERT_TRUE(kr::test::WaitFor([&] { return !kr::test::ReadWholeFile(record).empty(); }));
    EXPECT_EQ(kr::test::ReadWholeFile(record), dir.Path() + "game folder\n[" + project +
                                                   "KelvaneRuntimeMMO.exe]\n[-Language=en]\n[-ProjectUserDataPath=" +
                                                   project + "]\n[-NetworkUserId=7]\n");
}

TEST(XdgFoldersTest, DataFoldersAndDirectoryAnswers)
{
    kr::test::TempDir dir;
    CKrXdgFolders folders;
    std::string shared;
    std::string user;
    {
        ScopedEnv data("XDG_DATA_HOME", (dir.Path() + "data").c_str());
        folders.DataFolders(shared, user);
        EXPECT_EQ(user, dir.Path() + "data");
        EXPECT_EQ(shared, user);
        EXPECT_EQ(folders.FileAttributes(user), kKrAttributeDirectory) << "created when missing";
    }
    {
        // The XDG rule: a relative value does not count.
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        ScopedEnv home("HOME", (dir.Path() + "home").c_str());
        EXPECT_EQ(kr::linux_host::DataHome(), dir.Path() + "home/.local/share");
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(kr::linux_host::ConfigHome(), dir.Path() + "home/.config");
    }
    EXPECT_EQ(folders.ProgramFilesFolder(), "");

    const std::string game = dir.Path() + "game/";
    EXPECT_EQ(folders.FileAttributes(game), kKrInvalidAttributes);
    EXPECT_EQ(folders.MakeDirectory(game), kKrErrorSuccess);
    EXPECT_EQ(folders.MakeDirectory(game), kKrErrorAlreadyExists);
    EXPECT_EQ(folders.MakeDirectory(game + "Data\\"), kKrErrorSuccess) << "the launcher's own separators";
    EXPECT_EQ(folders.FileAttributes(game + "Data/"), kKrAttributeDirectory);
    EXPECT_NE(folders.MakeDirectory(dir.Path() + "missing/deeper/"), kKrErrorSuccess);

    std::string longPath;
    EXPECT_TRUE(folders.LongPathName(dir.Path() + "game/../game/", longPath));
    EXPECT_EQ(longPath.back(), '/');
    EXPECT_EQ(folders.FileAttributes(longPath), kKrAttributeDirectory);
    EXPECT_FALSE(folders.LongPathName(dir.Path() + "nothing/", longPath));
}

TEST(DesktopEntryTest, RegisteredOnceAndQuotedForItsExecLine)
{
    kr::test::TempDir dir;
    const std::string file = dir.Path() + "applications/quorvaleonline.desktop";
    uint32_t error = 99;
    EXPECT_EQ(RegisterDesktopEntry(file, "/opt/q $o\"`\\%/quorvale-launcher", error), 0);
    EXPECT_EQ(error, 0u);
    const std::string entry = kr::test::ReadWholeFile(file);
    EXPECT_EQ(entry, DesktopEntry("/opt/q $o\"`\\%/quorvale-launcher"));
    EXPECT_NE(entry.find("\nMimeType=x-scheme-handler/quorvaleonline;\n"), std::string::npos);
    // Exec's quoting, then the key's own escapes: each backslash doubled, "%" as "%%".
    EXPECT_NE(entry.find("\nExec=\"/opt/q \\\\$o\\\\\"\\\\`\\\\\\\\%%/quorvale-launcher\" -uri=%u\n"),
              std::string::npos)
        << entry;

    // Found again, it stays as it is, whatever it holds.
    kr::test::WriteWholeFile(file, "the player's own entry");
    EXPECT_EQ(RegisterDesktopEntry(file, "/elsewhere/quorvale-launcher", error), 1);
    EXPECT_EQ(kr::test::ReadWholeFile(file), "the player's own entry");
    EXPECT_EQ(kr::test::EntryNames(dir.Path() + "applications"), (std::vector<std::string>{"quorvaleonline.desktop"}));

    kr::test::WriteWholeFile(dir.Path() + "blocked", "a file where the folder should be");
    EXPECT_EQ(RegisterDesktopEntry(dir.Path() + "blocked/applications/q.desktop", "/bin/q", error), 2);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(RegisterDesktopEntry(dir.Path() + "q.desktop", "/bin/q\nExec=/bin/evil", error), 2)
        << "a line break would add keys";
    EXPECT_EQ(kr::test::EntryNames(dir.Path()), (std::vector<std::string>{"applications", "blocked"}));
}

} // namespace
