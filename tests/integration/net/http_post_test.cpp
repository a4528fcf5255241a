#include "services/http_post.h"
#include "services/http_request.h"
#include "tests/support/servers.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <regex>

namespace {

using kr::test::DevServer;

using Recorded = kr::test::RecordedRequest;

class HttpPostTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new DevServer;
        ASSERT_TRUE(server->Start("recording_server.py"));
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, server);
        ASSERT_FALSE(server->Admin("reset").empty());
    }
    void Reply(const std::string& config) { ASSERT_FALSE(server->Admin("config", config).empty()); }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(server->Port()); }

    static DevServer* server;
};
DevServer* HttpPostTest::server = nullptr;

TEST_F(HttpPostTest, PostJsonSendsTheRecordsToThePathWithRandAndParsesTheAnswer)
{
    Reply(R"({"body": "{\"status\": 0, \"Error\": \"\", \"UserId\": \"77\", \"ok\": true}"})");
    CKrHttpRequest request;
    request.AddUnsigned("launcher_version", 1000);
    request.AddField("language_code", "en", kRecordString);
    ASSERT_TRUE(request.PostJson(("http://" + HostPort() + "/base").c_str(), "/launcher/data/"));

    auto requests = server->Requests();
    ASSERT_EQ(1u, requests.size());
    const Recorded& r = requests[0];
    EXPECT_EQ("POST", r.method);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.path, m, std::regex("/launcher/data/\\?Rand=([0-9]+)"))) << r.path;
    EXPECT_LE(std::stoi(m[1]), 32767);
    EXPECT_EQ("application/json", r.Header("Content-Type"));
    EXPECT_EQ("*/*", r.Header("Accept"));
    EXPECT_EQ("<absent>", r.Header("User-Agent"));
    EXPECT_EQ("{\n\t\"launcher_version\": 1000,\n\t\"language_code\": \"en\"\n}\n", r.body);
    EXPECT_EQ(r.body, request.Body());

    EXPECT_EQ(0, request.GetInt("status"));
    EXPECT_TRUE(request.HasKey("Error"));
    EXPECT_EQ("", request.GetString("Error"));
    EXPECT_EQ(77, request.GetUserId());
    EXPECT_EQ("1", request.GetString("ok"));
}

TEST_F(HttpPostTest, UrlPathIsUsedWhenNoPathIsGivenAndSchemeDefaultsToHttp)
{
    CKrHttpRequest request;
    ASSERT_TRUE(request.PostJson(("http://" + HostPort() + "/base/x").c_str(), nullptr));
    ASSERT_TRUE(request.PostJson(HostPort().c_str(), nullptr)); // no scheme, no slash
    auto requests = server->Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_TRUE(std::regex_match(requests[0].path, std::regex("/base/x\\?Rand=[0-9]+"))) << requests[0].path;
    // "http://host?Rand=N": the request line carries the query on the root path.
    EXPECT_TRUE(std::regex_match(requests[1].path, std::regex("/\\?Rand=[0-9]+"))) << requests[1].path;
    EXPECT_EQ("{\n\n}\n", requests[1].body);
}

TEST_F(HttpPostTest, ErrorStatusStillParsesAndOddValuesReadAsZero)
{
    Reply(R"({"status": 500, "body": "{\"status\": 3, \"Error\": \"maintenance\", \"count\": \"abc\"}"})");
    CKrHttpRequest request;
    ASSERT_TRUE(request.PostJson(("http://" + HostPort()).c_str(), "/launcher/data/"));
    EXPECT_EQ(3, request.GetInt("status"));
    EXPECT_EQ("maintenance", request.GetString("Error"));
    EXPECT_EQ(0, request.GetInt("count"));
    EXPECT_EQ(0, request.GetInt("absent"));
}

