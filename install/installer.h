#pragma once
// CKrInstaller keeps one installation directory in step with a download server: a fresh install
// from numbered packages, then (and on every later run) a comparison of each installed file with the
// server's file list and the download of what differs. Five threads of its own; the owner polls
// GetStatus and GetErrorCode, receives events through the interface it supplies, and deleting the
// engine stops it (within about a second).
//
// Files: installer.cpp (the owner's calls, counters), installer_states.cpp (the state machine:
// every transition and the work done on entering each state), installer_threads.cpp (the control
// thread's steps, the download workers and the extraction threads), install_layout.h (every name the
// engine uses on disk and on the server), installer_errors.h (the error codes).
#include "install/download_server.h"
#include "install/engine_clock.h"
#include "install/extract_claims.h"
#include "install/install_layout.h"
#include "install/installer_errors.h"
#include "install/installer_events.h"
#include "install/item_queue.h"
#include "install/rate_limiter.h"
#include "install/release_key.h"
#include "install/release_manifest.h"
#include "install/retry_policy.h"
#include "services/mutex.h"
#include "services/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

enum KrItemFlags : uint32_t
{
    ItemDirect = 1,  // fetched by the control thread by its plain name, with the time-and-size check
    ItemExtract = 2, // extracted in place after the download; the zip is kept
    ItemPackage = 4, // a package: extracted by an extraction thread, deleted, marked
};

enum KrItemStatus : uint32_t
{
    ItemPending = 0,
    ItemDone = 1,
    ItemDownloading = 2,
    ItemInstalling = 3,
    ItemGivenUp = 4, // failed as often as the rules allow; the run ends in state 7
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
    int32_t packageIndex = -1; // packages: the number in the package and marker names
    // Retry bookkeeping, changed only by the thread that holds the item.
    uint16_t repeats = 0;            // faults that repeat on the same bytes
    uint16_t transientFailures = 0;  // faults that may pass

    // Fresh install, packages fetched in pieces over several connections. A piece points to its
    // package and names its bytes; the package owns its pieces.
    InstallItem* package = nullptr;
    uint64_t rangeOffset = 0;
    uint64_t rangeLength = 0;
    std::vector<std::unique_ptr<InstallItem>> pieces;
    std::atomic<int> piecesLeft{0};
    std::atomic<uint64_t> pieceBytesDone{0};
    std::atomic<bool> rangesRefused{false}; // the server answered a piece with the whole file
    std::atomic<bool> givenUp{false};
    bool wholeOnly = false; // fetched in one piece from now on
    // Staged as its complete pieces, which extraction reads as one file (set before the package is
    // handed to the extraction threads).
    bool inPieces = false;
    std::atomic<bool> staging{false}; // counted against the packages staged ahead
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
    uint32_t directXPollMs = 500;    // between probes for the DirectX runtime
    uint32_t directXSettleMs = 4000; // after the runtime appeared
    uint32_t retryFirstMs = 1000;    // back-off after the first failure of an item (see CKrBackoff)
    uint32_t retryMaxMs = 60000;     // the back-off's cap
};

// How the engine uses the network.
struct CKrTransferSettings
{
    // Transfers at once, 1..4: the control thread and up to three workers, in a fresh install and in
    // the update phase alike.
    int connections = 4;
    // A package of at least twice this size is fetched in byte ranges of at least this size, one
    // per connection, so that even one large package fills the line; 0 never splits.
    uint64_t rangeMinBytes = 4ull << 20;
    // Packages that may be downloading or waiting for extraction at once beyond the connections:
    // the disk never holds more than connections + this many packages that are not extracted.
    int packagesAhead = 2;
    // Bytes per second for all transfers together; 0 is no limit.
    uint64_t rateLimit = 0;
};

