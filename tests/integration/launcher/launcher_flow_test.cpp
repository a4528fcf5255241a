// The launcher's whole flow with fake window, browser, registry and shell, against the development
// launcher server, nginx serving a packed release, and the metrics receiver (started by
// tests/support/run_with_servers.sh, natively and under Wine alike).
#include "launcher/launcher.h"
#include "launcher/server_requests.h"

#include "platform/files.h"
#include "services/clock.h"
#include "services/metrics.h"
#include "tests/integration/launcher/server_admin.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"
#include "tests/unit/launcher/fake_ports.h"
#include "tests/wine/tree_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

namespace
{

using namespace kr::launcher;
using kr::test::AdminCall;
using kr::test::Env;

const char* const kSettings = R"("settings": {"HttpServer": "http://web.test", "ErrorPage": "%s-%s-%s.html",
    "MinimumDiscMemory": 10, "Language": "en", "AvailableLanguages": "en,de", "StudioLanguageCode": 1},
  "languages": {"en": {"LABEL_PLAY": "play", "LABEL_INSTALL_PROGRESS": "Installing",
                       "LABEL_INSTALLATION_COMPLETED": "Done", "StudioLanguageCode": "1"},
                "de": {"LABEL_PLAY": "spielen", "StudioLanguageCode": "3"}})";

std::atomic<uint32_t> g_clockMs{0};
uint32_t FixedClock()
{
    return g_clockMs.load();
}

class LauncherFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        launcherServer = Env("KR_TEST_LAUNCHER_SERVER");
        metricsServer = Env("KR_TEST_METRICS_SERVER");
        downloadServer = Env("KR_TEST_DOWNLOAD_SERVER");
        if (launcherServer.empty() || metricsServer.empty() || downloadServer.empty())
            GTEST_SKIP() << "run through tests/support/run_with_servers.sh";
        ASSERT_FALSE(AdminCall(launcherServer, "reset").empty());
        ASSERT_FALSE(AdminCall(metricsServer, "reset").empty());
        SetMetricsUrl(metricsServer + "/data/");
        options.installer.timings.startDelayMs = 0;
        options.gatherSystemInfo = [this](CKrSystemInfo& info) { info.diskFreeMb = diskFreeMb; };
    }

    void TearDown() override
    {
        if (launcher)
            launcher->ShutDown();
    }

    void Configure(const std::string& downloadData, const std::string& more = "")
    {
        std::string json = "{" + std::string(kSettings) + ", \"download_server\": \"" + downloadData + "\"" +
                           (more.empty() ? "" : ", " + more) + "}";
        ASSERT_FALSE(AdminCall(launcherServer, "config", json).empty());
    }

    void Start(const std::string& options_, const std::string& server = "")
    {
        launcher = std::make_unique<CKrLauncher>(KrLauncherPorts{window, browser, registry, shell, folders}, options);
        ASSERT_TRUE(launcher->StartUp("-LauncherServer=" + (server.empty() ? launcherServer : server) +
                                      " -ProjectPath=" + dir.Path() + " -PreLauncherPath=C:\\Pre\\ " + options_));
    }

    std::string LastNavigation() const
    {
        for (auto it = browser.calls.rbegin(); it != browser.calls.rend(); ++it)
            if (it->rfind("navigate ", 0) == 0)
                return it->substr(9);
        return "<none>";
    }

    // Ticks timer 3 (and paints) until the installation is seen complete.
    bool TickUntilInstalled(int timeoutMs = 60000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline)
        {
            launcher->OnTimer(kTimerProgress);
            launcher->Paint();
            if (launcher->State().installComplete)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Every event the metrics receiver got, in order, after the final flush of ShutDown.
    std::vector<rapidjson::Document> ReceivedEvents()
    {
        launcher->ShutDown();
        std::vector<rapidjson::Document> events;
        rapidjson::Document batches = kr::test::AdminJson(metricsServer, "batches");
        if (!batches.IsArray())
            return events;
        for (const auto& batch : batches.GetArray())
        {
            EXPECT_TRUE(batch["valid"].GetBool()) << "every batch is signed with the login token";
            rapidjson::Document body;
            body.Parse(batch["body"].GetString());
            for (const auto& event : body["events"].GetArray())
            {
                events.emplace_back();
                events.back().CopyFrom(event, events.back().GetAllocator());
            }
        }
        launcher.reset();
        return events;
    }

    std::string launcherServer;
    std::string metricsServer;
    std::string downloadServer;
    uint32_t diskFreeMb = 100000;
    kr::test::TempDir dir;
    kr::test::FakeWindow window;
    kr::test::FakeBrowser browser;
    kr::test::FakeRegistry registry;
    kr::test::FakeShell shell;
    kr::test::FakeFolders folders;
    KrLauncherOptions options;
    std::unique_ptr<CKrLauncher> launcher;
};

