// Signed releases against the fake transport: what a network in between can change (a package, a
// per-file zip, an item, the list, the manifest, the key, the release number) is refused and never
// reaches the installation, and verify repairs what size and time cannot see. Portable: the Windows
// test program runs these under Wine too.
#include "install/installed_release.h"
#include "install/path_utils.h"
#include "platform/files.h"
#include "tests/unit/engine/fake_engine.h"

using namespace kr::test;

namespace
{

constexpr int kFinished = CKrInstaller::StateFinished;
constexpr int kFailed = CKrInstaller::StateFailed;

std::string Flipped(std::string bytes, size_t at)
{
    bytes[at % bytes.size()] ^= 0x20;
    return bytes;
}

class SignedRelease : public FakeEngineTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GenerateSigningKey(&publicKey, &secretKey));
        files = Game(6, 30000, 41);
        MakeRelease(files, 60000);
        ASSERT_TRUE(Exists(Released("Data_1.zip")));
    }
    // The served copy of a published file replaced, with its time kept.
    void Tamper(const std::string& published)
    {
        transport.AddFile(published, Flipped(ReadWholeFile(Released(published)), 1000), TimeOf(Released(published)));
    }
    // Every file the installation holds that the image has too holds the image's bytes.
    void ExpectNothingForeignInstalled()
    {
        for (const std::string& line : Diff())
            EXPECT_NE(line.compare(0, 8, "differs "), 0) << line;
    }
    FakeRun RunSigned(const std::vector<std::pair<std::string, uint32_t>>& items = {})
    {
        return Run(SignedSettings(publicKey), items);
    }
    uint64_t RecordedRelease() { return ReadInstalledRelease(install.Path(), "Data").release; }

    KrPublicKey publicKey{};
    KrSecretKey secretKey{};
};

} // namespace

TEST_F(SignedRelease, InstallsUpdatesAndRemembersTheRelease)
{
    SignRelease(3, secretKey);
    FakeRun fresh = RunSigned();
    ASSERT_EQ(fresh.state, kFinished) << "error " << fresh.error;
    EXPECT_EQ(Diff(), std::vector<std::string>{});
    EXPECT_EQ(RecordedRelease(), 3u);

    // A new release changes one file; the update fetches it, checked, and moves the number on.
    files[1].content = Bytes(31000, 99);
    files[1].unixTime += 7200;
    MakeRelease(files, 60000);
    SignRelease(4, secretKey);
    FakeRun update = RunSigned();
    ASSERT_EQ(update.state, kFinished) << "error " << update.error;
    EXPECT_EQ(Diff(), std::vector<std::string>{});
    EXPECT_EQ(update.counters.totalItems, 1u);
    EXPECT_EQ(RecordedRelease(), 4u);
}

TEST_F(SignedRelease, AChangedPackageIsFetchedCleanThreeTimesAndNeverExtracted)
{
    SignRelease(1, secretKey);
    Tamper("Data_1.zip");
    FakeRun run = RunSigned();
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorReleaseMismatch) << "the check comes before the zip's own";
    EXPECT_EQ(transport.Count("GET", "Data_1.zip"), 3u);
    EXPECT_FALSE(Exists(Installed("Data_1.install")));
    EXPECT_FALSE(Exists(Installed("Data.download/Data_1.zip")));
    EXPECT_TRUE(Exists(Installed("Data.install"))) << "the packages that verified stay in place";
    EXPECT_FALSE(Exists(Installed("Data.release")));
    ExpectNothingForeignInstalled();
}

// Packages that come in byte ranges are checked as the file their pieces make up: sound ones install,
// a changed one is refused before a byte of it is extracted.
TEST_F(SignedRelease, APackageInPiecesIsCheckedAsOneFile)
{
    SignRelease(1, secretKey);
    Tamper("Data_1.zip");
    CKrInstallerSettings settings = SignedSettings(publicKey);
    settings.transfers.rangeMinBytes = 15000;
    FakeRun run = Run(settings);
    EXPECT_EQ(run.state, kFailed);
    EXPECT_EQ(run.error, KrErrorReleaseMismatch);
    EXPECT_GE(transport.Count("GET", "Data.zip"), 2u) << "the packages came in pieces";
    EXPECT_TRUE(Exists(Installed("Data.install"))) << "a sound package in pieces verified";
    EXPECT_FALSE(Exists(Installed("Data_1.install")));
    ExpectNothingForeignInstalled();
}

