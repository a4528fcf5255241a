#include "tests/unit/engine/fake_engine.h"

#include "install/path_utils.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "tools/kr-pack/release_image.h"
#include "tools/kr-pack/release_writer.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

namespace kr::test
{

std::vector<std::pair<int, bool>> RecordingEvents::Events()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

void RecordingEvents::Add(int type, bool flag)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.emplace_back(type, flag);
}

std::string FakeEngineTest::Bytes(size_t size, uint32_t seed, bool compressible)
{
    if (compressible)
        return std::string(size, static_cast<char>('a' + seed % 26));
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::vector<ReleaseFile> FakeEngineTest::Game(int count, size_t size, uint32_t seed)
{
    std::vector<ReleaseFile> game;
    for (int i = 0; i < count; ++i)
    {
        ReleaseFile f;
        f.path = std::string(i % 3 == 2 ? "Data/sub/" : "Data/") + "file_" + std::to_string(i) + ".bin";
        f.content = Bytes(size + static_cast<size_t>(i) * 7, seed + static_cast<uint32_t>(i));
        // Odd seconds: zips keep 2-second steps, the list the exact time.
        f.unixTime = 1600000001 + static_cast<int64_t>(i) * 3601;
        game.push_back(f);
    }
    game.push_back({"readme.txt", "beside Data\n", 1600000001});
    return game;
}

uint64_t FakeEngineTest::TimeOf(const std::string& path)
{
    uint64_t time = 0;
    kr::os::GetFileTimes(path, nullptr, nullptr, &time);
    return time;
}

void FakeEngineTest::SetTime(const std::string& path, uint64_t fileTime)
{
    kr::os::SetFileTimes(path, nullptr, nullptr, &fileTime);
}

bool FakeEngineTest::Exists(const std::string& path)
{
    kr::os::FileInfo info;
    return kr::os::GetFileInfo(path, info);
}

void FakeEngineTest::MakeRelease(const std::vector<ReleaseFile>& gameFiles, uint64_t packageSize,
                                 const std::string& packageName)
{
    files = gameFiles;
    for (const ReleaseFile& f : files)
    {
        std::string path = image.Path() + f.path;
        kr::os::MakeDirectories(GetDirectoryPart(kr::os::NativePath(path)));
        WriteWholeFile(path, f.content);
        SetTime(path, UnixTimeToFileTime(f.unixTime));
    }
    CKrReleaseImage scanned;
    ASSERT_TRUE(scanned.Scan(image.Path())) << scanned.GetError();
    ReleaseOptions options;
    options.packageName = packageName;
    options.packageSize = packageSize;
    options.jobs = 1;
    CKrReleaseWriter writer(scanned, image.Path(), release.Path(), options);
    ReleaseSummary summary;
    ASSERT_TRUE(writer.Write(summary)) << writer.GetError();
    Republish();
}

void FakeEngineTest::Republish()
{
    transport.AddDirectory(release.Path());
}

void FakeEngineTest::SignRelease(uint64_t releaseNumber, const KrSecretKey& key, const std::string& packageName)
{
    CKrReleaseManifest manifest;
    ASSERT_TRUE(manifest.SetPackage(packageName));
    ASSERT_TRUE(manifest.SetRelease(releaseNumber));

    const std::string manifestName = packageName + ".manifest";
    auto add = [&](const std::string& path, const std::string& name, bool isData) {
        KrSha256 digest;
        uint64_t size = 0;
        ASSERT_EQ(KrFileHashResult::Ok, Sha256File(path, &digest, &size)) << path;
        ASSERT_TRUE(isData ? manifest.AddData(name, size, digest) : manifest.AddFile(name, size, digest)) << name;
    };
    for (const auto& published : FilesBelow(release.Path()))
        if (published.first != manifestName)
            add(release.Path() + published.first, published.first, false);
    for (const auto& data : FilesBelow(image.Path() + "Data/"))
        add(image.Path() + "Data/" + data.first, data.first.substr(data.first.find_last_of('/') + 1), true);
    WriteWholeFile(release.Path() + manifestName, manifest.Sign(key));
    Republish();
}

CKrInstallerSettings FakeEngineTest::SignedSettings(const KrPublicKey& key)
{
    CKrInstallerSettings s = Settings();
    s.release.state = KrReleaseKeyState::Valid;
    s.release.key = key;
    return s;
}

CKrInstallerSettings FakeEngineTest::Settings(KrInstallerBuild build)
{
    CKrInstallerSettings s;
    s.build = build;
    s.transport = &transport;
    s.clock = &clock;
    s.jitterSeed = 12345;
    s.events = &events;
    // Whatever key the build carries: these tests choose their own.
    s.release = CKrReleaseTrust();
    CKrInstallerTimings& t = s.timings;
    t.startDelayMs = 0;
    t.idleMs = 2;
    t.roundMs = 5;
    t.directXPollMs = 10;
    t.directXSettleMs = 20;
    t.retryFirstMs = 100;
    t.retryMaxMs = 1600;
    return s;
}

FakeRun FakeEngineTest::Run(const CKrInstallerSettings& settings,
                            const std::vector<std::pair<std::string, uint32_t>>& items,
                            const std::string& packageName,
                            const std::function<bool(CKrInstaller&, const FakeRun&)>& stop, uint64_t maxVirtualMs,
                            uint32_t stepMs)
{
    FakeRun run;
    uint64_t start = clock.NowMs();
    auto realDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    {
        CKrInstaller engine;
        engine.Init(packageName, install.Path(), "fake.test", settings);
        for (const auto& item : items)
            engine.AddItem(item.first, item.second, false);
        engine.Start();
        // The extraction threads, three workers and the control thread.
        const int engineThreads = std::min(std::max(settings.extractThreads, 1), 4) + 4;
        auto lastAdvance = std::chrono::steady_clock::now();
        while (clock.NowMs() - start < maxVirtualMs && std::chrono::steady_clock::now() < realDeadline)
        {
            int previousState = run.state;
            float previousDone = run.doneMB;
            engine.GetStatus(&run.state, &run.doneMB, &run.totalMB, nullptr, nullptr);
            if (run.state == previousState && run.doneMB < previousDone)
                run.steppedBack = true;
            if (run.doneMB > run.totalMB)
                run.passedTotal = true;
            if (run.state == CKrInstaller::StateFinished || run.state == CKrInstaller::StateFailed)
                break;
            if (stop && stop(engine, run))
                break;
            // The time moves on to the next wake-up once all engine threads wait for one (or, when
            // one of them is gone or held by a transfer for long, by a step every 50 ms).
            auto now = std::chrono::steady_clock::now();
            if (clock.Waiting() >= engineThreads)
            {
                uint64_t next = clock.NextWake();
                clock.Advance(next > clock.NowMs() ? next - clock.NowMs() : stepMs);
                lastAdvance = now;
            }
            else if (now - lastAdvance > std::chrono::milliseconds(50))
            {
                clock.Advance(stepMs);
                lastAdvance = now;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        engine.GetStatus(&run.state, &run.doneMB, &run.totalMB, &run.doneCount, &run.totalCount);
        run.error = engine.GetErrorCode();
        run.counters = engine.GetCounters();
    }
    run.virtualMs = clock.NowMs() - start;
    return run;
}


std::vector<std::string> FakeEngineTest::Diff()
{
    std::set<std::string> expected, actual;
    for (const auto& file : FilesBelow(image.Path()))
        expected.insert(file.first);
    for (const auto& file : FilesBelow(install.Path()))
        actual.insert(file.first);
    std::vector<std::string> diff;
    for (const std::string& path : expected)
    {
        if (!actual.count(path))
            diff.push_back("missing " + path);
        else if (ReadWholeFile(image.Path() + path) != ReadWholeFile(install.Path() + path))
            diff.push_back("differs " + path);
    }
    for (const std::string& path : actual)
    {
        // The engine's own records: the file list, the release number of a signed release.
        if (expected.count(path) || path.find(".cch") != std::string::npos || path.find(".release") != std::string::npos)
            continue;
        diff.push_back("extra " + path);
    }
    return diff;
}

} // namespace kr::test
