#pragma once
// CKrInstaller keeps one installation directory in step with a download server: a fresh install
// from numbered packages, then (and on every later run) a comparison of each installed file with the
// server's file list and the download of what differs. Five threads of its own; the owner only
// polls GetStatus and GetErrorCode, and deleting the engine stops it.
#include "install/download_server.h"
#include "services/mutex.h"
#include "services/thread.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

enum KrItemFlags : uint32_t
{
    ItemDirect = 1,  // fetched by the control thread by its plain name, with the time-and-size check
    ItemExtract = 2, // extracted in place after the download; the zip is kept
    ItemPackage = 4, // a package: extracted by the install thread, deleted, marked
};

enum KrItemStatus : uint32_t
{
    ItemPending = 0,
    ItemDone = 1,
    ItemDownloading = 2,
    ItemInstalling = 3,
};

struct InstallItem
{
    std::string name;
    std::string destDir; // launcher build: receives the download instead of installDir
    std::atomic<uint32_t> status{ItemPending};
    uint64_t lastWrite = 0; // FILETIME; 0 when unknown
    uint32_t order = 0;
    uint32_t size = 0;
    uint32_t downloadSize = 0;
    uint32_t flags = 0;
};

enum class KrInstallerBuild
{
    Launcher, // packageName "Data", items with destDir, events, server times for ItemDirect items
    Helper,   // packageName given, DirectX probe, counts in GetStatus
};

// The fixed waits of the engine. Tests shorten them; the product uses the defaults.
struct CKrInstallerTimings
{
    uint32_t startDelayMs = 500;     // before the first request of the control thread and workers
    uint32_t idleMs = 20;            // a queue was empty
    uint32_t roundMs = 100;          // between idle worker rounds, before state 6, in state 6
    uint32_t failurePauseMs = 100;   // after a failed download, before the next request
    uint32_t backlogWaitMs = 4000;   // longest pause while more than 2 packages wait for extraction
    uint32_t directXPollMs = 500;    // between probes for the DirectX runtime
    uint32_t directXSettleMs = 4000; // after the runtime appeared
    uint32_t extractRetryMs = 4000;  // before a package that could not be extracted is fetched again
};

struct CKrInstallerSettings
{
    KrInstallerBuild build = KrInstallerBuild::Launcher;
    bool checkDirectX = false; // helper build: probe on a fresh install
    // Helper-build configuration that the engine keeps for its owner and never reads.
    int32_t helperNumber = 0;
    std::string helperText1;
    std::string helperText2;
    std::string helperSecondDir;
    CKrInstallerTimings timings;
    // Replaceable for tests; empty means the real probe, setup start and metrics event.
    std::function<bool()> directXProbe;
    std::function<bool(const std::string& directory)> startDirectXSetup;
    // eventType 10005 with newInstall, or 10006 (newInstall unused).
    std::function<void(int eventType, bool newInstall)> reportEvent;
};

class CKrInstaller : private CKrTransferProgress
{
public:
    enum State : int
    {
        StateIdle = 0,
        StateDecide = 1,
        StateFreshInstall = 2,
        StateWaitDirectX = 3,
        StateVerify = 4,
        StateUpdate = 5,
        StateFinished = 6,
        StateFailed = 7,
    };
    enum Error : int
    {
        ErrorNone = 0,
        ErrorConnect = 1,       // the server's file-list cache could not be reached
        ErrorCacheDownload = 2, // both downloads of the cache failed
        ErrorCacheUnreadable = 3,
        ErrorCacheTooOld = 4,
        ErrorScan = 5,
        ErrorInstallFiles = 6, // files of the update could not be written; the next run fetches them again
    };
    static constexpr int kWorkers = 3;
    static constexpr int kMaxScanDepth = 64;
    static constexpr int kEventInstallStarted = 10005;
    static constexpr int kEventInstallFinished = 10006;

    CKrInstaller();
    ~CKrInstaller() override;
    CKrInstaller(const CKrInstaller&) = delete;
    CKrInstaller& operator=(const CKrInstaller&) = delete;

    // Launcher build ignores packageName and uses "Data". Always 1.
    int Init(const std::string& packageName, const std::string& installDir, const std::string& server,
             const CKrInstallerSettings& settings = CKrInstallerSettings());
    // Before Start. destDir only in the launcher build.
    void AddItem(const std::string& name, uint32_t size, bool extract,
                 const std::string& destDir = std::string());
    void Start();
    // True in state 6. Every pointer may be null; MB values only when both are given, counts only
    // in the helper build and when both are given.
    bool GetStatus(int* state, float* doneMB, float* totalMB, int* doneCount, int* totalCount);
    int GetErrorCode() const { return m_errorCode.load(std::memory_order_acquire); }