TEST_F(HttpPostTest, SecondPostWithoutResetResendsRecordsAndLaterValuesWin)
{
    CKrHttpRequest request;
    request.AddField("k", "v", kRecordString);
    Reply(R"({"body": "{\"a\": \"1\", \"b\": \"x\"}"})");
    ASSERT_TRUE(request.PostJson(("http://" + HostPort()).c_str(), "/p/"));
    Reply(R"({"body": "{\"a\": \"2\"}"})");
    ASSERT_TRUE(request.PostJson(("http://" + HostPort()).c_str(), "/p/"));
    auto requests = server->Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(requests[0].body, requests[1].body);
    EXPECT_EQ("2", request.GetString("a"));
    EXPECT_EQ("x", request.GetString("b"));
    EXPECT_EQ("{\"a\": \"1\", \"b\": \"x\"}{\"a\": \"2\"}", request.Response());
}

TEST_F(HttpPostTest, TransportFailuresReturnFalseAndLeaveValuesAlone)
{
    CKrHttpRequest request;
    Reply(R"({"body": "{\"status\": 0}"})");
    ASSERT_TRUE(request.PostJson(("http://" + HostPort()).c_str(), "/p/"));

    // Refused: nothing listens there. Must fail at once, not after the connect limit.
    const auto start = std::chrono::steady_clock::now();
    std::string unused = "127.0.0.1:" + std::to_string(kr::test::UnusedLoopbackPort());
    EXPECT_FALSE(request.PostJson(unused.c_str(), "/p/"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // Closed without an answer.
    Reply(R"({"drop": true, "body": "{\"status\": 9}"})");
    EXPECT_FALSE(request.PostJson(("http://" + HostPort()).c_str(), "/p/"));
    EXPECT_EQ(0, request.GetInt("status"));
    EXPECT_TRUE(request.HasKey("status"));
}

TEST_F(HttpPostTest, OversizedAnswerIsRefused)
{
    // 9 MiB of answer, above the 8 MiB cap.
    Reply(R"({"body": ")" + std::string(1024, 'x') + R"(", "repeat": 9216})");
    std::string response;
    EXPECT_FALSE(PerformHttpPost(("http://" + HostPort()).c_str(), "/big", "", &response, nullptr));
    EXPECT_LE(response.size(), kKrMaxResponseBytes);

    Reply(R"({"body": ")" + std::string(1024, 'y') + R"(", "repeat": 1024})");
    response.clear();
    EXPECT_TRUE(PerformHttpPost(("http://" + HostPort()).c_str(), "/ok", "", &response, nullptr));
    EXPECT_EQ(1024u * 1024u, response.size());
}

TEST_F(HttpPostTest, DefaultHeadersEmptyBodyAndNoRedirectOverPlainHttp)
{
    Reply(R"({"status": 302, "location": "/elsewhere", "body": "moved"})");
    std::string response = "kept:";
    ASSERT_TRUE(PerformHttpPost(("http://" + HostPort()).c_str(), "/from?q=1", "", &response, nullptr));
    EXPECT_EQ("kept:moved", response);
    auto requests = server->Requests();
    ASSERT_EQ(1u, requests.size()) << "plain http must not follow the redirect";
    EXPECT_EQ("POST", requests[0].method);
    EXPECT_EQ("/from?q=1", requests[0].path);
    EXPECT_EQ("application/x-www-form-urlencoded", requests[0].Header("Content-Type"));
    EXPECT_EQ("*/*", requests[0].Header("Accept"));
    EXPECT_EQ("0", requests[0].Header("Content-Length"));

    // A null target makes the transfer fail as soon as data arrives.
    EXPECT_FALSE(PerformHttpPost(("http://" + HostPort()).c_str(), "/x", "", nullptr, nullptr));
}

} // namespace

namespace {

// The UI thread and the metrics sender post at the same time; libcurl's global set-up and
// tear-down must never overlap a transfer on another thread.
TEST_F(HttpPostTest, ConcurrentPostsFromManyThreadsAllComplete)
{
    constexpr int kThreads = 6;
    constexpr int kPosts = 15;
    std::atomic<int> completed{0};
    std::vector<std::thread> threads;
    const std::string url = "http://" + HostPort();
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i)
            {
                std::string response;
                std::string body = std::to_string(t) + ":" + std::to_string(i);
                if (PerformHttpPost(url.c_str(), "/c", body.c_str(), &response, nullptr) && response == "{}")
                    ++completed;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(kThreads * kPosts, completed.load());
    EXPECT_EQ(static_cast<size_t>(kThreads * kPosts), server->Requests().size());
}

} // namespace
