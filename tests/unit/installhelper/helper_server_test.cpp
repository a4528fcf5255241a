#include "installhelper/install_helper.h"
#include "installhelper/signed_request.h"

#include "platform/files.h"
#include "platform/threads.h"
#include "tests/support/servers.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <set>

using namespace kr::helper;

namespace
{

std::vector<std::string> TestKeys(const char* prefix)
{
    std::vector<std::string> keys;
    for (int i = 0; i < CKrHttpRequest::kKeyCount; ++i)
        keys.push_back(prefix + std::to_string(100 + i));
    return keys;
}

std::string Joined(const std::vector<std::string>& keys)
{
    std::string all;
    for (const std::string& k : keys)
        all += (all.empty() ? "" : ",") + k;
    return all;
}

class HelperServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start("helper_settings.py",
                                   {"--keys", Joined(m_keys), "--download-server",
                                    "127.0.0.1:" + std::to_string(kr::test::UnusedLoopbackPort())}));
    }

    CKrInstallHelperConfig Config()
    {
        CKrInstallHelperConfig config;
        config.launcherServerUrl = m_server.Url();
        config.signatureKeys = m_keys;
        std::string shared = m_shared.Path(), user = m_user.Path();
        shared.pop_back();
        user.pop_back();
        config.findBaseFolders = [shared, user](std::string& s, std::string& u)
        {
            s = shared;
            u = user;
        };
        config.timings.startDelayMs = 0;
        return config;
    }

    // Polls until the status leaves 0..99 or the time is up.
    static int FinalStatus(CKrInstallHelper& helper)
    {
        for (int i = 0; i < 500; ++i)
        {
            int status = helper.GetInstallPluginStatus();
            if (status < 0 || status == 100)
                return status;
            kr::os::SleepMs(10);
        }
        return helper.GetInstallPluginStatus();
    }

    std::vector<std::string> m_keys = TestKeys("Ks");
    kr::test::DevServer m_server;
    kr::test::TempDir m_shared, m_user;
};

} // namespace

TEST_F(HelperServer, SignedRequestIsAcceptedAndCarriesNoKey)
{
    const std::regex layout("/data\\?signature_version=([0-9]+)&signature=[0-9a-f]{40}\"");
    std::vector<int> versions;
    for (int i = 0; i < 25; ++i)
    {
        CKrHttpRequest request(m_keys);
        // Without the scheme: "http://" goes in front.
        ASSERT_EQ(1, request.SendSignedRequest(m_server.Url("127.0.0.1") + "/data"));
        EXPECT_EQ("127.0.0.1:", GetSetting(request.GetAnswer(), "downloadserver").substr(0, 10));
    }
    std::string log = m_server.Admin("requests");
    for (std::sregex_iterator it(log.begin(), log.end(), layout), end; it != end; ++it)
        versions.push_back(std::stoi((*it)[1]));
    EXPECT_EQ(versions.size(), 25u) << "every request shows its key index";
    for (const std::string& key : m_keys)
        EXPECT_EQ(std::string::npos, log.find(key));

    // Keys the server does not hold: an answer still arrives, without the setting.
    CKrHttpRequest stranger(TestKeys("Xx"));
    ASSERT_EQ(1, stranger.SendSignedRequest(m_server.Url() + "/data"));
    EXPECT_STREQ("bad signature", stranger.GetAnswer());

    CKrHttpRequest unreachable(m_keys);
    EXPECT_EQ(0, unreachable.SendSignedRequest(
                     "http://127.0.0.1:" + std::to_string(kr::test::UnusedLoopbackPort()) + "/data"));
}

