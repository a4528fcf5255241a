// CKrDownloadServer over the system transport (libcurl) against real servers on loopback: nginx for
// the well-behaved cases (its Range and If-Range handling included), the misbehaving Python server
// for wrong statuses, missing headers, cut and stalled transfers.
#include "install/download_server.h"
#include "install/path_utils.h"
#include "platform/files.h"
#include "tests/integration/engine/engine_servers.h"
#include "tests/integration/engine/release_fixture.h"
#include "tests/support/servers.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

using namespace kr::test;

namespace
{

class RecordingProgress : public CKrTransferProgress
{
public:
    void SetSlotBytes(int slot, uint64_t bytes) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        last[slot] = bytes;
        if (bytes > highest[slot])
            highest[slot] = bytes;
    }
    uint64_t last[CKrDownloadServer::kSlots] = {};
    uint64_t highest[CKrDownloadServer::kSlots] = {};

private:
    std::mutex m_mutex;
};

class TransferTest : public testing::Test
{
protected:
    void SetUp() override
    {
        content = RandomBytes(300000, 7);
        WriteGameFile(root.Path(), {"Data/file.bin.zip", content, 1600000001});
        WriteGameFile(root.Path(), {"Data/a b#c.zip", "spaced", 1600000000});
        ASSERT_TRUE(odd.Start(root.Path()));
        ASSERT_TRUE(nginx.Start(root.Path()));
    }

    void Use(const std::string& host)
    {
        server.Configure(host, "Data", transport.get());
        server.SetProgress(&progress);
    }

    // A download of `name` staged under local/, optionally moved to local/final/.
    KrDownloadJob Job(const std::string& name, bool final = false, bool timeCheck = false)
    {
        KrDownloadJob job;
        job.remoteName = name;
        std::string relative = name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        job.stagedPath = local.Path() + "staged/" + relative;
        job.infoPath = job.stagedPath + ".krinfo";
        if (final)
            job.finalPath = local.Path() + "final/" + relative;
        job.timeCheck = timeCheck;
        job.progressSize = content.size();
        return job;
    }

    TempDir root;
    TempDir local;
    OddServer odd;
    NginxServer nginx;
    std::unique_ptr<kr::os::Transport> transport = kr::os::CreateSystemTransport();
    CKrDownloadServer server;
    RecordingProgress progress;
    std::atomic<bool> running{true};
    std::string content;
};

} // namespace

TEST_F(TransferTest, DownloadsByComposedNameAndReportsProgress)
{
    Use(nginx.Host());
    ASSERT_TRUE(server.Connect("Data\\file.bin.zip"));
    KrDownloadJob job = Job("Data\\file.bin.zip");
    KrDownloadResult result = server.Download(job, 2, running);
    ASSERT_EQ(result.outcome, KrFetchOutcome::Done);
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == content) << "content of " << job.stagedPath;
    // The finished byte count stays in the slot for the caller to move into its done bytes.
    EXPECT_EQ(progress.last[2], content.size());
    EXPECT_EQ(nginx.CountRequests("GET /Data/file.bin.zip 200"), 1u);
    EXPECT_EQ(nginx.CountRequests("HEAD /Data/file.bin.zip 200"), 1u);

    KrDownloadJob spaced = Job("Data\\a b#c.zip", true);
    ASSERT_EQ(server.Download(spaced, 0, running).outcome, KrFetchOutcome::Done);
    EXPECT_EQ(ReadWholeFile(spaced.finalPath), "spaced");
    EXPECT_FALSE(FileExists(spaced.stagedPath));
    EXPECT_FALSE(FileExists(spaced.infoPath));
}

TEST_F(TransferTest, StatusesAreClassifiedForTheRetryRules)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    KrQueryResult query = server.Query("Data/file.bin.zip", 0);
    ASSERT_EQ(query.outcome, KrFetchOutcome::Done);
    EXPECT_EQ(query.size, content.size());
    EXPECT_EQ(query.lastWrite, UnixTimeToFileTime(1600000001));
    const std::pair<const char*, KrFetchOutcome> cases[] = {
        {"304", KrFetchOutcome::Refused},   {"301", KrFetchOutcome::Refused},
        {"302", KrFetchOutcome::Refused},   {"403", KrFetchOutcome::Refused},
        {"404", KrFetchOutcome::NotFound},  {"410", KrFetchOutcome::NotFound},
        {"500", KrFetchOutcome::Transient}, {"503", KrFetchOutcome::Transient},
        {"429", KrFetchOutcome::Transient},
    };
    for (const auto& c : cases)
    {
        std::string name = std::string("status/") + c.first + "/Data/file.bin.zip";
        EXPECT_EQ(server.Query(name, 0).outcome, c.second) << c.first;
        KrDownloadJob job = Job(name, true);
        EXPECT_EQ(server.Download(job, 0, running).outcome, c.second) << c.first;
        // No redirect was followed into the real file.
        EXPECT_FALSE(FileExists(job.finalPath)) << c.first;
        EXPECT_FALSE(FileExists(job.stagedPath)) << c.first;
    }
    EXPECT_EQ(server.Download(Job("Data/missing.zip"), 0, running).outcome, KrFetchOutcome::NotFound);
}