// The key a release's manifest must verify with. The build's key (KR_RELEASE_PUBLIC_KEY) unless a
// test gives another; None is an unsigned release, as before signing existed.
struct CKrReleaseTrust
{
    KrReleaseKeyState state = KrReleaseKeyState::None;
    KrPublicKey key{};
    static CKrReleaseTrust Configured();
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
    CKrTransferSettings transfers;
    CKrReleaseTrust release = CKrReleaseTrust::Configured();
    // Signed releases: every installed file of the list is hashed against the manifest, and those
    // that differ are fetched again even when their size and time agree.
    bool verifyInstall = false;
    // Events for the owner (launcher build only); not owned, null sends none.
    CKrInstallerEvents* events = nullptr;
    // The transfers; not owned and it must outlive the engine. Null: the system transport.
    kr::os::Transport* transport = nullptr;
    // Threads that extract downloaded zips, 1..4. Archives that write none of the same files are
    // extracted side by side (a fresh install is bound by extraction once the line is fast).
    int extractThreads = 2;
    // Every wait and retry time; not owned. Null: the system clock.
    CKrEngineClock* clock = nullptr;
    // Seed of the back-off's jitter; 0 takes one from the clock.
    uint64_t jitterSeed = 0;
    // Bare names compared without regard to ASCII case, as the file system does: -1 follows the
    // platform (Windows ignores case), 0 and 1 force it.
    int ignoreNameCase = -1;
    // Replaceable for tests; empty means the real probe, setup start and thread start.
    std::function<bool()> directXProbe;
    std::function<bool(const std::string& directory)> startDirectXSetup;
    std::function<bool(CKrThread& thread, kr::os::ThreadProc proc, void* context)> startThread;
    // Told on the extracting thread when an archive's extraction begins (its names claimed) and ends.
    std::function<void(const std::string& archive, bool begins)> extracting;
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
    // The codes of installer_errors.h under their older names.
    enum Error : int
    {
        ErrorNone = KrErrorNone,
        ErrorConnect = KrErrorConnect,
        ErrorCacheDownload = KrErrorCacheDownload,
        ErrorCacheUnreadable = KrErrorCacheUnreadable,
        ErrorCacheTooOld = KrErrorCacheTooOld,
        ErrorScan = KrErrorScan,
        ErrorInstallFiles = KrErrorInstallFiles,
        ErrorRemoteFile = KrErrorRemoteFile,
        ErrorPackageExtract = KrErrorPackageExtract,
        ErrorRemoteSize = KrErrorRemoteSize,
        ErrorThreadStart = KrErrorThreadStart,
        ErrorInternal = KrErrorInternal,
        ErrorReleaseUnverified = KrErrorReleaseUnverified,
        ErrorReleaseRollback = KrErrorReleaseRollback,
        ErrorReleaseMismatch = KrErrorReleaseMismatch,
    };
    static constexpr int kWorkers = 3;
    static constexpr int kMaxScanDepth = 64;
    static constexpr int kEventInstallStarted = 10005;
    static constexpr int kEventInstallFinished = 10006;
    // More numbered packages than this is not a release but a server that answers every name.
    static constexpr int kMaxPackages = 100000;

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
    // Starts the five threads; when one cannot be created, none runs and the state is 7 with
    // KrErrorThreadStart.
    void Start();
    // True in state 6. Every pointer may be null; MB values only when both are given, counts only
    // in the helper build and when both are given. Within a phase the done megabytes never go back
    // and never pass the total.
    bool GetStatus(int* state, float* doneMB, float* totalMB, int* doneCount, int* totalCount);
    int GetErrorCode() const { return m_errorCode.load(std::memory_order_acquire); }

    // Diagnostics for tools and tests.
    struct Counters
    {
        uint32_t totalItems = 0;
        uint32_t doneItems = 0;
        uint32_t givenUpItems = 0; // failed as often as the rules allow
        uint64_t totalBytes = 0;
        uint64_t doneBytes = 0;
        uint32_t downloadFailures = 0;
        uint32_t extractFailures = 0;
        uint32_t scanMs = 0; // time the comparison of the installation with the file list took
        uint32_t repairItems = 0; // verify: files whose size and time agreed but not their hash
    };
    Counters GetCounters();
    bool IsFreshInstall() const { return m_freshInstall; }
    bool IsDirectXNeeded() const { return m_directXNeeded; }
    // True once a signed release's manifest verified; its release number.
    bool IsReleaseVerified() const { return m_releaseVerified; }
    uint64_t GetRelease() const { return m_manifest.Release(); }
    const std::string& GetInstallDir() const { return m_installDir; }
    const std::string& GetPackageName() const { return m_packageName; }
    const CKrInstallLayout& Layout() const { return m_layout; }
    // The states 0..7 in order and the transitions the engine may take (the state machine's table).
    static bool IsAllowedTransition(int from, int to);

private:
    struct WorkerContext
    {
        CKrInstaller* self = nullptr;
        int slot = 0;
    };
    // Bare names, with or without regard to case.
    struct NameLess
    {
        bool ignoreCase = false;
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using ItemMap = std::map<std::string, std::unique_ptr<InstallItem>, NameLess>;

