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

TEST(CommandLineTest, ALinkSetsOnlyTheSessionOptions)
{
    CKrCommandLine line;
    line.Parse("-uri=quorvaleonline://play?sid=abc&LauncherServer=http://evil&customer_id=5&ProjectPath=C:\\x"
               "&Language_Code=de&PreLauncherPath=C:\\p&ProjectUserDataPath=C:\\u&RestartLauncher=1"
               "&uriStart=1&diskSizeError=1&uri=again&uriname=other");
    EXPECT_EQ("quorvaleonline", ValueOf(line, "uriname"));
    EXPECT_EQ("abc", ValueOf(line, "sid"));
    EXPECT_EQ("5", ValueOf(line, "customer_id"));
    EXPECT_EQ("de", ValueOf(line, "language_code")) << "the names keep their case-blind match";
    EXPECT_EQ("1", ValueOf(line, "uriStart"));
    for (const char* name : {"LauncherServer", "ProjectPath", "PreLauncherPath", "ProjectUserDataPath",
                             "RestartLauncher", "diskSizeError"})
        EXPECT_EQ("<absent>", ValueOf(line, name)) << name;
    EXPECT_EQ(6u, line.Count()) << "the link, its scheme and four session options";

    // The command line's own options are unchanged.
    CKrCommandLine own;
    own.Parse("-LauncherServer=http://ls -RestartLauncher=1 -uri=quorvaleonline://x?LauncherServer=http://evil");
    EXPECT_EQ("http://ls", ValueOf(own, "LauncherServer"));
    EXPECT_EQ("1", ValueOf(own, "RestartLauncher"));
    EXPECT_EQ(4u, own.Count());
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
        line.ExpandUri("quorvaleonline:x?sid=v" + std::to_string(i));
    EXPECT_STREQ("1", a);
    EXPECT_EQ("v0", ValueOf(line, "sid"));
    EXPECT_EQ("-sid=v49", line.Tokens().back());
}

} // namespace
