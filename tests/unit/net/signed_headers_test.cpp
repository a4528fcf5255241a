#include "services/signed_headers.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(curl_slist* list)
{
    std::vector<std::string> lines;
    for (curl_slist* item = list; item; item = item->next)
        lines.push_back(item->data);
    return lines;
}

// MACs below are the published HMAC-SHA1 values (RFC 2202 case 2, and the empty key and message).
TEST(SignedHeadersTest, ListHoldsContentTypeAcceptAndTheExactAuthorizationLine)
{
    curl_slist* list =
        BuildSignedHeaders("what do ya want for nothing?", 1234, "Jefe", "QVOLAUNCHER", "application/json");
    ASSERT_NE(nullptr, list);
    std::vector<std::string> expected = {
        "Content-Type: application/json",
        "Accept: */*",
        "Authorization: QVOLAUNCHER CustomerID=1234, Mac=effcdf6ae5eb2fa2d27416d5f184df9c259a7c79",
    };
    EXPECT_EQ(expected, Lines(list));
    curl_slist_free_all(list);
}

TEST(SignedHeadersTest, EmptyKeyAndBodyStillSignWellFormed)
{
    EXPECT_EQ("Authorization: QVOLAUNCHER CustomerID=7, Mac=fbdb1d1b18aa6c08324b7d64b71fb76370690e1d",
              BuildAuthorizationLine("", 7, "", "QVOLAUNCHER"));
    EXPECT_EQ(BuildAuthorizationLine("", 7, "", "QVOLAUNCHER"), BuildAuthorizationLine(nullptr, 7, nullptr, "QVOLAUNCHER"));
}

TEST(SignedHeadersTest, CustomerIdIsPrintedAsSigned32Bit)
{
    const std::string line = BuildAuthorizationLine("{}", 2147483648u, "k", "S");
    EXPECT_EQ(0u, line.find("Authorization: S CustomerID=-2147483648, Mac="));
    EXPECT_NE(std::string::npos, BuildAuthorizationLine("{}", 4294967295u, "k", "S").find("CustomerID=-1, "));
}

TEST(SignedHeadersTest, MacCoversTheBodyAndKeyButNotTheCustomer)
{
    auto mac = [](const char* body, uint32_t id, const char* key) {
        std::string line = BuildAuthorizationLine(body, id, key, "QVOLAUNCHER");
        return line.substr(line.find("Mac=") + 4);
    };
    const std::string base = mac("{\"a\":1}", 1, "token");
    ASSERT_EQ(40u, base.size());
    EXPECT_EQ(std::string::npos, base.find_first_not_of("0123456789abcdef"));
    EXPECT_EQ(base, mac("{\"a\":1}", 2, "token"));
    EXPECT_NE(base, mac("{\"a\":2}", 1, "token"));
    EXPECT_NE(base, mac("{\"a\":1}", 1, "token2"));
}

} // namespace