TEST_F(LauncherFlowTest, StartUpRequestsAndTheSwitchToTheMainWindow)
{
    Configure("");
    Start("-sid=abc -customer_id=7 -language_code=de");

    // The language given on the command line is loaded at once, and again after the handshake.
    auto requests = kr::test::RecordedLauncherRequests(launcherServer);
    const char* paths[] = {kLanguageDataPath, kLauncherDataPath, kDownloadDataPath, kLanguageDataPath};
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].path, paths[i]);
        const auto& body = requests[i].body;
        ASSERT_TRUE(body.IsObject());
        EXPECT_EQ(body.MemberCount(), requests[i].path == kLanguageDataPath ? 2u : 1u);
        EXPECT_EQ(body["launcher_version"].GetUint(), 1000u);
        if (body.HasMember("language_code"))
        {
            EXPECT_STREQ(body["language_code"].GetString(), "de");
        }
    }
    EXPECT_EQ(launcher->Config().labels[kLabelPlay].AsWideText(), u"SPIELEN");
    EXPECT_EQ(launcher->Config().studioLanguageCode, "3");
    EXPECT_EQ(registry.keys[std::string(kProtocolKey) + "\\shell\\open\\command"][""],
              "\"C:\\Pre\\Quorvale.exe\" -uri=%1");
    EXPECT_EQ(window.timers, (std::map<uint32_t, uint32_t>{{1, 2500}}));

    window.calls.clear();
    launcher->OnTimer(kTimerMainWindow);
    // 1024 x 650 web area on a 1920 x 1080 screen, frames 3 and caption 19.
    EXPECT_EQ(window.calls, (std::vector<std::string>{"kill timer 1", "style 13238272", "move 448,199 1030x707",
                                                      "hide", "exstyle 11", "set timer 2 250"}));
    EXPECT_EQ(LastNavigation(), "http://web.test/de/?sid=abc&customer_id=7");
    EXPECT_EQ(launcher->State().layout.bottomBar, (KrRect{0, 634, 1024, 682}));

    window.calls.clear();
    launcher->OnTimer(kTimerShow);
    launcher->OnTimer(99);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"show", "kill timer 2", "set timer 3 1000"}));
    EXPECT_EQ(window.timers, (std::map<uint32_t, uint32_t>{{3, 1000}}));
}