TEST_F(SignedRelease, AChangedListItemOrPerFileZipNeverReachesTheInstallation)
{
    // An item published beside the packages, signed with them.
    WriteWholeFile(Released("tool.bin"), Bytes(5000, 7));
    SignRelease(1, secretKey);
    {
        Tamper("Data.cch");
        FakeRun run = RunSigned();
        EXPECT_EQ(run.state, kFailed);
        EXPECT_EQ(run.error, KrErrorReleaseMismatch);
        EXPECT_FALSE(Exists(Installed("Data.cch"))) << "a list that does not verify is never put in place";
        EXPECT_TRUE(Exists(Installed("Data.install"))) << "the markers keep the packages for the next run";
    }
    {
        Republish();
        Tamper("tool.bin");
        FakeRun run = RunSigned({{"tool.bin", 5000}});
        EXPECT_EQ(run.state, kFailed);
        EXPECT_EQ(run.error, KrErrorReleaseMismatch);
        EXPECT_FALSE(Exists(Installed("tool.bin")));
    }
    {
        Republish();
        FakeRun run = RunSigned({{"tool.bin", 5000}});
        ASSERT_EQ(run.state, kFinished) << "error " << run.error;
        EXPECT_EQ(ReadWholeFile(Installed("tool.bin")), ReadWholeFile(Released("tool.bin")));

        // Changed in place with its size and time kept: a signed release always checks its items
        // (the launcher restarts into one of them), not only when verifying.
        const uint64_t time = TimeOf(Installed("tool.bin"));
        WriteWholeFile(Installed("tool.bin"), Flipped(ReadWholeFile(Installed("tool.bin")), 3));
        SetTime(Installed("tool.bin"), time);
        FakeRun again = RunSigned({{"tool.bin", 5000}});
        ASSERT_EQ(again.state, kFinished) << "error " << again.error;
        EXPECT_EQ(ReadWholeFile(Installed("tool.bin")), ReadWholeFile(Released("tool.bin")));
    }
    {
        // An outdated file whose per-file zip was changed keeps its old bytes.
        const std::string path = files[0].path;
        const std::string bare = path.substr(path.find_last_of('/') + 1);
        SetTime(Installed(path), UnixTimeToFileTime(1500000000));
        Tamper("Data/" + bare + ".zip");
        FakeRun run = RunSigned();
        EXPECT_EQ(run.state, kFailed);
        EXPECT_EQ(run.error, KrErrorReleaseMismatch);
        EXPECT_EQ(transport.Count("GET", "Data/" + bare + ".zip"), 3u);
        ExpectNothingForeignInstalled();
    }
}

TEST_F(SignedRelease, AnUnsignedForeignOrDamagedManifestIsRefusedBeforeAnythingElse)
{
    FakeRun unsignedRun = RunSigned();
    EXPECT_EQ(unsignedRun.state, kFailed);
    EXPECT_EQ(unsignedRun.error, KrErrorReleaseUnverified);

    KrPublicKey otherPublic;
    KrSecretKey otherSecret;
    ASSERT_TRUE(GenerateSigningKey(&otherPublic, &otherSecret));
    SignRelease(1, otherSecret);
    FakeRun foreign = RunSigned();
    EXPECT_EQ(foreign.state, kFailed);
    EXPECT_EQ(foreign.error, KrErrorReleaseUnverified);

    SignRelease(1, secretKey);
    Tamper("Data.manifest");
    FakeRun damaged = RunSigned();
    EXPECT_EQ(damaged.state, kFailed);
    EXPECT_EQ(damaged.error, KrErrorReleaseUnverified);
    // Three runs of three tries each: refused (404), foreign, damaged bytes fetched again cleanly.
    EXPECT_EQ(transport.Count("GET", "Data.manifest"), 9u);
    EXPECT_EQ(transport.Count("GET", "Data.zip"), 0u);
    EXPECT_EQ(transport.Count("HEAD", "Data_1.zip"), 0u);

    // A build whose key is broken trusts nothing, not even a correctly signed release.
    Republish();
    CKrInstallerSettings broken = SignedSettings(publicKey);
    broken.release.state = KrReleaseKeyState::Invalid;
    FakeRun brokenRun = Run(broken);
    EXPECT_EQ(brokenRun.error, KrErrorReleaseUnverified);
    EXPECT_EQ(Diff().size(), files.size()) << "nothing installed";
}

TEST_F(SignedRelease, AnOlderReleaseIsRefusedTheSameOneIsNot)
{
    SignRelease(5, secretKey);
    ASSERT_EQ(RunSigned().state, kFinished);
    SignRelease(5, secretKey);
    EXPECT_EQ(RunSigned().state, kFinished) << "the same release again (a second run, a repair)";

    SignRelease(4, secretKey);
    FakeRun older = RunSigned();
    EXPECT_EQ(older.state, kFailed);
    EXPECT_EQ(older.error, KrErrorReleaseRollback);
    EXPECT_EQ(RecordedRelease(), 5u);
}

TEST_F(SignedRelease, VerifyRepairsAFileChangedInPlaceWithSizeAndTimeKept)
{
    SignRelease(1, secretKey);
    ASSERT_EQ(RunSigned().state, kFinished);
    const std::string path = Installed(files[2].path);
    const uint64_t time = TimeOf(path);
    WriteWholeFile(path, Flipped(ReadWholeFile(path), 17));
    SetTime(path, time);

    FakeRun plain = RunSigned();
    ASSERT_EQ(plain.state, kFinished);
    EXPECT_EQ(Diff(), std::vector<std::string>{"differs " + files[2].path}) << "size and time cannot see it";

    CKrInstallerSettings verify = SignedSettings(publicKey);
    verify.verifyInstall = true;
    FakeRun repaired = Run(verify);
    ASSERT_EQ(repaired.state, kFinished) << "error " << repaired.error;
    EXPECT_EQ(repaired.counters.repairItems, 1u);
    EXPECT_EQ(Diff(), std::vector<std::string>{});
}

TEST_F(SignedRelease, AnUnsignedBuildIgnoresTheManifest)
{
    SignRelease(1, secretKey);
    Tamper("Data.manifest");
    FakeRun run = Run();
    ASSERT_EQ(run.state, kFinished) << "error " << run.error;
    EXPECT_EQ(transport.Count("GET", "Data.manifest"), 0u);
    EXPECT_EQ(Diff(), std::vector<std::string>{});
}
