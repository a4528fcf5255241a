// The kr-install tool's contract: exit status and plain output when not on a terminal.
#include "tests/integration/engine/engine_scenario.h"
#include "install/installer_errors.h"
#include "platform/files.h"
#include "tests/support/servers.h"
#include "tests/support/test_env.h"

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

// The packer's signed release through nginx: installed and remembered, a file changed in place found
// by --verify, a per-file zip changed on the server refused without touching the installation.
TEST_F(KrInstallTool, SignedReleaseVerifiesRepairsAndRefusesTampering)
{
    const std::string keys = SourceDir() + "tools/keys/";
    const std::string publicKey = ReadWholeFile(keys + "dev-release.pub").substr(0, 64);
    MakeRelease(MakeGameFiles(6, 3000, 33), {"--sign", keys + "dev-release.key", "--release", "7"});
    TempDir out;
    const std::string log = out.Path() + "out.txt";
    const std::vector<std::string> base{"--server", server, "--dir", install.Path(), "--release-key", publicKey};
    ASSERT_EQ(RunTool("kr-install", base, log), 0) << ReadWholeFile(log);
    EXPECT_NE(ReadWholeFile(log).find("signed release 7 verified"), std::string::npos) << ReadWholeFile(log);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());

    // Changed in place, size and time kept: only --verify sees it.
    const GameFile& victim = files[1];
    const std::string path = Installed(victim.path);
    std::string bytes = ReadWholeFile(path);
    bytes[bytes.size() / 2] ^= 0x01;
    uint64_t time = 0;
    kr::os::GetFileTimes(path, nullptr, nullptr, &time);
    WriteWholeFile(path, bytes);
    kr::os::SetFileTimes(path, nullptr, nullptr, &time);
    std::vector<std::string> verify = base;
    verify.push_back("--verify");
    ASSERT_EQ(RunTool("kr-install", verify, log), 0) << ReadWholeFile(log);
    EXPECT_NE(ReadWholeFile(log).find("1 installed files differed"), std::string::npos) << ReadWholeFile(log);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());

    // The server's per-file zip of an outdated file is changed: refused, the old bytes stay.
    const std::string bare = victim.path.substr(victim.path.find_last_of('/') + 1);
    std::string zip = ReadWholeFile(Released("Data/" + bare + ".zip"));
    zip[zip.size() / 2] ^= 0x01;
    WriteWholeFile(Released("Data/" + bare + ".zip"), zip);
    uint64_t old = 0x01D0000000000000ull;
    kr::os::SetFileTimes(path, nullptr, nullptr, &old);
    EXPECT_EQ(RunTool("kr-install", base, log), 10 + KrErrorReleaseMismatch) << ReadWholeFile(log);
    EXPECT_EQ(ReadWholeFile(path), victim.content);

    // Without a key for it, a signed release is nothing special; with a key, an unsigned one is refused.
    EXPECT_EQ(RunTool("kr-install", {"--dir", install.Path(), "--server", server, "--verify"}, log), 2);
    kr::os::RemoveFile(Released("Data.manifest"));
    EXPECT_EQ(RunTool("kr-install", base, log), 10 + KrErrorReleaseUnverified) << ReadWholeFile(log);
}
