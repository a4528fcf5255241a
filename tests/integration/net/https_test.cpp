#include "services/http_post.h"
#include "services/http_request.h"
#include "tests/support/servers.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace {

using kr::test::DevServer;

size_t RequestCount(const DevServer& server)
{
    rapidjson::Document doc;
    doc.Parse(server.Admin("requests").c_str());
    return doc.IsArray() ? doc.Size() : 0;
}

class HttpsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new kr::test::TempDir;
        pki = new kr::test::TestPki;
        ASSERT_TRUE(kr::test::MakeTestPki(dir->Path(), *pki));
        trusted = new DevServer;
        ASSERT_TRUE(trusted->Start("recording_server.py", {"--tls-cert", pki->serverCert, "--tls-key", pki->serverKey}));
        rogue = new DevServer;
        ASSERT_TRUE(rogue->Start("recording_server.py", {"--tls-cert", pki->rogueCert, "--tls-key", pki->rogueKey}));
    }
    static void TearDownTestSuite()
    {
        delete rogue;
        delete trusted;
        delete pki;
        delete dir;
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, trusted);
        SetCaBundleForTesting(pki->caCert);
    }
    void TearDown() override { SetCaBundleForTesting(""); }

    static kr::test::TempDir* dir;
    static kr::test::TestPki* pki;
    static DevServer* trusted;
    static DevServer* rogue;
};
kr::test::TempDir* HttpsTest::dir = nullptr;
kr::test::TestPki* HttpsTest::pki = nullptr;
DevServer* HttpsTest::trusted = nullptr;
DevServer* HttpsTest::rogue = nullptr;

TEST_F(HttpsTest, CertificateIssuedByTheTrustedCaIsAccepted)
{
    std::string response;
    EXPECT_TRUE(PerformHttpPost(trusted->Url("https://localhost").c_str(), "/hello", "{}", &response, nullptr));
    EXPECT_EQ("{}", response);
}

TEST_F(HttpsTest, UntrustedCertificateOrWrongHostIsRefused)
{
    std::string response;
    EXPECT_FALSE(PerformHttpPost(rogue->Url("https://localhost").c_str(), "/x", "{}", &response, nullptr))
        << "self-signed certificate";
    EXPECT_FALSE(PerformHttpPost(trusted->Url("https://127.0.0.1").c_str(), "/x", "{}", &response, nullptr))
        << "certificate names localhost, not the address";
    SetCaBundleForTesting("");
    EXPECT_FALSE(PerformHttpPost(trusted->Url("https://localhost").c_str(), "/x", "{}", &response, nullptr))
        << "the test CA is not in the system trust store";
    EXPECT_TRUE(response.empty());
}

// These servers speak only TLS, so their admin API is reached through the transfer under test,
// verified against the test CA.
std::string HttpsAdmin(const DevServer& server, const std::string& call, const std::string& json)
{
    std::string response;
    PerformHttpPost(server.Url("https://localhost").c_str(), ("/_admin/" + call).c_str(), json.c_str(), &response,
                    nullptr);
    return response;
}

TEST_F(HttpsTest, RedirectsAreFollowedOnlyToHttps)
{
    DevServer plain;
    ASSERT_TRUE(plain.Start("recording_server.py"));
    ASSERT_FALSE(HttpsAdmin(*trusted, "config",
                            R"({"routes": {"/from": {"status": 307, "location": "/to"},
                                           "/down": {"status": 307, "location": ")" +
                                plain.Url() + R"(/plain"},
                                           "/to": {"body": "arrived"}}})")
                     .empty());
    std::string response;
    EXPECT_TRUE(PerformHttpPost(trusted->Url("https://localhost").c_str(), "/from", "{}", &response, nullptr));
    EXPECT_EQ("arrived", response);

    response.clear();
    EXPECT_FALSE(PerformHttpPost(trusted->Url("https://localhost").c_str(), "/down", "{}", &response, nullptr));
    EXPECT_EQ(0u, RequestCount(plain)) << "an https request must never be redirected to plain http";
    HttpsAdmin(*trusted, "reset", "{}");
}

TEST_F(HttpsTest, PostJsonKeepsAnHttpsBaseUrl)
{
    ASSERT_TRUE(HttpsAdmin(*trusted, "reset", "{}").find("ok") != std::string::npos);
    ASSERT_FALSE(HttpsAdmin(*trusted, "config", R"({"body": "{\"status\": 4}"})").empty());
    CKrHttpRequest request;
    ASSERT_TRUE(request.PostJson(trusted->Url("https://localhost").append("/base").c_str(), "/launcher/data/"));
    EXPECT_EQ(4, request.GetInt("status"));
    rapidjson::Document doc;
    doc.Parse(HttpsAdmin(*trusted, "requests", "{}").c_str());
    ASSERT_TRUE(doc.IsArray());
    ASSERT_EQ(1u, doc.Size());
    EXPECT_EQ(0u, std::string(doc[0]["path"].GetString()).find("/launcher/data/?Rand="));
    HttpsAdmin(*trusted, "reset", "{}");
}

} // namespace
