#include "launcher/launcher_config.h"

#include "launcher/command_line.h"
#include "services/http_request.h"
#include "tests/unit/launcher/fake_ports.h"

#include <gtest/gtest.h>

namespace
{

using kr::test::FakeFolders;

CKrLauncherConfig FromCommandLine(const std::string& line, FakeFolders& folders,
                                  bool* languageGiven = nullptr)
{
    CKrCommandLine commandLine;
    commandLine.Parse(line);
    CKrLauncherConfig config;
    bool given = config.ApplyCommandLine(commandLine, folders);
    if (languageGiven)
        *languageGiven = given;
    return config;
}

CKrHttpRequest Answer(const std::string& json)
{
    CKrHttpRequest answer;
    answer.TakeResponse(json);
    return answer;
}

} // namespace

TEST(LauncherConfig, CommandLineOptions)
{
    FakeFolders folders;
    folders.longNames["C:\\GAMES~1\\QUORVA~1"] = "C:\\Games\\Quorvale Game";
    bool languageGiven = false;
    CKrLauncherConfig config =
        FromCommandLine("-LAUNCHERSERVER=http://ls.example -sid=abc -ProjectPath=C:\\GAMES~1\\QUORVA~1 "
                        "-ProjectUserDataPath=U\\ "
                        "-customer_id=42 -diskSizeError= -language_code=de -PreLauncherPath=P\\",
                        folders, &languageGiven);
    EXPECT_EQ(config.launcherServer, "http://ls.example");
    EXPECT_EQ(config.sid, "abc");
    EXPECT_EQ(config.projectPath, "C:\\Games\\Quorvale Game\\");
    EXPECT_EQ(config.dataPath, "C:\\Games\\Quorvale Game\\Data\\");
    EXPECT_EQ(config.userDataPath, "U\\");
    EXPECT_EQ(config.preLauncherPath, "P\\");
    EXPECT_EQ(config.customerId, 42u);
    EXPECT_TRUE(config.diskSizeError);
    EXPECT_EQ(config.languageCode, "de");
    EXPECT_TRUE(languageGiven);

    // Without options: compiled-in server, no language, nothing else set.
    CKrLauncherConfig plain = FromCommandLine("", folders, &languageGiven);
    EXPECT_EQ(plain.launcherServer, kr::launcher::kDefaultLauncherServer);
    EXPECT_FALSE(plain.launcherServer.empty());
    EXPECT_NE(plain.launcherServer.back(), '/');
    EXPECT_FALSE(languageGiven);
    EXPECT_FALSE(plain.diskSizeError);
    EXPECT_TRUE(plain.projectPath.empty());

    // An equals sign makes an option; an empty server value empties the server.
    CKrLauncherConfig odd = FromCommandLine("-diskSizeError -LauncherServer=", folders);
    EXPECT_FALSE(odd.diskSizeError);
    EXPECT_EQ(odd.launcherServer, "");

    // A project path without long form (not there yet) is kept as given, with its separator added.
    CKrLauncherConfig fresh = FromCommandLine("-ProjectPath=D:\\New", folders);
    EXPECT_EQ(fresh.projectPath, "D:\\New\\");
    EXPECT_EQ(fresh.dataPath, "D:\\New\\Data\\");
}

// The speed limit is a plain number of kilobytes per second; anything else means no limit.
TEST(LauncherConfig, DownloadLimit)
{
    FakeFolders folders;
    bool languageGiven = false;
    EXPECT_EQ(FromCommandLine("-DownloadLimitKB=512", folders, &languageGiven).downloadLimitKB, 512u);
    EXPECT_EQ(FromCommandLine("", folders, &languageGiven).downloadLimitKB, 0u);
    for (const char* bad : {"-DownloadLimitKB=-5", "-DownloadLimitKB=12k", "-DownloadLimitKB=",
                            "-DownloadLimitKB=99999999999999999999"})
        EXPECT_EQ(FromCommandLine(bad, folders, &languageGiven).downloadLimitKB, 0u) << bad;
}