TEST_F(HelperServer, PluginRunReportsAnUnreachableDownloadServerAndUninstallRemovesTheRoot)
{
    CKrInstallHelper helper(Config());
    EXPECT_EQ(0, helper.GetInstallPluginStatus());
    std::string shared = m_shared.Path();
    shared.pop_back();
    EXPECT_EQ(shared + "\\QuorvaleOnline\\", std::string(helper.GetInstallDirectory()));
    ASSERT_EQ(1, helper.InstallPlugin());
    EXPECT_EQ("127.0.0.1:", helper.DownloadServer().substr(0, 10));
    EXPECT_EQ(-1, FinalStatus(helper));
    EXPECT_EQ(1, helper.EndInstall());
    EXPECT_EQ(0, helper.GetInstallPluginStatus());
    EXPECT_EQ(1, helper.EndInstall());

    // An answer without the setting: the engine starts with no server and fails the same way.
    m_server.Admin("config", R"({"settings":"-Other=1 DownloadServer=nope"})");
    ASSERT_EQ(1, helper.InstallPlugin());
    EXPECT_EQ("", helper.DownloadServer());
    EXPECT_EQ(-1, FinalStatus(helper));
    helper.EndInstallPlugin();

    // A file the removal keeps (a dot-file) leaves a partial tree and reports -2.
    const std::string root = helper.Directories().installRoot;
    kr::test::WriteWholeFile(kr::os::NativePath(root + ".keep"), "x");
    EXPECT_EQ(-2, helper.Uninstall());
    EXPECT_TRUE(kr::os::IsDirectory(root));
    std::remove(kr::os::NativePath(root + ".keep").c_str());

    ASSERT_TRUE(kr::os::IsDirectory(helper.Directories().installRoot));
    EXPECT_EQ(0, helper.Uninstall());
    EXPECT_FALSE(kr::os::IsDirectory(helper.Directories().installRoot));
}

TEST_F(HelperServer, NoAnswerMeansNoEngine)
{
    CKrInstallHelperConfig config = Config();
    config.launcherServerUrl = "http://127.0.0.1:" + std::to_string(kr::test::UnusedLoopbackPort());
    CKrInstallHelper helper(config);
    EXPECT_EQ(0, helper.InstallPlugin());
    EXPECT_EQ(0, helper.GetInstallPluginStatus());
}

TEST(HelperAnswerLimits, AnAnswerTooLargeOrTooSlowCountsAsNone)
{
    kr::test::TempDir root;
    const std::size_t cap = KrAnswerLimits().maxBytes;
    ASSERT_EQ(cap, std::size_t(8) << 20) << "the launcher's own cap";
    kr::test::WriteWholeFile(root.Path() + "fits", std::string(cap, 'a'));
    kr::test::WriteWholeFile(root.Path() + "data", "-DownloadServer=x " + std::string(cap, 'a'));
    kr::test::WriteWholeFile(root.Path() + "slow", std::string(60000, 'b')); // three seconds on /slow/
    kr::test::OddServer server;
    ASSERT_TRUE(server.Start(root.Path()));

    CKrHttpRequest request(TestKeys("Ks"));
    std::string body;
    EXPECT_EQ(1, request.HttpGet(server.Url() + "/fits", body));
    EXPECT_EQ(cap, body.size());
    body = "before";
    EXPECT_EQ(0, request.HttpGet(server.Url() + "/data", body));
    EXPECT_EQ("before", body) << "nothing of a refused answer is kept";

    request.SetLimits({cap, 500});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, request.HttpGet(server.Url() + "/slow/slow", body));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    request.SetLimits({cap, 10000});
    body.clear();
    EXPECT_EQ(1, request.HttpGet(server.Url() + "/slow/slow", body)) << "the same answer in time";
    EXPECT_EQ(60000u, body.size());

    // The plug-in run: an answer over the cap starts no engine.
    kr::test::TempDir shared, user;
    CKrInstallHelperConfig config;
    config.launcherServerUrl = server.Url();
    config.signatureKeys = TestKeys("Ks");
    config.findBaseFolders = [&](std::string& s, std::string& u)
    {
        s = shared.Path().substr(0, shared.Path().size() - 1);
        u = user.Path().substr(0, user.Path().size() - 1);
    };
    CKrInstallHelper helper(config);
    EXPECT_EQ(0, helper.InstallPlugin());
    EXPECT_FALSE(helper.HasEngine());
}
