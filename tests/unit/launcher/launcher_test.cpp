// The launcher's decisions that need no server: error page formats, the URL white list, the URL
// protocol, navigation commands, the command lines handed to other programs, and the self-update check.
#include "launcher/launcher.h"

#include "install/zip_file.h"
#include "platform/files.h"
#include "services/metrics.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/launcher/fake_ports.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

using namespace kr::launcher;
using kr::test::FakeBrowser;
using kr::test::FakeFolders;
using kr::test::FakeRegistry;
using kr::test::FakeShell;
using kr::test::FakeWindow;

class LauncherTest : public ::testing::Test
{
protected:
    LauncherTest() : launcher({window, browser, registry, shell, folders})
    {
        launcher.CreateBrowser();
        browser.calls.clear();
        CKrLauncherConfig& config = launcher.Config();
        config.launcherServer = "http://ls.test";
        config.webServer = "http://web.test";
        config.SetProjectPath(dir.Path());
        config.preLauncherPath = "C:\\Pre\\";
        config.urlWhiteList = {{"http://web.test"}, {"pay.test", "/ok"}};
    }

    kr::test::TempDir dir;
    FakeWindow window;
    FakeBrowser browser;
    FakeRegistry registry;
    FakeShell shell;
    FakeFolders folders;
    CKrLauncher launcher;
};

TEST(ErrorPageFormatTest, OnlyTextConversionsAndShortResults)
{
    std::string page;
    EXPECT_TRUE(FormatErrorPage("%s/%s-%s.html?p=100%%", "a", "b", "c", page));
    EXPECT_EQ(page, "a/b-c.html?p=100%");
    EXPECT_TRUE(FormatErrorPage("%s.html", "x", "", "", page));
    EXPECT_EQ(page, "x.html");
    EXPECT_TRUE(FormatErrorPage("plain", "x", "", "", page));
    EXPECT_EQ(page, "plain");
    for (const char* refused : {"%s%s%s%s", "%d", "%n", "%x%s", "%-5s", "%", "abc%"})
        EXPECT_FALSE(FormatErrorPage(refused, "a", "b", "c", page)) << refused;
    EXPECT_TRUE(FormatErrorPage("%s", std::string(1023, 'a'), "", "", page));
    EXPECT_FALSE(FormatErrorPage("%s", std::string(1024, 'a'), "", "", page));
    EXPECT_FALSE(FormatErrorPage("%s%s", std::string(600, 'a'), std::string(600, 'b'), "", page));
}

