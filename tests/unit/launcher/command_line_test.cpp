#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ValueOf(const CKrCommandLine& line, const char* name)
{
    const char* v = line.GetValue(name);
    return v ? v : "<absent>";
}

TEST(CommandLineTest, TokensAndLookupRules)
{
    CKrCommandLine line;
    line.Parse("  -Sid=1  -sid=2 a=b -flag -x=a=b -LAUNCHERSERVER=http://h -diskSizeError= ");
    EXPECT_EQ(7u, line.Count()) << "runs of blanks separate once, edges give no token";
    EXPECT_EQ("1", ValueOf(line, "sid")) << "first match wins, case ignored";
    EXPECT_EQ("<absent>", ValueOf(line, "a")) << "a token without leading dash is no option";
    EXPECT_EQ("<absent>", ValueOf(line, "flag")) << "a token without '=' is no option";
    EXPECT_EQ("a=b", ValueOf(line, "x"));
    EXPECT_EQ("http://h", ValueOf(line, "LauncherServer"));
    EXPECT_TRUE(line.Has("diskSizeError")) << "an empty value counts as present";
    EXPECT_FALSE(line.Has("si"));
}

TEST(CommandLineTest, UriExpansionAppendsOptionsAfterTheCommandLine)
{
    CKrCommandLine line;
    line.Parse("-sid=fromcmd -uri=quorvaleonline://play?sid=abc&customer_id=5&lang");
    EXPECT_EQ("quorvaleonline", ValueOf(line, "uriname"));
    EXPECT_EQ("fromcmd", ValueOf(line, "sid")) << "the command line wins over the link";
    EXPECT_EQ("5", ValueOf(line, "customer_id"));
    EXPECT_EQ("<absent>", ValueOf(line, "lang")) << "a last name without value is ignored";
    EXPECT_EQ(5u, line.Count());
}

TEST(CommandLineTest, UriExpansionQuirksAndRepeatedParse)
{
    CKrCommandLine shifted;
    shifted.ExpandUri("quorvaleonline:play?sid=&x=1");
    ASSERT_EQ(2u, shifted.Count());
    EXPECT_EQ("-sid=x", shifted.Tokens()[1]) << "empty values shift the pairing";

    CKrCommandLine already;
    already.Parse("-uriname=given -uri=quorvaleonline:play?sid=1");
    EXPECT_EQ("<absent>", ValueOf(already, "sid")) << "an existing uriname stops the expansion";

    CKrCommandLine colons;
    colons.ExpandUri(":::");
    EXPECT_EQ(0u, colons.Count());
}

TEST(CommandLineTest, ValuePointersSurviveLaterExpansion)
{
    CKrCommandLine line;
    line.Parse("-a=1");
    const char* a = line.GetValue("a");
    for (int i = 0; i < 50; ++i)
        line.ExpandUri("quorvaleonline:x?k" + std::to_string(i) + "=v");
    EXPECT_STREQ("1", a);
    EXPECT_EQ("v", ValueOf(line, "k49"));
}

} // namespace