TEST_F(TransferTest, MissingHeadersFailWhatNeedsThem)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    KrQueryResult noLength = server.Query("nolength/Data/file.bin.zip", 0);
    EXPECT_FALSE(noLength.hasSize);
    EXPECT_TRUE(noLength.hasLastWrite);
    KrQueryResult noDate = server.Query("nodate/Data/file.bin.zip", 0);
    EXPECT_TRUE(noDate.hasSize);
    EXPECT_FALSE(noDate.hasLastWrite);

    EXPECT_EQ(server.Download(Job("nolength/Data/file.bin.zip", true, true), 0, running).outcome,
              KrFetchOutcome::Refused);
    EXPECT_EQ(server.Download(Job("nodate/Data/file.bin.zip", true, true), 0, running).outcome,
              KrFetchOutcome::Refused);
    // Without the time check a body that ends with the connection is accepted (and not resumable).
    KrDownloadJob job = Job("nolength/Data/file.bin.zip");
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Done);
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == content) << "content of " << job.stagedPath;
    EXPECT_FALSE(FileExists(job.infoPath));
}

TEST_F(TransferTest, ACutTransferKeepsItsBytesAndTheNextAttemptAsksOnlyForTheRest)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    ASSERT_TRUE(odd.FileFaults({{"Data/file.bin.zip", {"cut:0.6"}}}));
    KrDownloadJob job = Job("Data/file.bin.zip");
    KrDownloadResult cut = server.Download(job, 1, running);
    EXPECT_EQ(cut.outcome, KrFetchOutcome::Transient);
    EXPECT_GT(progress.highest[1], 0u);
    EXPECT_EQ(progress.last[1], 0u);
    uint64_t kept = 0;
    ASSERT_TRUE(kr::os::GetFileSize(job.stagedPath, &kept));
    EXPECT_EQ(kept, content.size() * 6 / 10);
    ASSERT_TRUE(FileExists(job.infoPath));

    KrDownloadResult resumed = server.Download(job, 1, running);
    ASSERT_EQ(resumed.outcome, KrFetchOutcome::Done);
    EXPECT_EQ(resumed.resumedFrom, kept);
    EXPECT_EQ(resumed.received, content.size() - kept);
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == content) << "content of " << job.stagedPath;
    OddServer::Log log = odd.ReadLog();
    EXPECT_EQ(log.Count("GET", "Data/file.bin.zip", 206), 1u);
    // Every byte crossed the wire once.
    EXPECT_EQ(static_cast<uint64_t>(log.bytesSent), content.size());

    // A complete staged file is confirmed with one byte, not fetched again.
    odd.ResetLog();
    ASSERT_EQ(server.Download(job, 1, running).outcome, KrFetchOutcome::Done);
    EXPECT_EQ(odd.ReadLog().bytesSent, 1);
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == content) << "content of " << job.stagedPath;
}

TEST_F(TransferTest, NginxContinuesAPartialFileValidatedByItsDate)
{
    // The same files on both servers: the odd server cuts, nginx continues with 206.
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    ASSERT_TRUE(odd.FileFaults({{"Data/file.bin.zip", {"cut:0.3"}}}));
    KrDownloadJob job = Job("Data\\file.bin.zip");
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Transient);
    Use(nginx.Host());
    KrDownloadResult resumed = server.Download(job, 0, running);
    ASSERT_EQ(resumed.outcome, KrFetchOutcome::Done);
    EXPECT_GT(resumed.resumedFrom, 0u);
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == content) << "content of " << job.stagedPath;
    EXPECT_EQ(nginx.CountRequests("GET /Data/file.bin.zip 206"), 1u);
}

