#include "launcher/command_line.h"
#include "launcher/launcher_config.h"
#include "launcher/server_requests.h"
#include "services/http_request.h"
#include "tests/support/servers.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/launcher/fake_ports.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace
{

using namespace kr::launcher;
using kr::test::DevServer;

const char* const kServerConfig = R"({
  "settings": {"HttpServer": "http://web.test", "ErrorPage": "%s_%s_%s.html", "LauncherWindowWidth": 1100,
               "MinimumDiscMemory": 4000, "Language": "fr", "StudioLanguageCode": 12,
               "AvailableLanguages": "en,de", "WhiteListURL": "pay.test*/ok"},
  "download_server": "dl.test/game",
  "languages": {"de": {"LABEL_PLAY": "spielen", "LABEL_INSTALL_INIT": "Vorbereitung l\u00e4uft",
                       "StudioLanguageCode": "3"}},
  "game_data": {"LauncherHash": "h-1", "UserId": 99}
})";

struct Recorded
{
    std::string path;
    rapidjson::Document body;
};

std::vector<Recorded> Requests(const DevServer& server)
{
    std::vector<Recorded> out;
    for (const auto& r : server.Requests())
    {
        out.emplace_back();
        out.back().path = r.path;
        out.back().body.Parse(r.body.c_str());
    }
    return out;
}

class LauncherHandshakeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kr::test::WriteWholeFile(dir.Path() + "config.json", kServerConfig);
        ASSERT_TRUE(server.Start("launcher_server.py", {"--config", dir.Path() + "config.json"}));
        CKrCommandLine commandLine;
        commandLine.Parse("-LauncherServer=" + server.Url() + " -language_code=de -sid=abc -customer_id=7");
        languageGiven = config.ApplyCommandLine(commandLine, folders);
    }

    kr::test::TempDir dir;
    DevServer server;
    kr::test::FakeFolders folders;
    CKrLauncherConfig config;
    bool languageGiven = false;
};

} // namespace

TEST_F(LauncherHandshakeTest, RequestsCarryTheirFieldsAndAnswersFillTheConfiguration)
{
    ASSERT_TRUE(languageGiven);
    CKrHttpRequest request;
    ASSERT_TRUE(PostLauncherData(request, config.launcherServer));
    config.ApplySettings(request);
    ASSERT_TRUE(PostDownloadData(request, config.launcherServer));
    config.ApplyDownloadSettings(request);
    CKrHttpRequest language;
    ASSERT_TRUE(PostLanguageData(language, config.launcherServer, config.languageCode));
    config.ApplyLanguageTexts(language);
    CKrHttpRequest game;
    ASSERT_TRUE(PostGameData(game, config.launcherServer, "token", config.customerId));

    EXPECT_FALSE(config.serverError);
    EXPECT_EQ(config.webServer, "http://web.test");
    EXPECT_EQ(config.mainWidth, 1100);
    EXPECT_EQ(config.mainHeight, 650);
    EXPECT_EQ(config.minimumDiscMemory, 4000);
    EXPECT_EQ(config.languageCode, "de"); // the command line's, not the server's "fr"
    EXPECT_EQ(config.urlWhiteList,
              (std::vector<std::vector<std::string>>{{"http://web.test"}, {"pay.test", "/ok"}}));
    EXPECT_EQ(config.downloadServer, "dl.test/game");
    EXPECT_EQ(config.labels[kLabelPlay].AsWideText(), u"SPIELEN");
    EXPECT_EQ(config.labels[kLabelInstallInit].AsWideText(), u"Vorbereitung l\u00e4uft");
    EXPECT_EQ(config.studioLanguageCode, "3");
    EXPECT_EQ(game.GetString("LauncherHash"), "h-1");
    EXPECT_EQ(game.GetUserId(), 99);

    std::vector<Recorded> requests = Requests(server);
    ASSERT_EQ(requests.size(), 4u);
    const char* paths[] = {kLauncherDataPath, kDownloadDataPath, kLanguageDataPath, kGameDataPath};
    const size_t members[] = {1, 1, 2, 3}; // nothing left over from the reused request object
    for (size_t i = 0; i < requests.size(); ++i)
    {
        SCOPED_TRACE(paths[i]);
        const rapidjson::Document& body = requests[i].body;
        EXPECT_EQ(requests[i].path.rfind(std::string(paths[i]) + "?Rand=", 0), 0u) << requests[i].path;
        ASSERT_TRUE(body.IsObject());
        EXPECT_EQ(body.MemberCount(), members[i]);
        ASSERT_TRUE(body.HasMember("launcher_version"));
        ASSERT_TRUE(body["launcher_version"].IsUint());
        EXPECT_EQ(body["launcher_version"].GetUint(), 1000u);
    }
    ASSERT_TRUE(requests[2].body["language_code"].IsString());
    EXPECT_STREQ(requests[2].body["language_code"].GetString(), "de");
    ASSERT_TRUE(requests[3].body["launcher_hash"].IsString());
    EXPECT_STREQ(requests[3].body["launcher_hash"].GetString(), "token");
    ASSERT_TRUE(requests[3].body["customer_id"].IsUint());
    EXPECT_EQ(requests[3].body["customer_id"].GetUint(), 7u);
}

TEST_F(LauncherHandshakeTest, ServerErrorsAndAnUnreachableServer)
{
    ASSERT_FALSE(server
                     .Admin("config", R"({"settings": {"HttpServer": "http://web.test"},
        "errors": {"data": "maintenance_a_b"}})")
                     .empty());
    CKrHttpRequest request;
    ASSERT_TRUE(PostLauncherData(request, config.launcherServer));
    config.ApplySettings(request);
    EXPECT_TRUE(config.serverError);
    EXPECT_EQ(config.serverErrorText, "maintenance_a_b");
    EXPECT_EQ(config.webServer, "http://web.test");

    // A language the server does not know is an error answer, not a failed transfer.
    CKrHttpRequest language;
    ASSERT_TRUE(PostLanguageData(language, config.launcherServer, "xx"));
    EXPECT_EQ(language.GetInt("status"), 0);
    EXPECT_EQ(language.GetString("Error"), "unknown_language");

    CKrHttpRequest unreachable;
    std::string nobody = "http://127.0.0.1:" + std::to_string(kr::test::UnusedLoopbackPort());
    EXPECT_FALSE(PostDownloadData(unreachable, nobody));
    config.ApplyDownloadSettings(unreachable);
    EXPECT_EQ(config.downloadServer, "");
}
