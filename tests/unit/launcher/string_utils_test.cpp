#include "launcher/string_utils.h"

#include <gtest/gtest.h>

namespace {

TEST(StringUtilsTest, SplitDropsEmptyPieces)
{
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Split(",a,,b,", ","));
    EXPECT_EQ((std::vector<std::string>{"x", "y", "z"}), Split("x?y&z", "?&="));
    EXPECT_TRUE(Split("", ",").empty());
    EXPECT_TRUE(Split(",,,", ",").empty());
}

TEST(StringUtilsTest, UrlParameterMatchesAnywhereAndStopsAtAmpersand)
{
    std::string value = "stale";
    EXPECT_TRUE(GetUrlParameter("sid", "http://h/p?a=1&sid=&x=1", value));
    EXPECT_EQ("", value);
    EXPECT_TRUE(GetUrlParameter("sid", "http://h/p?sid=", value));
    EXPECT_EQ("", value);
    EXPECT_TRUE(GetUrlParameter("sid", "http://h/p?xsid=7&b=2", value)) << "no check of what precedes";
    EXPECT_EQ("7", value);
    value = "stale";
    EXPECT_FALSE(GetUrlParameter("qvo", "http://h/play", value));
    EXPECT_EQ("", value) << "the value is cleared when absent";
}

TEST(StringUtilsTest, StrictUnsignedParsing)
{
    uint32_t n = 77;
    EXPECT_TRUE(ParseUnsigned32("4294967295", n));
    EXPECT_EQ(4294967295u, n);
    EXPECT_TRUE(ParseUnsigned32("0", n));
    EXPECT_EQ(0u, n);
    n = 77;
    for (const char* bad : {"", "4294967296", "-1", "12a", " 1", "99999999999", "+5"})
        EXPECT_FALSE(ParseUnsigned32(bad, n)) << bad;
    EXPECT_EQ(77u, n) << "a refused text leaves the number unchanged";
    EXPECT_EQ("4294967295", UnsignedToText(4294967295u));
}

TEST(StringUtilsTest, BlanksAndEndsWith)
{
    EXPECT_EQ("QuorvaleOnline", RemoveBlanks("Quorvale Online"));
    EXPECT_TRUE(EndsWithFirstOccurrence("http://h/logout", "logout"));
    EXPECT_FALSE(EndsWithFirstOccurrence("http://h/logout/logout", "logout")) << "only the first occurrence counts";
    EXPECT_FALSE(EndsWithFirstOccurrence("out", "logout"));
}

} // namespace