TEST_F(LauncherFlowTest, FirstPageRules)
{
    struct Case
    {
        const char* name;
        std::string downloadData;
        std::string more;
        std::string options;
        bool unreachable;
        bool localPage;
        std::string expected; // the last navigation, or the window's last two calls
    };
    const std::string errorPage = dir.Path() + kLocalErrorPage;
    const Case cases[] = {
        {"launcher data fails", "", "", "", true, true, errorPage},
        {"launcher data fails, no local page", "", "", "", true, false, "message Error: system error 1256|quit"},
        {"one field", "", R"("errors": {"data": "a"})", "", false, false, "http://web.test/en/a--.html"},
        {"two fields", "", R"("errors": {"download_data": "a_b"})", "", false, false, "http://web.test/en/a-b-.html"},
        {"three fields", "", R"("errors": {"data": "a_b_c"})", "", false, false, "http://web.test/en/a-b-c.html"},
        {"four fields", "", R"("errors": {"data": "a_b_c_d"})", "", false, false, "<none>"},
        {"language error", "", "", "-language_code=xx", false, false, "http://web.test/xx/unknown-language-.html"},
        {"disk requirement", downloadServer, R"("settings": {"HttpServer": "http://web.test",
            "ErrorPage": "%s-%s-%s.html", "MinimumDiscMemory": 4000})", "", false, false,
         "http://web.test/en/MinimumDiscMemory-4000-100.html"},
        {"disk size error", downloadServer, "", "-diskSizeError=", false, false,
         "http://web.test/en/MinimumDiscMemory-10-100.html"},
        {"no sid", "", "", "", false, false, "http://web.test"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Configure(c.downloadData, c.more);
        kr::os::MakeDirectories(dir.Path() + "ErrorPage\\");
        if (c.localPage)
            kr::test::WriteWholeFile(kr::os::NativePath(errorPage), "<html/>");
        else
            kr::os::DeleteFile(errorPage);
        diskFreeMb = c.downloadData.empty() ? 100000 : 100;
        if (c.options == "-diskSizeError=")
            diskFreeMb = 100;
        browser.calls.clear();
        window.calls.clear();
        std::string nobody = "http://127.0.0.1:9"; // discard port: refused at once
        Start(c.options, c.unreachable ? nobody : "");
        launcher->OnTimer(kTimerMainWindow);
        if (c.expected.find('|') != std::string::npos)
        {
            ASSERT_GE(window.calls.size(), 3u);
            EXPECT_EQ(window.calls[window.calls.size() - 3] + "|" + window.calls[window.calls.size() - 2],
                      c.expected);
        }
        else
        {
            EXPECT_EQ(LastNavigation(), c.expected);
        }
        if (!c.downloadData.empty())
        {
            ASSERT_NE(launcher->Installer(), nullptr);
            int state = -1;
            launcher->Installer()->GetStatus(&state, nullptr, nullptr, nullptr, nullptr);
            EXPECT_EQ(state, CKrInstaller::StateIdle) << "a failed requirement never starts the installer";
        }
        launcher->ShutDown();
        launcher.reset();
    }
}

