// The engine on its real target: WinINet downloads and the Win32 file seam, against nginx serving a
// release that tests/wine/run.sh packed from a generated game folder.
#include "install/installer.h"
#include "platform/download.h"
#include "platform/threads.h"
#include "tests/support/temp_dir.h"
#include "tests/wine/tree_compare.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ReleaseUnderTest
{
    std::string server; // host:port
    fs::path image;
    fs::path www;
};

// Unix paths from the wrapper reach the same files through Wine's Z: drive.
fs::path FromUnix(const std::string& path)
{
    return fs::path("Z:" + path);
}

bool LoadRelease(ReleaseUnderTest& release)
{
    release.server = kr::test::Env("KR_TEST_DOWNLOAD_SERVER");
    std::string image = kr::test::Env("KR_TEST_RELEASE_IMAGE");
    std::string www = kr::test::Env("KR_TEST_RELEASE_WWW");
    if (release.server.empty() || image.empty() || www.empty())
        return false;
    release.image = FromUnix(image);
    release.www = FromUnix(www);
    return true;
}

// Relative paths whose bytes differ or that exist on one side only.
std::vector<std::string> DiffTrees(const fs::path& expected, const fs::path& actual, const std::string& ignore)
{
    std::vector<std::string> diffs = kr::test::MissingOrDifferent(expected, actual);
    for (const auto& entry : fs::recursive_directory_iterator(actual))
    {
        fs::path rel = fs::relative(entry.path(), actual);
        if (entry.is_regular_file() && rel.generic_string() != ignore && !fs::exists(expected / rel))
            diffs.push_back("extra: " + rel.generic_string());
    }
    return diffs;
}

struct Outcome
{
    int state = -1;
    int error = -1;
    int doneCount = -1;
    int totalCount = -1;
};

Outcome RunEngine(const ReleaseUnderTest& release, const std::string& dir,
                  const CKrReleaseTrust& trust = CKrReleaseTrust())
{
    CKrInstallerSettings settings;
    settings.build = KrInstallerBuild::Helper; // fills the item counts
    settings.timings.startDelayMs = 50;
    settings.timings.retryFirstMs = 50;
    settings.release = trust;
    CKrInstaller engine;
    engine.Init("Data", dir, release.server, settings);
    engine.Start();
    Outcome outcome;
    for (int waited = 0; waited < 120000; waited += 20)
    {
        engine.GetStatus(&outcome.state, nullptr, nullptr, &outcome.doneCount, &outcome.totalCount);
        if (outcome.state == CKrInstaller::StateFinished || outcome.state == CKrInstaller::StateFailed)
            break;
        kr::os::SleepMs(20);
    }
    outcome.error = engine.GetErrorCode();
    return outcome;
}

class EngineWineTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadRelease(release)) << "run this program through tests/wine/run.sh, which starts nginx";
    }
    ReleaseUnderTest release;
};

TEST_F(EngineWineTest, WinInetQueryFollowsTheExact200Rule)
{
    std::unique_ptr<kr::os::Transport> transport = kr::os::CreateSystemTransport();
    ASSERT_TRUE(transport->Open("Data"));
    std::unique_ptr<kr::os::TransferConnection> connection = transport->NewConnection();
    kr::os::TransferConnection& channel = *connection;
    kr::os::RemoteFileInfo info;
    ASSERT_TRUE(channel.Query("http://" + release.server + "/Data.cch?r=1", &info));
    EXPECT_EQ(200, info.status);
    ASSERT_TRUE(info.hasContentLength);
    EXPECT_EQ(fs::file_size(release.www / "Data.cch"), info.contentLength);
    EXPECT_TRUE(info.hasLastModified);
    EXPECT_GT(info.lastModified, 116444736000000000ull) << "a FILETIME after 1970";

    kr::os::RemoteFileInfo missing;
    channel.Query("http://" + release.server + "/no-such-file.zip", &missing);
    EXPECT_EQ(404, missing.status);
}

TEST_F(EngineWineTest, FreshInstallThenNothingToUpdate)
{
    kr::test::TempDir dir;
    Outcome first = RunEngine(release, dir.Path());
    ASSERT_EQ(CKrInstaller::StateFinished, first.state) << "error " << first.error;
    EXPECT_TRUE(DiffTrees(release.image, dir.Path(), "Data.cch").empty());

    // Installed times come from the cache, so a second run finds everything up to date.
    Outcome second = RunEngine(release, dir.Path());
    ASSERT_EQ(CKrInstaller::StateFinished, second.state) << "error " << second.error;
    EXPECT_EQ(0, second.totalCount);
}