TEST_F(TransferTest, AServerThatIgnoresRangeOrAChangedFileGivesTheWholeFile)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    KrDownloadJob job = Job("Data/file.bin.zip");
    ASSERT_TRUE(odd.FileFaults({{"Data/file.bin.zip", {"cut:0.5", "ignore_range"}}}));
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Transient);
    KrDownloadResult whole = server.Download(job, 0, running);
    ASSERT_EQ(whole.outcome, KrFetchOutcome::Done);
    EXPECT_EQ(whole.received, content.size());
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == content) << "content of " << job.stagedPath;

    // Cut again, then the file changes on the server: If-Range no longer matches, 200 replaces it.
    kr::os::RemoveFile(job.stagedPath);
    ASSERT_TRUE(odd.FileFaults({{"Data/file.bin.zip", {"cut:0.5"}}}));
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Transient);
    std::string changed = RandomBytes(content.size(), 99);
    WriteGameFile(root.Path(), {"Data/file.bin.zip", changed, 1600000099});
    KrDownloadResult replaced = server.Download(job, 0, running);
    ASSERT_EQ(replaced.outcome, KrFetchOutcome::Done);
    EXPECT_EQ(replaced.received, changed.size());
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == changed) << "content of " << job.stagedPath;
}

TEST_F(TransferTest, APartialFileThatNoLongerFitsIsDroppedAndFetchedWhole)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    KrDownloadJob job = Job("Data/file.bin.zip");
    ASSERT_TRUE(odd.FileFaults({{"Data/file.bin.zip", {"cut:0.5"}}}));
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Transient);
    // The file shrank on the server but kept its date: the range is past its end (416).
    std::string shorter = content.substr(0, content.size() / 4);
    WriteGameFile(root.Path(), {"Data/file.bin.zip", shorter, 1600000001});
    KrDownloadResult again = server.Download(job, 0, running);
    ASSERT_EQ(again.outcome, KrFetchOutcome::Done);
    EXPECT_TRUE(ReadWholeFile(job.stagedPath) == shorter) << "content of " << job.stagedPath;
    EXPECT_EQ(odd.ReadLog().Count("GET", "Data/file.bin.zip", 416), 1u);
}

TEST_F(TransferTest, TimeCheckKeepsAMatchingLocalFileAndStampsAFetchedOne)
{
    Use(nginx.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    KrDownloadJob job = Job("Data\\file.bin.zip", true, true);
    const std::string& path = job.finalPath;

    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Done);
    EXPECT_TRUE(ReadWholeFile(path) == content) << "content of " << path;
    EXPECT_EQ(FileTimeOf(path), UnixTimeToFileTime(1600000001));

    // Same size, a time in the same 2-second DOS step: kept, nothing transferred.
    std::string same(content.size(), 'x');
    WriteWholeFile(path, same);
    SetFileTimeTo(path, UnixTimeToFileTime(1600000000));
    EXPECT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::UpToDate);
    EXPECT_TRUE(ReadWholeFile(path) == same) << "content of " << path;

    // The next DOS step is a different time: fetched again.
    SetFileTimeTo(path, UnixTimeToFileTime(1600000002));
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Done);
    EXPECT_TRUE(ReadWholeFile(path) == content) << "content of " << path;

    // One byte longer: fetched again.
    WriteWholeFile(path, content + "!");
    SetFileTimeTo(path, UnixTimeToFileTime(1600000001));
    ASSERT_EQ(server.Download(job, 0, running).outcome, KrFetchOutcome::Done);
    EXPECT_TRUE(ReadWholeFile(path) == content) << "content of " << path;
}

TEST_F(TransferTest, StoppingEndsARunningTransferQuickly)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    // The slow path needs about 15 s for the whole file.
    std::thread stopper(
        [this]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            running = false;
        });
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(server.Download(Job("slow/Data/file.bin.zip"), 0, running).outcome, KrFetchOutcome::Cancelled);
    auto took = std::chrono::steady_clock::now() - started;
    stopper.join();
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    running = true;

    // A stalled transfer (nothing arrives) ends within a second of Cancel, from another thread.
    ASSERT_TRUE(odd.FileFaults({{"Data/file.bin.zip", {"stall"}}}));
    std::thread canceller(
        [this]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            server.Cancel();
        });
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(server.Download(Job("Data/file.bin.zip"), 0, running).outcome, KrFetchOutcome::Cancelled);
    took = std::chrono::steady_clock::now() - started;
    canceller.join();
    EXPECT_LT(took, std::chrono::milliseconds(1500));

    // Cancelled, later requests fail until the next Connect.
    EXPECT_EQ(server.Query("Data/file.bin.zip", 0).outcome, KrFetchOutcome::Cancelled);
    EXPECT_TRUE(server.Connect("Data/file.bin.zip"));
}

TEST_F(TransferTest, ConnectFailsWithoutAServerOrWithoutTheProbedFile)
{
    Use("127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
    EXPECT_FALSE(server.Connect("Data.cch"));
    Use(nginx.Host());
    EXPECT_FALSE(server.Connect("Data.cch"));
    // Asked twice before giving up.
    EXPECT_EQ(nginx.CountRequests("HEAD /Data.cch 404"), 2u);
}