TEST_F(LauncherFlowTest, InstallLoginAndPlay)
{
    Configure(downloadServer, R"("game_data": {"LauncherHash": "game-hash", "UserId": 43})");
    ASSERT_FALSE(AdminCall(metricsServer, "config", R"({"keys": {"42": "tok"}})").empty());
    registry.keys[kUserSettingsKey][kUserNameValue] = "anna";
    Start("");
    launcher->OnTimer(kTimerMainWindow);
    launcher->OnTimer(kTimerShow);
    const KrRect button = launcher->State().layout.buttonHit;

    // The login form is pre-filled, the typed name captured and stored with the login.
    browser.fields = {{"username", u""}, {"password", u""}};
    launcher->OnDocumentComplete("http://web.test/en/login");
    EXPECT_EQ(browser.fields["username"], u"anna");
    EXPECT_EQ(browser.calls.back(), "focus password");
    browser.fields["username"] = u"bob";
    launcher->OnBeforeNavigate("http://web.test/en/login/submit");
    launcher->OnNavigateComplete("http://web.test/en/play?qvo=tok&customer_id=42&sid=s1");
    EXPECT_EQ(registry.keys[kUserSettingsKey][kUserNameValue], "bob");
    EXPECT_EQ(launcher->State().launcherHash, "tok");
    EXPECT_EQ(launcher->Config().sid, "s1");

    launcher->OnLButtonDown(button.left + 1, button.top + 1);
    launcher->OnLButtonUp(button.left + 1, button.top + 1);
    EXPECT_TRUE(shell.calls.empty()) << "the play button waits for the installation";

    ASSERT_TRUE(TickUntilInstalled());
    EXPECT_EQ(kr::test::MissingOrDifferent(kr::test::HostPath(Env("KR_TEST_RELEASE_IMAGE")) + "/Data",
                                           dir.Path() + "Data"),
              std::vector<std::string>());
    uint64_t size = 0;
    EXPECT_TRUE(kr::os::GetFileSize(dir.Path() + kLauncherPackage, &size)) << "the package stays a zip";
    EXPECT_TRUE(kr::os::GetFileSize(dir.Path() + kLocalErrorPage, &size));
    EXPECT_TRUE(kr::os::GetFileSize(dir.Path() + kGameExecutable, &size));
    EXPECT_NE(std::find(window.calls.begin(), window.calls.end(), "taskbar none"), window.calls.end());
    EXPECT_TRUE(shell.calls.empty()) << "no launcher in the project folder: no restart";

    // The completion text shows for four seconds after timer 3 saw the installation complete.
    auto statusText = [&]()
    {
        std::u16string text = u"<none>";
        for (const KrDrawItem& item : launcher->Paint().items)
            if (item.kind == KrDrawItem::Kind::Text && item.font == KrFont::Status)
                text = item.text;
        return text;
    };
    g_clockMs = launcher->State().completionTime + kCompletedTextMs - 1;
    CKrTime::SetClockSourceForTesting(FixedClock);
    EXPECT_EQ(statusText(), u"Done");
    g_clockMs = launcher->State().completionTime + kCompletedTextMs;
    EXPECT_EQ(statusText(), u"<none>");
    CKrTime::SetClockSourceForTesting(nullptr);

    // Ready: the hand over the button, and only a press and a release both inside it start the game.
    launcher->OnMouseMove(button.left, button.bottom - 1);
    EXPECT_EQ(window.cursor, KrCursor::Hand);
    EXPECT_EQ(launcher->Paint().cursor, KrCursor::Hand);
    launcher->OnLButtonDown(button.left + 1, button.top + 1);
    launcher->OnLButtonUp(button.left - 1, button.top + 1);
    launcher->OnLButtonDown(button.left + 1, button.bottom);
    launcher->OnLButtonUp(button.left + 1, button.top + 1);
    EXPECT_TRUE(shell.calls.empty());

    window.calls.clear();
    launcher->OnLButtonDown(button.left + 1, button.top + 1);
    launcher->OnLButtonUp(button.left + 1, button.top + 1);
    EXPECT_EQ(shell.calls, (std::vector<std::string>{
                               "start KelvaneRuntimeMMO.exe [ -StudioLanguageCode=1 -Language=en "
                               "-NetworkLauncherHash=game-hash -ProjectUserDataPath= -NetworkLauncherServer=" +
                               launcherServer + " -NetworkUserId=43] in " + dir.Path()}));
    EXPECT_EQ(window.calls, (std::vector<std::string>{"quit"}));
    auto requests = kr::test::RecordedLauncherRequests(launcherServer);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().path, kGameDataPath);
    EXPECT_EQ(requests.back().body["launcher_hash"].GetString(), std::string("tok"));
    EXPECT_EQ(requests.back().body["customer_id"].GetUint(), 42u);

    std::vector<uint32_t> types;
    std::vector<uint32_t> percentages;
    const uint32_t lastDecile = launcher->State().lastProgressDecile;
    for (const auto& event : ReceivedEvents())
    {
        types.push_back(event["event_type"].GetUint());
        if (types.back() == kEventProgress)
            percentages.push_back(event["percentage"].GetUint());
        if (types.back() == kEventLogin)
        {
            EXPECT_EQ(event["platform"].GetInt(), 0);
            EXPECT_EQ(event["launcher_version"].GetUint(), 1000u);
            EXPECT_EQ(event["game_version"].GetUint(), 0u);
        }
    }
    for (uint32_t expected : {kEventProtocolRegistered, kEventStartedDirectly, kEventLogin, kEventGameStart})
        EXPECT_EQ(std::count(types.begin(), types.end(), expected), 1) << expected;
    // A small local install may finish between two paints, leaving no step to report; every step the
    // launcher did report must arrive.
    if (lastDecile == 0)
        EXPECT_TRUE(percentages.empty());
    else
        ASSERT_EQ(percentages.empty() ? 0u : percentages.back(), lastDecile * 10);
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()));
    EXPECT_EQ(std::adjacent_find(percentages.begin(), percentages.end()), percentages.end());
    for (uint32_t percentage : percentages)
        EXPECT_TRUE(percentage % 10 == 0 && percentage >= 10 && percentage <= 100) << percentage;
}