// The first non-empty file of an installed Data folder, the one a test damages.
std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path FirstInstalledFile(const std::string& installDir)
{
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(installDir) / "Data"))
        if (entry.is_regular_file() && entry.file_size() > 0)
            return entry.path();
    return fs::path();
}

TEST_F(EngineWineTest, UpdateFetchesOnlyTheDamagedFile)
{
    kr::test::TempDir dir;
    ASSERT_EQ(CKrInstaller::StateFinished, RunEngine(release, dir.Path()).state);
    fs::path victim = FirstInstalledFile(dir.Path());
    ASSERT_FALSE(victim.empty());
    {
        std::ofstream grow(victim, std::ios::binary | std::ios::app);
        grow << 'x';
    }
    Outcome update = RunEngine(release, dir.Path());
    ASSERT_EQ(CKrInstaller::StateFinished, update.state) << "error " << update.error;
    EXPECT_EQ(1, update.totalCount);
    EXPECT_TRUE(DiffTrees(release.image, dir.Path(), "Data.cch").empty());
}

// A file another program holds open without sharing (a running game, a virus scanner) cannot be
// replaced: the update fails instead of finishing, leaves the file alone, and the next run mends it.
TEST_F(EngineWineTest, LockedFileFailsTheUpdateUntilItIsReleased)
{
    kr::test::TempDir dir;
    ASSERT_EQ(CKrInstaller::StateFinished, RunEngine(release, dir.Path()).state);
    fs::path victim = FirstInstalledFile(dir.Path());
    ASSERT_FALSE(victim.empty());
    {
        std::ofstream damage(victim, std::ios::binary | std::ios::trunc);
        damage << "mine";
    }
    HANDLE lock = CreateFileA(victim.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    Outcome locked = RunEngine(release, dir.Path());
    CloseHandle(lock);
    EXPECT_EQ(CKrInstaller::StateFailed, locked.state);
    EXPECT_EQ(CKrInstaller::ErrorInstallFiles, locked.error);
    std::ifstream kept(victim, std::ios::binary);
    EXPECT_EQ("mine", std::string(std::istreambuf_iterator<char>(kept), {})) << "the locked file was changed";

    Outcome released = RunEngine(release, dir.Path());
    ASSERT_EQ(CKrInstaller::StateFinished, released.state) << "error " << released.error;
    EXPECT_EQ(1, released.totalCount);
    EXPECT_TRUE(DiffTrees(release.image, dir.Path(), "Data.cch").empty());
}

// The body of a plain GET over the system transport (WinINet).
std::string HttpGetBody(const std::string& url)
{
    struct Collect : kr::os::DownloadSink
    {
        std::string body;
        bool OnHeader(const kr::os::RemoteFileInfo&) override { return true; }
        bool OnData(const void* data, std::size_t size) override
        {
            body.append(static_cast<const char*>(data), size);
            return true;
        }
    } sink;
    std::unique_ptr<kr::os::Transport> transport = kr::os::CreateSystemTransport();
    transport->Open("test");
    std::unique_ptr<kr::os::TransferConnection> connection = transport->NewConnection();
    std::atomic<bool> running{true};
    kr::os::TransferRequest request;
    request.url = url;
    connection->Fetch(request, sink, running);
    return sink.body;
}

// A server that cuts every transfer starting at a file's first byte after 60 %: over WinINet the
// engine resumes with Range requests, and the bytes served stay close to the release's size.
TEST_F(EngineWineTest, ResumesAgainstAServerThatCutsEveryFreshTransfer)
{
    std::string cutting = kr::test::Env("KR_TEST_CUTTING_SERVER");
    ASSERT_FALSE(cutting.empty()) << "run through tests/wine/run.sh, which starts the cutting server";
    uint64_t before = 0;
    {
        std::string log = HttpGetBody("http://" + cutting + "/_admin/log");
        size_t at = log.find("\"bytes_sent\": ");
        ASSERT_NE(std::string::npos, at) << log.substr(0, 200);
        before = std::stoull(log.substr(at + 14));
    }
    kr::test::TempDir dir;
    ReleaseUnderTest viaCutting = release;
    viaCutting.server = cutting;
    Outcome outcome = RunEngine(viaCutting, dir.Path());
    ASSERT_EQ(CKrInstaller::StateFinished, outcome.state) << "error " << outcome.error;
    EXPECT_TRUE(DiffTrees(release.image, dir.Path(), "Data.cch").empty());
    uint64_t releaseBytes = 0;
    for (const auto& entry : fs::directory_iterator(release.www))
        if (entry.is_regular_file() && entry.path().filename().string().rfind("Data", 0) == 0)
            releaseBytes += entry.file_size();
    std::string log = HttpGetBody("http://" + cutting + "/_admin/log");
    size_t at = log.find("\"bytes_sent\": ");
    ASSERT_NE(std::string::npos, at);
    uint64_t served = std::stoull(log.substr(at + 14)) - before;
    std::printf("[ bytes    ] served %llu for packages and list of %llu bytes\n",
                static_cast<unsigned long long>(served), static_cast<unsigned long long>(releaseBytes));
    EXPECT_LE(served, releaseBytes + releaseBytes / 20);
}

// NTFS keeps a file's old case when it is overwritten, and a release may rename a file by its case
// only: the engine compares bare names without case here, so such a file is not fetched again.
TEST_F(EngineWineTest, ACaseOnlyRenameIsNotFetchedAgain)
{
    kr::test::TempDir dir;
    ASSERT_EQ(CKrInstaller::StateFinished, RunEngine(release, dir.Path()).state);
    fs::path victim = FirstInstalledFile(dir.Path());
    ASSERT_FALSE(victim.empty());
    std::string upper = victim.filename().string();
    for (char& c : upper)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    auto time = fs::last_write_time(victim);
    fs::rename(victim, victim.parent_path() / (upper + ".tmp"));
    fs::rename(victim.parent_path() / (upper + ".tmp"), victim.parent_path() / upper);
    fs::last_write_time(victim.parent_path() / upper, time);
    Outcome update = RunEngine(release, dir.Path());
    ASSERT_EQ(CKrInstaller::StateFinished, update.state) << "error " << update.error;
    EXPECT_EQ(0, update.totalCount);
}

TEST_F(EngineWineTest, UnreachableServerFailsWithErrorOneAndTouchesNothing)
{
    kr::test::TempDir dir;
    ReleaseUnderTest nowhere = release;
    nowhere.server = "127.0.0.1:9"; // discard port: nothing listens
    Outcome outcome = RunEngine(nowhere, dir.Path());
    EXPECT_EQ(CKrInstaller::StateFailed, outcome.state);
    EXPECT_EQ(CKrInstaller::ErrorConnect, outcome.error);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

} // namespace

// A signed release over WinINet: installed and remembered; a per-file zip that a network in between
// changed (size and time kept) is refused three times and never replaces the installed file.
TEST_F(EngineWineTest, SignedReleaseRefusesAChangedPerFileZip)
{
    CKrReleaseTrust trust;
    trust.state = ParseReleaseKey(kr::test::Env("KR_TEST_RELEASE_KEY").c_str(), &trust.key);
    ASSERT_EQ(KrReleaseKeyState::Valid, trust.state) << "run through tests/wine/run.sh, which signs the release";
    kr::test::TempDir dir;
    Outcome fresh = RunEngine(release, dir.Path(), trust);
    ASSERT_EQ(CKrInstaller::StateFinished, fresh.state) << "error " << fresh.error;
    EXPECT_TRUE(fs::exists(fs::path(dir.Path()) / "Data.release"));

    fs::path victim = FirstInstalledFile(dir.Path());
    ASSERT_FALSE(victim.empty());
    const std::string installed = ReadBytes(victim);
    fs::last_write_time(victim, fs::last_write_time(victim) - std::chrono::hours(24 * 400));
    const fs::path zip = release.www / "Data" / (victim.filename().string() + ".zip");
    const std::string served = ReadBytes(zip);
    const auto servedTime = fs::last_write_time(zip);
    struct Restore
    {
        const fs::path& path;
        const std::string& bytes;
        fs::file_time_type time;
        ~Restore()
        {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
            fs::last_write_time(path, time);
        }
    } restore{zip, served, servedTime};
    std::string changed = served;
    changed[changed.size() / 2] ^= 0x01;
    std::ofstream(zip, std::ios::binary | std::ios::trunc) << changed;
    fs::last_write_time(zip, servedTime);

    Outcome refused = RunEngine(release, dir.Path(), trust);
    EXPECT_EQ(CKrInstaller::StateFailed, refused.state);
    EXPECT_EQ(KrErrorReleaseMismatch, refused.error);
    EXPECT_EQ(installed, ReadBytes(victim));
}
