// CKrDownloadServer against real servers on loopback: nginx for the well-behaved cases, a small
// Python server for wrong statuses, missing headers and dropped connections.
#include "install/download_server.h"
#include "install/path_utils.h"
#include "tests/integration/engine/engine_servers.h"
#include "tests/integration/engine/release_fixture.h"
#include "tests/support/servers.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

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
        server.Configure(host, local.Path(), "Data");
        server.SetProgress(&progress);
    }

    TempDir root;
    TempDir local;
    OddServer odd;
    NginxServer nginx;
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
    ASSERT_TRUE(server.DownloadFile("Data\\file.bin.zip", "", 2, false, running));
    EXPECT_EQ(ReadWholeFile(local.Path() + "Data/file.bin.zip"), content);
    // The finished byte count stays in the slot for the caller to move into its done bytes.
    EXPECT_EQ(progress.last[2], content.size());
    EXPECT_EQ(nginx.CountRequests("GET /Data/file.bin.zip 200"), 1u);
    EXPECT_EQ(nginx.CountRequests("HEAD /Data/file.bin.zip 200"), 1u);

    ASSERT_TRUE(server.DownloadFile("Data\\a b#c.zip", "", 0, false, running));
    EXPECT_EQ(ReadWholeFile(local.Path() + "Data/a b#c.zip"), "spaced");
}

TEST_F(TransferTest, OnlyStatus200Counts)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    uint32_t size = 0;
    uint64_t time = 0;
    EXPECT_TRUE(server.QueryRemoteFile("Data/file.bin.zip", &size, &time));
    EXPECT_EQ(size, content.size());
    EXPECT_EQ(time, UnixTimeToFileTime(1600000001));
    for (const char* code : {"304", "301", "302", "404", "500"})
    {
        std::string name = std::string("status/") + code + "/Data/file.bin.zip";
        EXPECT_FALSE(server.QueryRemoteFile(name, nullptr, nullptr)) << code;
        EXPECT_FALSE(server.DownloadFile(name, "", 0, false, running)) << code;
        // No redirect was followed into the real file.
        EXPECT_FALSE(FileExists(local.Path() + name)) << code;
    }
    EXPECT_FALSE(server.DownloadFile("Data/missing.zip", "", 0, false, running));
}

TEST_F(TransferTest, MissingHeadersFailWhatNeedsThem)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    uint32_t size = 0;
    uint64_t time = 0;
    EXPECT_FALSE(server.QueryRemoteFile("nolength/Data/file.bin.zip", &size, nullptr));
    EXPECT_TRUE(server.QueryRemoteFile("nolength/Data/file.bin.zip", nullptr, &time));
    EXPECT_FALSE(server.QueryRemoteFile("nodate/Data/file.bin.zip", nullptr, &time));
    EXPECT_TRUE(server.QueryRemoteFile("nodate/Data/file.bin.zip", &size, nullptr));

    EXPECT_FALSE(server.DownloadFile("nolength/Data/file.bin.zip", "", 0, true, running));
    EXPECT_FALSE(server.DownloadFile("nodate/Data/file.bin.zip", "", 0, true, running));
    // Without the time check a body that ends with the connection is accepted.
    ASSERT_TRUE(server.DownloadFile("nolength/Data/file.bin.zip", "", 0, false, running));
    EXPECT_EQ(ReadWholeFile(local.Path() + "nolength/Data/file.bin.zip"), content);
}

TEST_F(TransferTest, DroppedConnectionFailsAndClearsTheSlot)
{
    Use(odd.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    EXPECT_FALSE(server.DownloadFile("drop/Data/file.bin.zip", "", 1, false, running));
    EXPECT_GT(progress.highest[1], 0u);
    EXPECT_EQ(progress.last[1], 0u);
    // The next attempt of the same name overwrites the partial file.
    EXPECT_TRUE(server.DownloadFile("Data/file.bin.zip", "", 1, false, running));
}

TEST_F(TransferTest, TimeCheckKeepsAMatchingLocalFileAndStampsAFetchedOne)
{
    Use(nginx.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    const std::string path = local.Path() + "Data/file.bin.zip";

    ASSERT_TRUE(server.DownloadFile("Data\\file.bin.zip", "", 0, true, running));
    EXPECT_EQ(ReadWholeFile(path), content);
    EXPECT_EQ(FileTimeOf(path), UnixTimeToFileTime(1600000001));

    // Same size, a time in the same 2-second DOS step: kept, nothing transferred.
    std::string same(content.size(), 'x');
    WriteWholeFile(path, same);
    SetFileTimeTo(path, UnixTimeToFileTime(1600000000));
    ASSERT_TRUE(server.DownloadFile("Data\\file.bin.zip", "", 0, true, running));
    EXPECT_EQ(ReadWholeFile(path), same);

    // The next DOS step is a different time: fetched again.
    SetFileTimeTo(path, UnixTimeToFileTime(1600000002));
    ASSERT_TRUE(server.DownloadFile("Data\\file.bin.zip", "", 0, true, running));
    EXPECT_EQ(ReadWholeFile(path), content);

    // One byte longer: fetched again.
    WriteWholeFile(path, content + "!");
    SetFileTimeTo(path, UnixTimeToFileTime(1600000001));
    ASSERT_TRUE(server.DownloadFile("Data\\file.bin.zip", "", 0, true, running));
    EXPECT_EQ(ReadWholeFile(path), content);
}

TEST_F(TransferTest, DestinationDirectoryReplacesTheInstallDirectory)
{
    Use(nginx.Host());
    ASSERT_TRUE(server.Connect("Data/file.bin.zip"));
    TempDir other;
    ASSERT_TRUE(server.DownloadFile("Data\\a b#c.zip", other.Path(), 0, false, running));
    EXPECT_EQ(ReadWholeFile(other.Path() + "Data/a b#c.zip"), "spaced");
    EXPECT_FALSE(FileExists(local.Path() + "Data/a b#c.zip"));
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
    EXPECT_FALSE(server.DownloadFile("slow/Data/file.bin.zip", "", 0, false, running));
    auto took = std::chrono::steady_clock::now() - started;
    stopper.join();
    EXPECT_LT(took, std::chrono::seconds(5));
    running = true;

    // Disconnecting makes later requests fail until the next Connect.
    server.Disconnect();
    EXPECT_FALSE(server.QueryRemoteFile("Data/file.bin.zip", nullptr, nullptr));
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
