// The launcher's JSON requests against a launcher server that misbehaves: every call returns in
// bounded time, fails when the answer did not arrive whole, and parses whatever arrived whole.
#include "launcher/server_requests.h"
#include "services/http_request.h"
#include "tests/support/servers.h"

#include <gtest/gtest.h>

#include <chrono>

namespace
{

using namespace kr::launcher;

const char kAnswer[] = R"({"status": 3, "Error": "maintenance_window", "HttpServer": "http://web.test"})";

struct Case
{
    const char* fault;
    bool transferOk;   // what PostJson returns
    bool wholeAnswer; // every key of the answer was read
};

} // namespace

TEST(HostileLauncherServer, EachFaultGivesTheRightResultInBoundedTime)
{
    kr::test::OddServer server;
    ASSERT_TRUE(server.Start());
    const Case cases[] = {
        {"close_before_headers", false, false},
        {"drop_mid_body", false, false},
        {"length_too_long", false, false},
        {"length_too_short", true, false},
        {"no_length", true, true},
        {"trickle", true, true},
        {"status_500", true, true},
        {"status_404", true, true},
        // Plain http never follows: to http the server would see a second request, to https the
        // TLS handshake with this plain server would fail the call.
        {"redirect_http", true, true},
        {"redirect_https", true, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fault);
        ASSERT_TRUE(server.Script({c.fault}, kAnswer));
        CKrHttpRequest request;
        request.TakeResponse(R"({"stale": 1})"); // must not survive the request's reset
        const auto start = std::chrono::steady_clock::now();
        bool ok = PostLauncherData(request, server.Url() + "/base");
        const auto took = std::chrono::steady_clock::now() - start;

        EXPECT_EQ(ok, c.transferOk);
        EXPECT_LT(took, std::chrono::seconds(10));
        EXPECT_FALSE(request.HasKey("stale"));
        // One request each: a followed redirect would add one.
        EXPECT_EQ(server.ReadLog().posts, 1);
        if (!c.transferOk)
        {
            // What arrived before the failure is kept as text but never read as an answer.
            EXPECT_TRUE(request.Values().empty());
            continue;
        }
        EXPECT_EQ(request.GetInt("status"), 3);
        if (c.wholeAnswer)
        {
            EXPECT_EQ(request.GetString("Error"), "maintenance_window");
            EXPECT_EQ(request.GetString("HttpServer"), "http://web.test");
        }
        else
        {
            // Only the promised bytes were read.
            EXPECT_EQ(request.Response(), std::string(kAnswer).substr(0, (sizeof kAnswer - 1) / 2));
            EXPECT_FALSE(request.HasKey("HttpServer"));
        }
    }
}

TEST(HostileLauncherServer, ServerThatComesBackAnswersTheNextRequest)
{
    kr::test::OddServer server;
    ASSERT_TRUE(server.Start());
    const std::string url = server.Url();
    server.Stop();
    CKrHttpRequest request;
    EXPECT_FALSE(PostDownloadData(request, url));
    ASSERT_TRUE(server.Restart());
    ASSERT_TRUE(server.Script({}, R"({"status": 0, "DownloadServer": "dl.test"})"));
    ASSERT_TRUE(PostDownloadData(request, url));
    EXPECT_EQ(request.GetString("DownloadServer"), "dl.test");
}
