// The kr-install tool's contract: exit status and plain output when not on a terminal.
#include "tests/integration/engine/engine_scenario.h"
#include "tests/support/servers.h"

using namespace kr::test;

class KrInstallTool : public EngineScenario
{
};

TEST_F(KrInstallTool, InstallsThenFailsWithTenPlusTheErrorCode)
{
    MakeRelease(MakeGameFiles(6, 3000, 31));
    TempDir out;
    const std::string log = out.Path() + "out.txt";
    ASSERT_EQ(RunTool("kr-install", {"--server", server, "--dir", install.Path()}, log), 0)
        << ReadWholeFile(log);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
    std::string text = ReadWholeFile(log);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("finished"), std::string::npos) << text;

    std::string unreachable = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    EXPECT_EQ(RunTool("kr-install", {"--server", unreachable, "--dir", install.Path()}, log), 11);
    EXPECT_NE(ReadWholeFile(log).find("failed"), std::string::npos);
}

TEST_F(KrInstallTool, UnusableArgumentsGiveStatus2)
{
    EXPECT_EQ(RunTool("kr-install", {"--dir", install.Path()}), 2);
    EXPECT_EQ(RunTool("kr-install", {"--server", "x", "--dir", install.Path(), "--item", "a.zip"}), 2);
    EXPECT_EQ(RunTool("kr-install", {"--server", "x", "--dir", install.Path(), "--item", "a.zip:12:unpack"}),
              2);
    EXPECT_EQ(RunTool("kr-install", {"--server", "http://x", "--dir", install.Path()}), 2);
    EXPECT_EQ(RunTool("kr-install", {"--bogus"}), 2);
    EXPECT_TRUE(ListFiles(install.Path()).empty());
}