    // Thread entries: each catches everything and turns it into state 7 (KrErrorInternal).
    static unsigned ControlThreadProc(void* context);
    static unsigned WorkerThreadProc(void* context);
    static unsigned InstallThreadProc(void* context);
    bool StartOne(CKrThread& thread, kr::os::ThreadProc proc, void* context);

    // installer_states.cpp: the state machine.
    void ControlMain();
    void RunStateMachine();
    // Enters `next` and every state its entry work leads to.
    void Transition(int next);
    // The work done on entering a state; returns the state to go to next (`state` to stay).
    int EnterState(int state, int from);
    // One round of a state that loops; returns the state to go to next.
    int StepState(int state);
    int EnterDecide();
    int EnterVerify();
    int EnterFinished();
    // Before state 6 is visible: the staging folder cleared, a signed release's number recorded.
    void TidyFinishedRun();
    // Records why the run fails (the first reason wins) and returns StateFailed.
    int Fail(int errorCode);
    // From threads other than the control thread: the control thread ends the run.
    void RaiseFailure(int errorCode);
    void ForceFailed(int errorCode);
    // Signed releases: fetches and verifies the manifest, refuses a rollback.
    bool LoadManifest(int* error);
    bool IsSigned() const { return m_settings.release.state != KrReleaseKeyState::None; }
    // What a remote name must match, null when the manifest does not list it (or unsigned).
    const KrManifestEntry* SignedEntry(const std::string& remoteName) const;
    // False when the release is signed and does not list the name: the file is given up unfetched.
    bool ExpectSigned(const std::string& remoteName, KrDownloadJob& job) const;
    bool NumberPackages();
    // The list or the manifest on the control thread: transient faults retried with back-off, the
    // same refusal three times is `refusedError`.
    bool FetchControlFile(const KrDownloadJob& job, int refusedError, int* error);
    bool FetchFileList(int* error);
    bool Scan(const std::string& dir, int depth);
    void DeleteMarkers();
    void ReportStarted(bool newInstall);
    void ReportFinished();

    // installer_threads.cpp
    int FreshStep();
    int DirectXStep();
    int UpdateStep();
    // One item of the update phase (a per-file zip, or a direct item) in `slot`.
    void FetchUpdateItem(InstallItem* item, int slot, const std::atomic<bool>& running);
    // The fetch of an item fetched by its plain name (ItemDirect), with the time check.
    KrDownloadResult FetchDirect(InstallItem* item, int slot, const std::atomic<bool>& running);
    // After a failed fetch: back into `queue` for later, or given up.
    void HandleFetchFailure(InstallItem* item, KrFetchOutcome outcome, int slot, CKrItemQueue& queue);
    void GiveUp(InstallItem* item, int errorCode);
    bool PhaseDone();
    void WorkerMain(int slot);
    void InstallMain();
    void WorkerIdleRound(int state);
    int ExtractThreads() const;
    // One unit of a fresh install's downloads in `slot`: a piece of a package already begun, a new
    // package while the staging bound allows it, or (the control thread only) an added item. False
    // when there was nothing to take.
    bool FreshFetch(int slot, const std::atomic<bool>& running, bool control);
    void FetchPackage(InstallItem* item, int slot, const std::atomic<bool>& running);
    void FetchPiece(InstallItem* piece, int slot, const std::atomic<bool>& running);
    // After the last piece: queued for extraction as its pieces, or (ranges refused) the package goes
    // back for a download in one piece.
    void FinishPieces(InstallItem* package);
    void PackageLeavesStaging(InstallItem* package);
    int Connections() const;
    void InstallPackage(InstallItem* item);
    void InstallSingleFile(InstallItem* item);
    // 1 extracted, 0 failed, -1 stopped (nothing counted).
    int ExtractZip(const std::vector<std::string>& parts, const std::string& destDir, const std::atomic<bool>& running,
                   bool* damaged, std::vector<std::string>* written);
    void ExtractInPlace(InstallItem* item, const std::atomic<bool>& running);
    void WriteMarker(const InstallItem* item);
    std::string ItemDir(const InstallItem* item) const;
    std::string StagedPackagePath(const InstallItem* item) const;
    std::string PiecePath(const InstallItem* piece) const;
    // The staged package as the files that hold it, in order.
    std::vector<std::string> StagedPackageParts(const InstallItem* item) const;
    void DiscardStagedPackage(const InstallItem* item);
    bool IsLauncher() const { return m_settings.build == KrInstallerBuild::Launcher; }
    bool SameName(const std::string& a, const std::string& b) const;
    uint64_t Now() { return m_clock->NowMs(); }