TEST(LauncherConfig, VerifyInstallOnlyWithOne)
{
    FakeFolders folders;
    EXPECT_TRUE(FromCommandLine("-VerifyInstall=1", folders).verifyInstall);
    for (const char* other : {"", "-VerifyInstall=0", "-VerifyInstall=", "-VerifyInstall=yes"})
        EXPECT_FALSE(FromCommandLine(other, folders).verifyInstall) << other;
}

TEST(LauncherConfig, StartedFromLinkFlag)
{
    struct Case
    {
        const char* line;
        bool expected;
    } cases[] = {
        {"", false},
        {"-sid=abc", true},
        {"-sid=", true},
        {"-sid=abc -RestartLauncher=1", false},
        {"-sid=abc -RestartLauncher=1 -uriStart=1", true},
        {"-RestartLauncher=1 -uriStart=", true},
        {"-uri=quorvaleonline://play?sid=abc", true}, // the link's sid counts
        // A link cannot claim to be the launcher's own restart.
        {"-uri=quorvaleonline://play?sid=abc&RestartLauncher=1", true},
    };
    FakeFolders folders;
    for (const Case& c : cases)
        EXPECT_EQ(FromCommandLine(c.line, folders).startedFromLink, c.expected) << c.line;
}

TEST(LauncherConfig, CustomerIdConversion)
{
    struct Case
    {
        const char* text;
        uint32_t expected;
    } cases[] = {
        {"7", 7u},
        {"  +15xyz", 15u},
        {"0012", 12u},
        {"", 0u},
        {"abc", 0u},
        {"2147483647", 2147483647u},
        {"2147483648", 0u}, // strtol would saturate to another customer's id
        {"99999999999999999999", 0u},
        {"-5", 0u}, // would wrap to 4294967291
    };
    for (const Case& c : cases)
        EXPECT_EQ(KrParseCustomerId(c.text), c.expected) << "'" << c.text << "'";
}