TEST_F(LauncherTest, ServerPagesAndTheLocalFallback)
{
    launcher.Config().errorPageFormat = "%s_%s_%s.html";
    launcher.Config().languageCode = "de";
    launcher.ShowErrorPage("maintenance");
    launcher.ShowErrorPage("a_b_c");
    launcher.ShowErrorPage("a_b_c_d"); // more fields than the format takes: nothing shown
    launcher.Config().languageCode.clear();
    launcher.ShowErrorPage("_x__");
    EXPECT_EQ(browser.calls,
              (std::vector<std::string>{"navigate http://web.test/de/maintenance__.html",
                                        "navigate http://web.test/de/a_b_c.html",
                                        "navigate http://web.test/en/x__.html"}));

    // A format the launcher refuses shows the local error page instead; without one the launcher ends.
    browser.calls.clear();
    launcher.Config().errorPageFormat = "%s%n";
    launcher.ShowErrorPage("x");
    EXPECT_TRUE(browser.calls.empty());
    EXPECT_EQ(window.calls, (std::vector<std::string>{"message Error: system error 1256", "quit"}));

    // A system without a text for the code: the box still says what went wrong.
    window.calls.clear();
    window.systemHasTexts = false;
    launcher.ShowErrorPage("x");
    EXPECT_EQ(window.calls, (std::vector<std::string>{"message Error: Error 1256", "quit"}));

    window.calls.clear();
    kr::os::MakeDirectory(dir.Path() + "ErrorPage");
    kr::test::WriteWholeFile(dir.Path() + "ErrorPage/general-error_no-twitter.html", "<html/>");
    launcher.ShowErrorPage("x");
    EXPECT_EQ(browser.calls, (std::vector<std::string>{"navigate " + dir.Path() + kLocalErrorPage}));
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(LauncherTest, WhiteListMatchesFromTheStartOfTheUrl)
{
    launcher.Config().urlWhiteList = {{"http://web.test"}, {"pay.test", "/ok"}, {"https://cdn.test/game/"}};
    struct Case
    {
        const char* url;
        bool allowed;
    } cases[] = {
        {"http://web.test", true},
        {"http://web.test/en/login", true},
        {"HTTP://WEB.TEST/en/?x#y", true},
        {"http://web.test?sid=1", true},
        // The origin: scheme, host and port as given.
        {"https://web.test/en/", false},
        {"http://web.test.evil.example/", false},
        {"http://web.testx/", false},
        {"http://web.test:8080/", false},
        {"http://web.test@evil.example/", false},
        {"http://web.test\\@evil.example/", false},
        // Query and fragment tricks.
        {"https://elsewhere.example/?r=http://web.test", false},
        {"https://elsewhere.example/#http://web.test/", false},
        {"https://elsewhere.example/http://web.test/", false},
        // Path prefix: a whole prefix, and the path's case counts.
        {"https://cdn.test/game/x.js", true},
        {"https://CDN.test/game/x.js", true},
        {"https://cdn.test/Game/x.js", false},
        {"https://cdn.test/gamex/x.js", false},
        {"https://cdn.test/", false},
        // a*b: a host entry for http and https, its second part in the path behind it.
        {"https://pay.test/x/ok", true},
        {"http://pay.test/ok", true},
        {"https://pay.test/x/ok?done=1", true},
        {"https://pay.test/x?r=/ok", false},
        {"https://pay.test/x#/ok", false},
        {"https://x/ok?pay.test", false},
        {"https://evil.test/pay.test/ok", false},
        {"ftp://pay.test/ok", false},
        {"https://pay.test.evil/ok", false},
        {"https://evil.test/", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(launcher.IsUrlAllowed(c.url), c.allowed) << c.url;

    // An empty web server allows nothing by itself.
    launcher.Config().urlWhiteList = {{""}};
    EXPECT_FALSE(launcher.IsUrlAllowed("https://anything/"));
    EXPECT_FALSE(launcher.IsUrlAllowed(""));
}

TEST_F(LauncherTest, WhiteListAllowsFilesOfTheInstallationOnly)
{
    const std::string root = dir.Path(); // an absolute path ending in its separator
    // The file URL of the folder: file:///C:/x/ on Windows, file:///tmp/x/ elsewhere.
    std::string slashed = root;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    const std::string rootUrl = (slashed[0] == '/' ? "file://" : "file:///") + slashed;
    EXPECT_TRUE(launcher.IsUrlAllowed(rootUrl + "ErrorPage/x.html"));
    EXPECT_TRUE(launcher.IsUrlAllowed(root + "ErrorPage/x.html")) << "the launcher's own navigation";
    EXPECT_FALSE(launcher.IsUrlAllowed("https://elsewhere.example/?p=" + root + "ErrorPage/x.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed("https://elsewhere.example/" + root));
    EXPECT_FALSE(launcher.IsUrlAllowed(rootUrl + "../elsewhere.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed(rootUrl + "ErrorPage/%2e%2e/%2e%2e/x.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed("file:///elsewhere/x.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed("file://evil/" + slashed + "x.html")) << "another host";

    // The Windows forms: drive paths, percent-encoded blanks, backslashes, case.
    launcher.Config().SetProjectPath("C:\\Users\\Public\\Quorvale Online\\");
    EXPECT_TRUE(launcher.IsUrlAllowed("file:///C:/Users/Public/Quorvale%20Online/ErrorPage/e.html"));
    EXPECT_TRUE(launcher.IsUrlAllowed("file:///c:/users/public/quorvale%20online/ErrorPage/e.html"));
    EXPECT_TRUE(launcher.IsUrlAllowed("C:\\Users\\Public\\Quorvale Online\\ErrorPage\\e.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed("file:///C:/Users/Public/Quorvale%20Online2/e.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed("file:///C:/Users/Public/e.html"));
    EXPECT_FALSE(launcher.IsUrlAllowed("file://server/C:/Users/Public/Quorvale%20Online/e.html"));

    launcher.Config().SetProjectPath("");
    EXPECT_FALSE(launcher.IsUrlAllowed("file:///x.html")) << "no installation, no files";
}

TEST_F(LauncherTest, RefusedUrlOpensOutsideAndTheBrowserGoesBack)
{
    launcher.OnBeforeNavigate("http://web.test/en/news");
    browser.calls.clear();
    launcher.OnBeforeNavigate("https://evil.test/");
    launcher.OnBeforeNavigate("HTTP://other.test/");
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"open https://evil.test/", "open HTTP://other.test/"}));
    EXPECT_EQ(browser.calls, (std::vector<std::string>{"stop", "navigate http://web.test/en/news", "stop",
                                                       "navigate http://web.test/en/news"}));
    EXPECT_EQ(launcher.State().lastAllowedUrl, "http://web.test/en/news");

    // Only web pages go to the default browser; a program, a share or a handler is dropped.
    shell.calls.clear();
    browser.calls.clear();
    for (const char* url : {"file:///C:/Windows/System32/calc.exe", "\\\\evil\\share\\setup.exe",
                            "search-ms:query=x&crumb=location:\\\\evil\\s", "ms-settings:", "javascript:alert(1)",
                            "mailto:x@y", "httpx://evil.test/", "C:\\Windows\\notepad.exe"})
        launcher.OnBeforeNavigate(url);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(browser.calls.size(), 16u) << "each refused URL still stops the browser and goes back";
    EXPECT_EQ(launcher.State().lastAllowedUrl, "http://web.test/en/news");
}

TEST_F(LauncherTest, ARefusedPageNeitherClosesNorLogsIn)
{
    launcher.OnBeforeNavigate("https://elsewhere.example/?r=http://web.test/close");
    launcher.OnNavigateComplete("https://elsewhere.example/play?qvo=planted&customer_id=9&x=http://web.test");
    EXPECT_EQ(window.calls, std::vector<std::string>());
    EXPECT_EQ(launcher.State().launcherHash, "");
    EXPECT_EQ(launcher.Config().customerId, 0u);
}

TEST_F(LauncherTest, LogoutAndCloseOnlyWhenTheyEndTheUrl)
{
    launcher.OnNavigateComplete("http://web.test/en/play?qvo=tok&customer_id=42&sid=s1");
    launcher.OnBeforeNavigate("http://web.test/logout?next=1");
    EXPECT_EQ(launcher.State().launcherHash, "tok");
    launcher.OnBeforeNavigate("http://web.test/close/close");
    EXPECT_TRUE(window.calls.empty()) << "only a first occurrence that ends the URL counts";
    launcher.OnBeforeNavigate("http://web.test/logout");
    EXPECT_EQ(launcher.State().launcherHash, "");
    EXPECT_EQ(launcher.Config().sid, "");
    EXPECT_EQ(launcher.Config().customerId, 0u);
    EXPECT_FALSE(launcher.State().formFilled);
    launcher.OnBeforeNavigate("http://web.test/close");
    EXPECT_EQ(window.calls, (std::vector<std::string>{"invalidate", "quit"}));
}

TEST_F(LauncherTest, LoginUrlCustomerIdMustBeAPlainNumber)
{
    launcher.Config().customerId = 5;
    launcher.OnNavigateComplete("http://web.test/en/play?qvo=a");
    EXPECT_EQ(launcher.Config().customerId, 5u) << "no parameter keeps the id";
    EXPECT_EQ(launcher.Config().sid, "") << "no sid parameter empties the sid";
    for (const char* bad : {"x12", "-3", "4294967296", "12abc", ""})
    {
        launcher.OnNavigateComplete(std::string("http://web.test/en/play?qvo=a&customer_id=") + bad);
        EXPECT_EQ(launcher.Config().customerId, 5u) << bad;
    }
    launcher.OnNavigateComplete("http://web.test/en/play?qvo=a&customer_id=4294967295");
    EXPECT_EQ(launcher.Config().customerId, 4294967295u);
}

TEST_F(LauncherTest, UrlProtocolRegistration)
{
    uint32_t error = 99;
    EXPECT_EQ(launcher.RegisterUrlProtocol(error), 0);
    EXPECT_EQ(error, 0u);
    const std::string command = std::string(kProtocolKey) + "\\shell\\open\\command";
    EXPECT_EQ(registry.keys[kProtocolKey][""], "URL:Quorvale Online Protocol");
    EXPECT_EQ(registry.keys[kProtocolKey]["URL Protocol"], "");
    EXPECT_EQ(registry.keys[std::string(kProtocolKey) + "\\DefaultIcon"][""], "\"C:\\Pre\\Quorvale.exe\",0");
    EXPECT_EQ(registry.keys[command][""], "\"C:\\Pre\\Quorvale.exe\" -uri=%1");

    // Found again, it stays as it is even when the pre-launcher moved.
    launcher.Config().preLauncherPath = "D:\\Moved\\";
    EXPECT_EQ(launcher.RegisterUrlProtocol(error), 1);
    EXPECT_EQ(registry.keys[command][""], "\"C:\\Pre\\Quorvale.exe\" -uri=%1");

    FakeRegistry failing;
    failing.failures[std::string(kProtocolKey) + "\\DefaultIcon"] = kKrErrorAccessDenied;
    CKrLauncher other({window, browser, failing, shell, folders});
    other.Config().preLauncherPath = "C:\\Pre\\";
    EXPECT_EQ(other.RegisterUrlProtocol(error), 2);
    EXPECT_EQ(error, kKrErrorAccessDenied);
    EXPECT_FALSE(failing.keys.count(command)) << "the first failure ends the registration";
    other.Config().preLauncherPath.clear();
    EXPECT_EQ(other.RegisterUrlProtocol(error), 2);
    EXPECT_EQ(error, 0u);
}

TEST_F(LauncherTest, AHostsOwnProtocolRegistrationReplacesTheRegistryKeys)
{
    KrLauncherOptions options;
    int calls = 0;
    options.registerProtocol = [&calls](uint32_t& error)
    {
        ++calls;
        error = kKrErrorAccessDenied;
        return 2;
    };
    FakeRegistry untouched;
    CKrLauncher host({window, browser, untouched, shell, folders}, options);
    host.Config().preLauncherPath = "C:\\Pre\\";
    uint32_t error = 0;
    EXPECT_EQ(host.RegisterUrlProtocol(error), 2);
    EXPECT_EQ(error, kKrErrorAccessDenied);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(untouched.keys.empty());
}

TEST_F(LauncherTest, PlayButtonMouseBeforeTheGameIsReady)
{
    launcher.ShowMainWindow();
    const KrRect hit = launcher.State().layout.buttonHit;
    ASSERT_EQ(hit, (KrRect{889, 643, 1015, 673}));
    window.calls.clear();
    launcher.OnMouseMove(hit.left, hit.top);
    launcher.OnMouseMove(hit.right - 1, hit.bottom - 1);
    EXPECT_TRUE(launcher.State().hover);
    launcher.OnMouseMove(hit.right, hit.top); // right edge is outside
    launcher.OnMouseMove(0, 0);
    EXPECT_FALSE(launcher.State().hover);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"invalidate", "invalidate"}))
        << "only on entering and leaving";

    // Logged in while the installation is incomplete: no hand, and no click gets through.
    launcher.OnNavigateComplete("http://web.test/en/play?qvo=tok&customer_id=42");
    ASSERT_EQ(launcher.State().launcherHash, "tok");
    launcher.OnMouseMove(hit.left + 5, hit.top + 5);
    EXPECT_EQ(window.cursor, KrCursor::Arrow);
    launcher.OnLButtonDown(hit.left + 5, hit.top + 5);
    EXPECT_TRUE(launcher.State().pressed);
    launcher.OnLButtonUp(hit.left + 5, hit.top + 5);
    EXPECT_FALSE(launcher.State().pressed);
    launcher.OnLButtonDown(hit.left + 5, hit.top + 5);
    launcher.OnLButtonUp(hit.left - 5, hit.top + 5);
    EXPECT_FALSE(launcher.State().pressed) << "a release anywhere ends the press";
    launcher.OnLButtonDown(hit.left - 5, hit.top + 5);
    EXPECT_FALSE(launcher.State().pressed);
    EXPECT_TRUE(shell.calls.empty());

    KrDisplayList list = launcher.Paint();
    EXPECT_EQ(list.cursor, KrCursor::Arrow);
    ASSERT_EQ(list.items.size(), 3u) << "no installer: bar, button and caption";
    EXPECT_EQ(list.items[1].color, kr::colors::kGrey);
}

TEST(LauncherCommandLinesTest, GameAndRestart)
{
    CKrLauncherConfig config;
    config.studioLanguageCode = "3";
    config.languageCode = "de ch";
    config.userDataPath = "C:\\U\\";
    config.launcherServer = "http://ls";
    config.customerId = 0;
    EXPECT_EQ(CKrLauncher::GameCommandLine(config, "h"),
              " -StudioLanguageCode=3 -Language=de ch -NetworkLauncherHash=h -ProjectUserDataPath=C:\\U\\"
              " -NetworkLauncherServer=http://ls -NetworkUserId=0");

    CKrLauncherConfig restart;
    restart.launcherServer = "http://ls";
    restart.sid = "abc";
    restart.languageCode = "de";
    restart.startedFromLink = true;
    EXPECT_EQ(CKrLauncher::RestartCommandLine(restart),
              " -RestartLauncher=1 -LauncherServer=http://ls -sid=abc -language_code=de -uriStart=1");
    restart = CKrLauncherConfig();
    restart.launcherServer.clear();
    restart.customerId = 7;
    EXPECT_EQ(CKrLauncher::RestartCommandLine(restart), " -RestartLauncher=1 -customer_id=7");
}

TEST_F(LauncherTest, SelfUpdateRestartsOnlyForADifferentReadableLauncher)
{
    const std::string package = dir.Path() + kLauncherPackage;
    const std::string executable = dir.Path() + kLauncherExecutable;
    auto makePackage = [&](const std::string& content)
    {
        CKrZipFile zip;
        ASSERT_TRUE(zip.Open(package, false, nullptr, false));
        ASSERT_TRUE(zip.AddFileFromMemory(kLauncherExecutable, content.data(), content.size(), 0x21000000, 6));
        zip.Close();
    };

    launcher.CheckLauncherUpdate(); // no package
    makePackage("launcher v1");
    launcher.CheckLauncherUpdate(); // no readable launcher: no restart loop
    kr::test::WriteWholeFile(executable, "launcher v1");
    launcher.CheckLauncherUpdate(); // equal
    kr::test::WriteWholeFile(package, "not a zip");
    launcher.CheckLauncherUpdate(); // checksum 0
    EXPECT_TRUE(window.calls.empty());
    EXPECT_TRUE(shell.calls.empty());

    makePackage("launcher v2");
    launcher.Config().sid = "abc";
    launcher.CheckLauncherUpdate();
    EXPECT_EQ(window.calls, (std::vector<std::string>{"wide message Quorvale Launcher Update: Quorvale Launcher "
                                                      "has been updated click ok to apply changes",
                                                      "quit"}));
    EXPECT_EQ(shell.calls, (std::vector<std::string>{
                               "start Quorvale.exe [ -RestartLauncher=1 -LauncherServer=http://ls.test -sid=abc] "
                               "in C:\\Pre\\"}));

    // A host the pre-launcher cannot restart never takes that path, whatever the package holds.
    window.calls.clear();
    shell.calls.clear();
    KrLauncherOptions options;
    options.selfUpdate = false;
    CKrLauncher host({window, browser, registry, shell, folders}, options);
    host.Config().SetProjectPath(dir.Path());
    host.Config().preLauncherPath = "C:\\Pre\\";
    host.CheckLauncherUpdate();
    EXPECT_TRUE(window.calls.empty());
    EXPECT_TRUE(shell.calls.empty());
}

} // namespace

namespace
{

TEST(LauncherRunTest, NoWindowNoHandshake)
{
    FakeWindow window;
    window.createSucceeds = false;
    FakeBrowser browser;
    FakeRegistry registry;
    FakeShell shell;
    FakeFolders folders;
    CKrLauncher launcher({window, browser, registry, shell, folders});
    EXPECT_EQ(launcher.Run("-LauncherServer=http://127.0.0.1:9 -ProjectPath=C:\\Game"), 0u);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"create failed"}));
    EXPECT_TRUE(browser.calls.empty());
    EXPECT_TRUE(registry.keys.empty());
    EXPECT_EQ(launcher.Config().projectPath, "C:\\Game\\");
    // The services of the failed start are left running, as a process that ends anyway may.
    StopMetrics();
    StopRequestSender();
}

} // namespace
