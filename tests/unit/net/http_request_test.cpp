#include "services/http_request.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase
{
    const char* url;
    const char* path;
    const char* base;
    const char* tail;
};

TEST(HttpRequestTest, SplitUrlReplacesOrKeepsThePathAndKeepsOnlyHttps)
{
    const SplitCase cases[] = {
        {"http://host/base", "/launcher/data/", "host", "/launcher/data/"},
        {"http://host/base/x", nullptr, "host", "/base/x"},
        {"http://host", nullptr, "host", ""},
        {"host", nullptr, "host", ""},
        {"host:8080/a", "/b", "host:8080", "/b"},
        {"https://host/base", "/launcher/data/", "https://host", "/launcher/data/"},
        {"https://host:4443", nullptr, "https://host:4443", ""},
        {"http://host/base", "", "host", ""},
        {"", "/p", "", "/p"},
        {nullptr, nullptr, "", ""},
    };
    for (const SplitCase& c : cases)
    {
        std::string base = "stale";
        std::string tail = "stale";
        CKrHttpRequest::SplitUrl(c.url, c.path, base, tail);
        EXPECT_EQ(c.base, base) << (c.url ? c.url : "(null)");
        EXPECT_EQ(c.tail, tail) << (c.url ? c.url : "(null)");
    }
}

TEST(HttpRequestTest, RecordsAreKeptInOrderAndResetEmptiesEverything)
{
    CKrHttpRequest request;
    request.AddUnsigned("launcher_version", 4294967295u);
    request.AddField("language_code", "en", kRecordString);
    ASSERT_EQ(2u, request.Records().size());
    EXPECT_EQ("4294967295", request.Records()[0].value);
    EXPECT_EQ(kRecordRaw, request.Records()[0].kind);
    EXPECT_EQ("language_code", request.Records()[1].key);
    EXPECT_EQ(kRecordString, request.Records()[1].kind);
    request.Reset();
    EXPECT_TRUE(request.Records().empty());
    EXPECT_TRUE(request.Body().empty());
    EXPECT_EQ(0, request.GetInt("status"));
    EXPECT_EQ("", request.GetString("status"));
    EXPECT_FALSE(request.HasKey("status"));
}

} // namespace