    // Diagnostics for tools and tests.
    struct Counters
    {
        uint32_t totalItems = 0;
        uint32_t doneItems = 0;
        uint64_t totalBytes = 0;
        uint64_t doneBytes = 0;
        uint32_t downloadFailures = 0;
        uint32_t extractFailures = 0;
        uint32_t scanMs = 0; // time the comparison of the installation with the file list took
    };
    Counters GetCounters();
    bool IsFreshInstall() const { return m_freshInstall; }
    bool IsDirectXNeeded() const { return m_directXNeeded; }
    const std::string& GetInstallDir() const { return m_installDir; }
    const std::string& GetPackageName() const { return m_packageName; }

private:
    struct WorkerContext
    {
        CKrInstaller* self = nullptr;
        int slot = 0;
    };

    static unsigned ControlThreadProc(void* context);
    static unsigned WorkerThreadProc(void* context);
    static unsigned InstallThreadProc(void* context);
    void ControlMain();
    void WorkerMain(int slot);
    void InstallMain();

    // installer.cpp: states 1 and 4 and their work.
    void SetState(int state);
    void EnterDecide();
    void EnterVerify();
    void Fail(int errorCode);
    void DeleteMarkers();
    std::string PackageName(int index) const;
    std::string MarkerPath(int index) const;
    bool Scan(const std::string& dir, int depth);
    void ReportEvent(int eventType, bool newInstall);

    // installer_threads.cpp
    // Both return true when they handled an item.
    bool FreshStep();
    void DirectXStep();
    bool UpdateStep();
    void InstallPackage(InstallItem* item);
    void InstallSingleFile(InstallItem* item);
    bool ExtractZip(const std::string& zipPath);
    void ExtractInPlace(InstallItem* item);
    void WriteMarker(const InstallItem* item);
    bool SleepWhile(const std::atomic<bool>& running, uint32_t ms);
    void WaitForInstallBacklog();
    std::string ItemDir(const InstallItem* item) const;
    bool IsLauncher() const { return m_settings.build == KrInstallerBuild::Launcher; }

    // Counters, each change under m_countersMutex.
    void SetSlotBytes(int slot, uint64_t bytes) override;
    void AddTotals(uint32_t items, uint64_t bytes);
    void CompleteTransfer(int slot, uint64_t bytes, bool itemDone);
    void CountItemDone();
    void CountDownloadFailure(int slot);
    // `undoBytes`: a download whose content did not get into place leaves the done bytes again.
    void CountExtractFailure(uint64_t undoBytes = 0);
    bool AllItemsDone();

    CKrInstallerSettings m_settings;
    bool m_freshInstall = true;
    std::atomic<int> m_state{StateIdle};
    std::atomic<int> m_errorCode{ErrorNone};
    CKrDownloadServer m_server;

    CKrThread m_controlThread;
    std::atomic<bool> m_controlRunning{false};
    std::atomic<bool> m_controlBusy{false};
    CKrThread m_workerThreads[kWorkers];
    WorkerContext m_workerContexts[kWorkers];
    std::atomic<bool> m_workersRunning{false};
    std::atomic<int> m_activeWorkers{0};
    CKrThread m_installThread;
    std::atomic<bool> m_installRunning{false};
    std::atomic<int> m_activeInstallThreads{0};

    bool m_directXNeeded = false;
    std::atomic<bool> m_directXSetupStarted{false};
    // A file of this run could not be written: the run must not end as finished.
    std::atomic<bool> m_filesNotInstalled{false};

    std::string m_packageName;
    std::string m_cacheFileName;
    std::string m_installDir;
    std::string m_serverName;

    CKrMutex m_countersMutex;
    Counters m_counters;
    uint64_t m_slotBytes[CKrDownloadServer::kSlots] = {};

    // Items of a fresh install live until the engine is destroyed; queues hold plain pointers.
    CKrMutex m_freshMutex;
    std::deque<InstallItem*> m_freshQueue;
    std::vector<std::unique_ptr<InstallItem>> m_freshItems;
    CKrMutex m_downloadMutex; // also guards m_itemMap
    std::map<std::string, std::unique_ptr<InstallItem>> m_itemMap;
    std::deque<InstallItem*> m_downloadQueue;
    CKrMutex m_installMutex;
    std::deque<InstallItem*> m_installQueue;
};