TEST_F(LauncherFlowTest, DiskRequirementCountsWhatIsInstalledAlready)
{
    Configure(downloadServer, R"("settings": {"HttpServer": "http://web.test", "ErrorPage": "%s-%s-%s.html",
        "MinimumDiscMemory": 4000})");
    Start("");
    ASSERT_TRUE(TickUntilInstalled());
    launcher->ShutDown();
    launcher.reset();

    // Sparse files: large in the listing, free on the disk.
    namespace fs = std::filesystem;
    const fs::path big = fs::path(kr::os::NativePath(dir.Path())) / "big.bin";
    auto installedMb = [&]()
    {
        uintmax_t bytes = 0;
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(kr::os::NativePath(dir.Path()))))
            if (entry.is_regular_file())
                bytes += entry.file_size();
        return static_cast<int>(bytes >> 20);
    };
    std::ofstream(big).close();
    fs::resize_file(big, uintmax_t(1500) << 20);
    diskFreeMb = 2400;
    Start("");
    launcher->OnTimer(kTimerMainWindow);
    EXPECT_EQ(LastNavigation(), "http://web.test/en/MinimumDiscMemory-" + std::to_string(4000 - installedMb()) +
                                    "-2400.html");
    launcher->ShutDown();

    fs::resize_file(big, uintmax_t(5000) << 20);
    diskFreeMb = 0;
    Start("");
    launcher->OnTimer(kTimerMainWindow);
    EXPECT_EQ(LastNavigation(), "http://web.test");
    EXPECT_TRUE(launcher->State().requirementsMet);
    EXPECT_TRUE(TickUntilInstalled()) << "the installer runs";
}

TEST_F(LauncherFlowTest, LanguageSwitchAndLogout)
{
    Configure(downloadServer);
    Start("");
    launcher->OnTimer(kTimerMainWindow);
    ASSERT_TRUE(TickUntilInstalled());
    launcher->OnNavigateComplete("http://web.test/en/play?qvo=tok&customer_id=42");
    // Installed and logged in: the button is green; the log-out below must turn it grey.
    KrDisplayList ready = launcher->Paint();
    ASSERT_GE(ready.items.size(), 2u);
    EXPECT_EQ(ready.items[ready.items.size() - 2].color, kr::colors::kGreen);
    launcher->OnNavigateComplete("https://www.quorvale.games/fr/news"); // not offered
    launcher->OnNavigateComplete("https://www.quorvale.games/de/news");
    EXPECT_EQ(launcher->Config().languageCode, "de");
    EXPECT_EQ(launcher->Config().labels[kLabelPlay].AsWideText(), u"SPIELEN");
    auto requests = kr::test::RecordedLauncherRequests(launcherServer);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().path, kLanguageDataPath);
    EXPECT_EQ(requests.back().body["language_code"].GetString(), std::string("de"));

    launcher->OnBeforeNavigate("http://web.test/de/logout");
    EXPECT_TRUE(launcher->State().launcherHash.empty());
    KrDisplayList list = launcher->Paint();
    ASSERT_FALSE(list.items.empty());
    EXPECT_EQ(list.items.back().text, u"SPIELEN");
    // The button under its caption is grey again.
    EXPECT_EQ(list.items[list.items.size() - 2].color, kr::colors::kGrey);
}

TEST_F(LauncherFlowTest, AFailingLanguageAnswerEndsTheLanguageSwitch)
{
    // The web server lies under the language domain, and every language answer reports an error.
    Configure("", R"("settings": {"HttpServer": "https://www.quorvale.games", "ErrorPage": "%s.html",
        "MinimumDiscMemory": 10, "Language": "en", "AvailableLanguages": "en,de"},
        "errors": {"language_data": "down"})");
    Start("");
    launcher->OnTimer(kTimerMainWindow);
    auto languageRequests = [this]
    {
        size_t count = 0;
        for (const auto& request : kr::test::RecordedLauncherRequests(launcherServer))
            count += request.path == kLanguageDataPath ? 1 : 0;
        return count;
    };
    // The browser completes every navigation the launcher asks for, as a real one would.
    auto completeNavigations = [this]
    {
        int rounds = 0;
        for (; rounds < 20 && LastNavigation() != "<none>"; ++rounds)
        {
            const std::string url = LastNavigation();
            browser.calls.clear();
            launcher->OnNavigateComplete(url);
        }
        return rounds;
    };
    const size_t atStart = languageRequests();
    ASSERT_GE(atStart, 1u);

    // The player picks another language: one request, its error page, and no further switch.
    browser.calls.clear();
    launcher->OnNavigateComplete("https://www.quorvale.games/de/news");
    EXPECT_EQ(LastNavigation(), "https://www.quorvale.games/de/down.html");
    EXPECT_EQ(completeNavigations(), 1);
    EXPECT_EQ(languageRequests(), atStart + 1);
    EXPECT_EQ(launcher->Config().languageCode, "de");
}

} // namespace
