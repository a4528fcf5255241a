#include "install/download_server.h"

#include <gtest/gtest.h>

TEST(DownloadServerUrl, ComposedNamesReachTheServerPathWithSlashes)
{
    CKrDownloadServer server;
    server.Configure("example.test:8080/prefix/", "Data", nullptr);
    std::string url = server.MakeUrl("Data\\file name#1.zip");
    const std::string expected = "http://example.test:8080/prefix/Data/file%20name%231.zip?r=";
    ASSERT_EQ(url.compare(0, expected.size(), expected), 0) << url;
    // The tick count follows as a signed decimal number.
    std::string ticks = url.substr(expected.size());
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.find_first_not_of("-0123456789"), std::string::npos) << ticks;
}

TEST(DownloadServerUrl, EscapesEverythingButUnreservedBytes)
{
    EXPECT_EQ(CKrDownloadServer::EscapeRemoteName("a-b_c.d~e/F9"), "a-b_c.d~e/F9");
    EXPECT_EQ(CKrDownloadServer::EscapeRemoteName("100%?&+"), "100%25%3F%26%2B");
    EXPECT_EQ(CKrDownloadServer::EscapeRemoteName("\xE4.bin"), "%E4.bin");
}