TEST(LauncherConfig, SettingsDocument)
{
    CKrLauncherConfig config;
    config.ApplySettings(Answer(R"({"status":1,"HttpServer":"http://web","ErrorPage":"%s.html",
        "LauncherWindowHeight":700,"MinimumDiscMemory":4000,"MinimumFreeRamMb":512,"MinimumScreenWidth":800,
        "MinimumScreenHeight":600,"Language":"fr","StudioLanguageCode":12,"AvailableLanguages":",de,,en,",
        "WhiteListURL":"pay.example*/checkout,*,,docs.example"})"));
    EXPECT_FALSE(config.serverError);
    EXPECT_EQ(config.webServer, "http://web");
    EXPECT_EQ(config.errorPageFormat, "%s.html");
    EXPECT_EQ(config.mainWidth, 1024); // key missing: default stays
    EXPECT_EQ(config.mainHeight, 700);
    EXPECT_EQ(config.minimumDiscMemory, 4000);
    EXPECT_EQ(config.minimumFreeRamMb, 512);
    EXPECT_EQ(config.minimumScreenWidth, 800);
    EXPECT_EQ(config.minimumScreenHeight, 600);
    EXPECT_EQ(config.languageCode, "fr");
    EXPECT_EQ(config.studioLanguageCode, "12");
    EXPECT_EQ(config.availableLanguages, (std::vector<std::string>{"de", "en"}));
    std::vector<std::vector<std::string>> whiteList = {
        {"http://web"}, {"pay.example", "/checkout"}, {"docs.example"}};
    EXPECT_EQ(config.urlWhiteList, whiteList);

    // A language of the command line wins; a second document rebuilds the white list; a window
    // without area keeps the default size.
    CKrLauncherConfig withLanguage;
    withLanguage.languageCode = "de";
    withLanguage.ApplySettings(Answer(R"({"status":1,"Language":"fr","LauncherWindowWidth":0,
        "LauncherWindowHeight":-20})"));
    withLanguage.ApplySettings(Answer(R"({"status":1,"HttpServer":"http://w2"})"));
    EXPECT_EQ(withLanguage.languageCode, "de");
    EXPECT_EQ(withLanguage.mainWidth, 1024);
    EXPECT_EQ(withLanguage.mainHeight, 650);
    EXPECT_EQ(withLanguage.urlWhiteList, (std::vector<std::vector<std::string>>{{"http://w2"}}));
    EXPECT_EQ(withLanguage.studioLanguageCode, "0");
}

TEST(LauncherConfig, ServerErrorsStillApplySettings)
{
    CKrLauncherConfig config;
    config.ApplySettings(Answer(R"({"status":0,"Error":"maintenance_2_3","HttpServer":"http://web"})"));
    EXPECT_TRUE(config.serverError);
    EXPECT_EQ(config.serverErrorText, "maintenance_2_3");
    EXPECT_EQ(config.webServer, "http://web");

    // The download document's error replaces the earlier text; its server is still taken.
    config.ApplyDownloadSettings(Answer(R"({"status":0,"Error":"nodl","DownloadServer":"dl.example"})"));
    EXPECT_EQ(config.serverErrorText, "nodl");
    EXPECT_EQ(config.downloadServer, "dl.example");

    // status 1 leaves the flag alone and the Error text unread; a missing status is an error.
    CKrLauncherConfig ok;
    ok.ApplyDownloadSettings(Answer(R"({"status":1,"Error":"ignored","DownloadServer":"dl"})"));
    EXPECT_FALSE(ok.serverError);
    EXPECT_EQ(ok.serverErrorText, "");
    EXPECT_EQ(ok.downloadServer, "dl");
    CKrLauncherConfig missing;
    missing.ApplyDownloadSettings(Answer(R"({"DownloadServer":"dl"})"));
    EXPECT_TRUE(missing.serverError);
}

TEST(LauncherConfig, LanguageTexts)
{
    CKrLauncherConfig config;
    EXPECT_EQ(config.labels[kLabelLauncherUpdateTitle].AsWideText(), u"Quorvale Launcher Update");
    EXPECT_EQ(config.labels[kLabelLauncherUpdateText].AsWideText(),
              u"Quorvale Launcher has been updated click ok to apply changes");
    config.ApplySettings(Answer(R"({"status":1,"StudioLanguageCode":12})"));

    config.ApplyLanguageTexts(
        Answer(R"({"status":1,"LABEL_PLAY":"spielen \u00fcber","LABEL_INSTALL_INIT":"Gr\u00fc\u00dfe",
        "LABEL_LAUNCHER_UPDATE_TITLE":"Aktualisierung","StudioLanguageCode":"7"})"));
    for (const CKrVariant& label : config.labels)
    {
        EXPECT_EQ(label.GetType(), CKrVariant::kWideString);
        EXPECT_EQ(label.GetCodePage(), kr::launcher::kUtf8CodePage);
    }
    EXPECT_EQ(config.labels[kLabelPlay].AsWideText(), u"SPIELEN \u00dcBER");
    EXPECT_EQ(config.labels[kLabelInstallInit].AsWideText(), u"Gr\u00fc\u00dfe");
    EXPECT_EQ(config.labels[kLabelInstallInit].AsText(), "Gr\xc3\xbc\xc3\x9f"
                                                         "e");
    EXPECT_EQ(config.labels[kLabelLauncherUpdateTitle].AsWideText(), u"Aktualisierung");
    // Missing keys empty their labels, built-in defaults included.
    EXPECT_EQ(config.labels[kLabelLauncherUpdateText].AsWideText(), u"");
    EXPECT_EQ(config.labels[kLabelInstallationCompleted].TextLength(), 0u);
    EXPECT_EQ(config.studioLanguageCode, "7");
    EXPECT_STREQ(KrLabelKey(kLabelInstallUpdateProgress), "LABEL_INSTALL_UPDATE_PROGRESS");
}

TEST(LauncherConfig, PreLauncherRule)
{
    const std::string folder = "C:\\Program Files\\Vintrell\\Quorvale\\";
    FakeFolders folders;
    CKrLauncherConfig config = FromCommandLine("-PreLauncherPath=X:\\Mine\\", folders);
    config.ApplyPreLauncherRule(folders);
    EXPECT_EQ(config.preLauncherPath, "X:\\Mine\\");

    folders.AddDirectory(folder, kKrAttributeDirectory | 0x01); // read-only directory does not count
    config.ApplyPreLauncherRule(folders);
    EXPECT_EQ(config.preLauncherPath, "X:\\Mine\\");

    folders.AddDirectory(folder);
    config.ApplyPreLauncherRule(folders);
    EXPECT_EQ(config.preLauncherPath, folder);
}

TEST(LauncherConfig, DefaultPaths)
{
    const std::string user = "C:\\Users\\p\\AppData\\LocalLow\\QuorvaleOnline\\";
    const std::string shared = "C:\\Users\\Public\\QuorvaleOnline\\";
    EXPECT_EQ(kr::launcher::ProductFolderName(), "QuorvaleOnline");

    {
        SCOPED_TRACE("existing installation under the user folder");
        FakeFolders folders;
        folders.AddDirectory(user);
        folders.AddDirectory(user + "Data\\");
        folders.AddDirectory(shared);
        folders.AddDirectory(shared + "Data\\");
        CKrLauncherConfig config;
        config.ResolveDefaultPaths(folders);
        EXPECT_EQ(config.projectPath, user);
        EXPECT_EQ(config.dataPath, user + "Data\\");
        EXPECT_EQ(config.userDataPath, user);
        EXPECT_TRUE(folders.created.empty());
    }
    {
        SCOPED_TRACE("existing installation under the shared folder");
        FakeFolders folders;
        folders.AddDirectory(user);
        folders.AddDirectory(shared);
        folders.AddDirectory(shared + "Data\\");
        CKrLauncherConfig config;
        config.ResolveDefaultPaths(folders);
        EXPECT_EQ(config.projectPath, shared);
        EXPECT_EQ(config.dataPath, shared + "Data\\");
        EXPECT_EQ(config.userDataPath, user);
        EXPECT_TRUE(folders.created.empty());
    }
    {
        SCOPED_TRACE("new installation goes to the shared folder");
        FakeFolders folders;
        CKrLauncherConfig config;
        config.ResolveDefaultPaths(folders);
        EXPECT_EQ(config.projectPath, shared);
        EXPECT_EQ(folders.created, (std::vector<std::string>{shared, shared + "Data\\", user}));
    }
    {
        SCOPED_TRACE("shared folder exists without data: kept");
        FakeFolders folders;
        folders.AddDirectory(shared);
        CKrLauncherConfig config;
        config.ResolveDefaultPaths(folders);
        EXPECT_EQ(config.projectPath, shared);
        EXPECT_EQ(folders.FileAttributes(shared + "Data\\"), kKrAttributeDirectory);
    }
    {
        SCOPED_TRACE("shared folder refused: user folder");
        FakeFolders folders;
        folders.createErrors[shared] = kKrErrorAccessDenied;
        CKrLauncherConfig config;
        config.ResolveDefaultPaths(folders);
        EXPECT_EQ(config.projectPath, user);
        EXPECT_EQ(config.dataPath, user + "Data\\");
        EXPECT_EQ(config.userDataPath, user);
        EXPECT_EQ(folders.created, (std::vector<std::string>{shared, user, user + "Data\\", user}));
    }    {
        SCOPED_TRACE("a POSIX host's folders keep their own separator");
        FakeFolders folders;
        folders.sharedFolder = "/home/p/.local/share";
        folders.userFolder = "/home/p/.local/share";
        CKrLauncherConfig config;
        config.ResolveDefaultPaths(folders);
        EXPECT_EQ(config.projectPath, "/home/p/.local/share/QuorvaleOnline/");
        EXPECT_EQ(config.dataPath, "/home/p/.local/share/QuorvaleOnline/Data/");
        EXPECT_EQ(config.userDataPath, "/home/p/.local/share/QuorvaleOnline/");
        config.SetProjectPath("/games/quorvale");
        EXPECT_EQ(config.projectPath, "/games/quorvale/");
        EXPECT_EQ(config.dataPath, "/games/quorvale/Data/");
    }
}
