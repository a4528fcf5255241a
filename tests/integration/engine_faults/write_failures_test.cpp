// Files the engine may not write and a disk that fills up. Whatever happens, the engine must not
// report a finished run while the tree differs from the release, must leave what it cannot
// replace as it was, and a later run without the obstacle must complete the tree.
#include "tests/integration/engine/engine_scenario.h"
#include "tests/integration/engine_faults/fault_fixture.h"
#include "tests/support/servers.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <iostream>

using namespace kr::test;

namespace
{

constexpr int kFinished = CKrInstaller::StateFinished;

int Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

struct Cleanup
{
    std::function<void()> action;
    ~Cleanup() { action(); }
};

class WriteFailures : public EngineScenario
{
protected:
    void InstallOnce(int count, size_t averageSize)
    {
        MakeRelease(IncompressibleGameFiles(count, averageSize, 61));
        EngineRun run = Run();
        ASSERT_EQ(run.state, kFinished) << "error " << run.error;
        ASSERT_EQ(DiffWithImage(), std::vector<std::string>());
    }

    // An outdated file the engine cannot replace, and an outdated one it can.
    void Outdate(const std::string& blocked, const std::string& other)
    {
        WriteWholeFile(Installed(blocked), "mine");
        WriteWholeFile(Installed(other), "damaged");
    }

    // The engine failed instead of finishing, left `blocked` alone and mended everything else.
    void ExpectReportedAndNothingCorrupted(const EngineRun& run, const std::string& blocked)
    {
        EXPECT_EQ(run.state, CKrInstaller::StateFailed);
        EXPECT_EQ(run.error, CKrInstaller::ErrorInstallFiles);
        EXPECT_EQ(run.counters.extractFailures, 1u);
        EXPECT_EQ(ReadWholeFile(Installed(blocked)), "mine");
        EXPECT_EQ(DiffWithImage(), std::vector<std::string>{blocked + " (content)"});
    }
};

} // namespace

// A file locked against any change (Windows' sharing lock, here the immutable attribute, which
// holds even for root).
TEST_F(WriteFailures, LockedFileFailsTheRunAndIsLeftAsItWas)
{
    InstallOnce(6, 20000);
    const std::string locked = files[0].path;
    Outdate(locked, files[3].path);
    if (Shell("chattr +i " + Quoted(Installed(locked))) != 0)
        GTEST_SKIP() << "chattr +i is not available here (not root, or the file system has no such flag)";
    Cleanup unlock{[&] { Shell("chattr -i " + Quoted(Installed(locked))); }};

    EngineRun run = Run(Settings(), {}, "Data", -1, 5000);
    ExpectReportedAndNothingCorrupted(run, locked);

    ASSERT_EQ(Shell("chattr -i " + Quoted(Installed(locked))), 0);
    EngineRun again = Run();
    ASSERT_EQ(again.state, kFinished) << "error " << again.error;
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}

TEST_F(WriteFailures, ReadOnlyFileFailsTheToolRunAndIsLeftAsItWas)
{
    InstallOnce(6, 20000);
    const std::string readOnly = files[1].path;
    Outdate(readOnly, files[4].path);
    ASSERT_EQ(::chmod(Installed(readOnly).c_str(), 0444), 0);
    // Root writes read-only files anyway: run the engine without that privilege.
    std::vector<std::string> prefix;
    if (::geteuid() == 0)
    {
        prefix = {"setpriv", "--bounding-set=-dac_override,-dac_read_search",
                  "--inh-caps=-dac_override,-dac_read_search"};
        if (Shell("setpriv --bounding-set=-dac_override,-dac_read_search --inh-caps=-dac_override,-dac_read_search "
                  "sh -c 'echo x >" +
                  Quoted(Installed(readOnly)) + "'") == 0)
            GTEST_SKIP() << "cannot drop the privilege to write read-only files (setpriv missing or ineffective)";
    }
    ToolRun run = RunKrInstall(server, install.Path(), 20000, prefix);
    EXPECT_EQ(run.status, 10 + CKrInstaller::ErrorInstallFiles);
    EXPECT_EQ(ReadWholeFile(Installed(readOnly)), "mine");
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>{readOnly + " (content)"});

    ASSERT_EQ(::chmod(Installed(readOnly).c_str(), 0644), 0);
    EXPECT_EQ(RunKrInstall(server, install.Path(), 20000).status, 0);
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}

TEST_F(WriteFailures, FullDiskNeverEndsFinishedAndALaterRunWithSpaceCompletes)
{
    MakeRelease(IncompressibleGameFiles(8, 200000, 62), {"--package-size", "1"});
    uint64_t imageBytes = 0;
    for (const GameFile& f : files)
        imageBytes += f.content.size();
    // A disk smaller than the game: the install must not end finished.
    const std::string size = std::to_string(imageBytes * 9 / 10 / 1024) + "k";
    if (Shell("mount -t tmpfs -o size=" + size + " tmpfs " + Quoted(install.Path())) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    Cleanup unmount{[&] { Shell("umount " + Quoted(install.Path())); }};

    EngineRun full = Run(Settings(), {}, "Data", -1, 3000);
    std::cout << "[ outcome  ] disk too small: state " << full.state << ", error " << full.error << ", "
              << full.counters.downloadFailures << " failed downloads, " << full.counters.extractFailures
              << " failed extractions" << std::endl;
    // The game cannot fit, so a finished run would be a false report.
    EXPECT_NE(full.state, kFinished);

    ASSERT_EQ(Shell("mount -o remount,size=" + std::to_string(imageBytes * 3 / 1024) + "k " +
                    Quoted(install.Path())),
              0);
    EngineRun roomy = Run();
    ASSERT_EQ(roomy.state, kFinished) << "error " << roomy.error;
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());

    // An update with room for a file's zip but not for the file beside it.
    const std::string victim = files[0].path;
    const size_t victimSize = files[0].content.size();
    WriteWholeFile(Installed(victim), "");
    struct statvfs fs{};
    ASSERT_EQ(::statvfs(install.Path().c_str(), &fs), 0);
    const uint64_t freeBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    const uint64_t keepFree = victimSize + victimSize / 4;
    ASSERT_GT(freeBytes, keepFree);
    WriteWholeFile(Installed("filler"), std::string(freeBytes - keepFree, 'f'));
    EngineRun tight = Run(Settings(), {}, "Data", -1, 5000);
    EXPECT_EQ(tight.state, CKrInstaller::StateFailed);
    EXPECT_EQ(tight.error, CKrInstaller::ErrorInstallFiles);
    std::vector<std::string> diff = DiffWithImage();
    diff.erase(std::remove(diff.begin(), diff.end(), "filler"), diff.end());
    EXPECT_EQ(diff.size(), 1u) << "only the victim may differ";

    std::remove(Installed("filler").c_str());
    EngineRun freed = Run();
    ASSERT_EQ(freed.state, kFinished) << "error " << freed.error;
    EXPECT_EQ(DiffWithImage(), std::vector<std::string>());
}