    // Counters, each change under m_countersMutex.
    void SetSlotBytes(int slot, uint64_t bytes) override;
    void AddTotals(uint32_t items, uint64_t bytes);
    void ResetPhase(int nextState);
    void CompleteTransfer(int slot, uint64_t bytes, bool itemDone);
    void CountItemDone();
    void CountDownloadFailure(int slot);
    // `undoBytes`: a download whose content did not get into place leaves the done bytes again.
    void CountExtractFailure(uint64_t undoBytes = 0);
    void UndoDoneBytes(uint64_t bytes);

    CKrInstallerSettings m_settings;
    CKrEngineClock* m_clock = nullptr;
    CKrBackoff m_backoff;
    bool m_freshInstall = true;
    bool m_updateRun = false; // this run found a file list at its start
    std::atomic<int> m_state{StateIdle};
    std::atomic<int> m_errorCode{ErrorNone};
    // A failure met on another thread, for the control thread to act on.
    std::atomic<int> m_pendingError{ErrorNone};
    // The reason of the first item given up in this phase; the phase ends in state 7 with it.
    std::atomic<int> m_phaseError{ErrorNone};
    // The transport is declared before the server: the server's connections go first.
    std::unique_ptr<kr::os::Transport> m_ownedTransport;
    CKrDownloadServer m_server;

    CKrThread m_controlThread;
    std::atomic<bool> m_controlRunning{false};
    std::atomic<bool> m_controlBusy{false};
    CKrThread m_workerThreads[kWorkers];
    WorkerContext m_workerContexts[kWorkers];
    std::atomic<bool> m_workersRunning{false};
    std::atomic<int> m_activeWorkers{0};
    static constexpr int kMaxExtractThreads = 4;
    CKrThread m_installThreads[kMaxExtractThreads];
    CKrExtractClaims m_extractClaims;
    std::atomic<bool> m_installRunning{false};
    std::atomic<int> m_activeInstallThreads{0};

    bool m_directXNeeded = false;
    // Signed releases: read once at the start, before anything else is fetched.
    CKrReleaseManifest m_manifest;
    bool m_releaseVerified = false;
    std::atomic<bool> m_directXSetupStarted{false};
    // A file of this run could not be written: the run must not end as finished.
    std::atomic<bool> m_filesNotInstalled{false};

    std::string m_packageName;
    std::string m_installDir;
    std::string m_serverName;
    CKrInstallLayout m_layout;

    CKrMutex m_countersMutex;
    Counters m_counters;
    uint64_t m_slotBytes[CKrDownloadServer::kSlots] = {};
    uint64_t m_shownBytes = 0; // the highest done bytes GetStatus reported in this phase

    // Items of a fresh install live until the engine is destroyed; queues hold plain pointers.
    std::vector<std::unique_ptr<InstallItem>> m_freshItems;
    CKrItemQueue m_freshQueue;
    CKrMutex m_itemMapMutex;
    ItemMap m_itemMap;
    CKrItemQueue m_downloadQueue;
    CKrItemQueue m_installQueue;
    // Pieces of packages already begun; taken before a new package is begun.
    CKrItemQueue m_pieceQueue;
    // Packages begun and not yet extracted (or given up).
    std::atomic<int> m_packagesStaged{0};
    // The server answered a range with the whole file: packages are no longer cut.
    std::atomic<bool> m_rangesRefused{false};
    CKrRateLimiter m_rateLimiter;
};
