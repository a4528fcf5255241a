// The owner's side of the engine: set-up, start, status, stop, and the guarded counters.
#include "install/installer.h"

#include "install/directx_check.h"
#include "install/path_utils.h"
#include "platform/files.h"

#include <algorithm>

namespace
{

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

#ifdef _WIN32
constexpr bool kFileSystemIgnoresCase = true;
#else
constexpr bool kFileSystemIgnoresCase = false;
#endif

} // namespace

CKrReleaseTrust CKrReleaseTrust::Configured()
{
    CKrReleaseTrust trust;
    trust.state = ConfiguredReleaseKey(&trust.key);
    return trust;
}

const char* KrInstallerErrorName(int code)
{
    switch (code)
    {
    case KrErrorNone:
        return "none";
    case KrErrorConnect:
        return "server unreachable";
    case KrErrorCacheDownload:
        return "file list not downloadable";
    case KrErrorCacheUnreadable:
        return "file list unreadable";
    case KrErrorCacheTooOld:
        return "file list too old";
    case KrErrorScan:
        return "installation not scannable";
    case KrErrorInstallFiles:
        return "files could not be written";
    case KrErrorRemoteFile:
        return "a file of the release is refused by the server";
    case KrErrorPackageExtract:
        return "a package cannot be extracted";
    case KrErrorRemoteSize:
        return "a size the engine cannot hold";
    case KrErrorThreadStart:
        return "a thread could not be created";
    case KrErrorReleaseUnverified:
        return "the release's signature does not verify";
    case KrErrorReleaseRollback:
        return "the release is older than the one installed";
    case KrErrorReleaseMismatch:
        return "a file does not match the signed release";
    case KrErrorInternal:
        return "internal error";
    }
    return "unknown";
}

bool CKrInstaller::NameLess::operator()(const std::string& a, const std::string& b) const
{
    if (!ignoreCase)
        return a < b;
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
    {
        unsigned char x = static_cast<unsigned char>(Lower(a[i]));
        unsigned char y = static_cast<unsigned char>(Lower(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

bool CKrInstaller::SameName(const std::string& a, const std::string& b) const
{
    const NameLess& less = m_itemMap.key_comp();
    return !less(a, b) && !less(b, a);
}

CKrInstaller::CKrInstaller() : m_clock(&SystemEngineClock())
{
    m_server.SetProgress(this);
}

CKrInstaller::~CKrInstaller()
{
    // Everything stops at once: transfers are cancelled, extraction looks at its flag between
    // blocks, every wait is cut into short steps.
    m_controlRunning.store(false, std::memory_order_release);
    m_workersRunning.store(false, std::memory_order_release);
    m_installRunning.store(false, std::memory_order_release);
    m_server.Cancel();
    // Joining (rather than polling the busy flags) also covers threads that had not begun to run.
    m_controlThread.Join();
    for (CKrThread& worker : m_workerThreads)
        worker.Join();
    for (CKrThread& thread : m_installThreads)
        thread.Join();
    // The connections go with m_server, then the transport, in member order.
}

int CKrInstaller::Init(const std::string& packageName, const std::string& installDir,
                       const std::string& server, const CKrInstallerSettings& settings)
{
    m_settings = settings;
    m_clock = m_settings.clock ? m_settings.clock : &SystemEngineClock();
    m_backoff.Configure(m_settings.timings.retryFirstMs, m_settings.timings.retryMaxMs, m_settings.jitterSeed);
    bool ignoreCase = m_settings.ignoreNameCase < 0 ? kFileSystemIgnoresCase : m_settings.ignoreNameCase != 0;
    m_itemMap = ItemMap(NameLess{ignoreCase});
    m_packageName = IsLauncher() ? "Data" : packageName;
    m_installDir = installDir;
    if (!m_installDir.empty() && m_installDir.back() != '\\' && m_installDir.back() != '/')
        m_installDir += '\\';
    m_serverName = server;
    m_layout.Configure(m_installDir, m_packageName);
    kr::os::Transport* transport = m_settings.transport;
    if (!transport)
    {
        m_ownedTransport = kr::os::CreateSystemTransport();
        transport = m_ownedTransport.get();
    }
    m_server.Configure(server, m_packageName, transport);
    transport->SetConnectionLimit(static_cast<unsigned>(Connections()));
    m_rateLimiter.SetClock(m_clock);
    m_rateLimiter.SetRate(m_settings.transfers.rateLimit);
    m_server.SetRateLimiter(m_settings.transfers.rateLimit > 0 ? &m_rateLimiter : nullptr);
    m_freshInstall = !FileExists(m_layout.CachePath());
    if (!IsLauncher() && m_freshInstall && m_settings.checkDirectX)
    {
        bool present = m_settings.directXProbe ? m_settings.directXProbe() : IsDirectXPresent();
        m_directXNeeded = !present;
    }
    return 1;
}

void CKrInstaller::AddItem(const std::string& name, uint32_t size, bool extract, const std::string& destDir)
{
    auto item = std::make_unique<InstallItem>();
    item->name = name;
    if (IsLauncher() && !destDir.empty())
    {
        item->destDir = destDir;
        if (item->destDir.back() != '\\' && item->destDir.back() != '/')
            item->destDir += '\\';
    }
    item->flags = extract ? (ItemDirect | ItemExtract) : ItemDirect;
    item->size = size;
    item->downloadSize = size;
    if (m_freshInstall)
    {
        m_freshQueue.Push(item.get());
        m_freshItems.push_back(std::move(item));
    }
    else
    {
        CKrScopedLock lock(m_itemMapMutex);
        m_itemMap[name] = std::move(item);
    }
}

bool CKrInstaller::StartOne(CKrThread& thread, kr::os::ThreadProc proc, void* context)
{
    if (m_settings.startThread)
        return m_settings.startThread(thread, proc, context);
    return thread.Start(proc, context);
}

void CKrInstaller::Start()
{
    if (m_controlRunning.load(std::memory_order_acquire) || m_state.load(std::memory_order_acquire) != StateIdle)
        return;
    m_controlRunning.store(true, std::memory_order_release);
    m_controlBusy.store(false, std::memory_order_release);
    m_workersRunning.store(true, std::memory_order_release);
    m_activeWorkers.store(0, std::memory_order_release);
    m_installRunning.store(true, std::memory_order_release);
    m_activeInstallThreads.store(0, std::memory_order_release);

    // The control thread comes last: until it runs, no other thread writes the state, so a thread
    // that cannot be created can still end the run here.
    bool started = true;
    for (int i = 0; i < ExtractThreads() && started; ++i)
    {
        started = StartOne(m_installThreads[i], InstallThreadProc, this);
        if (started)
        {
            m_installThreads[i].priority = 1;
            m_installThreads[i].SetPriority();
        }
    }
    for (int i = 0; i < kWorkers && started; ++i)
    {
        m_workerContexts[i].self = this;
        m_workerContexts[i].slot = i + 1;
        started = StartOne(m_workerThreads[i], WorkerThreadProc, &m_workerContexts[i]);
    }
    if (started)
        started = StartOne(m_controlThread, ControlThreadProc, this);
    if (!started)
    {
        m_controlRunning.store(false, std::memory_order_release);
        m_workersRunning.store(false, std::memory_order_release);
        m_installRunning.store(false, std::memory_order_release);
        ForceFailed(ErrorThreadStart);
    }
}

bool CKrInstaller::GetStatus(int* state, float* doneMB, float* totalMB, int* doneCount, int* totalCount)
{
    int current;
    {
        CKrScopedLock lock(m_countersMutex);
        // Read under the lock that a phase reset holds, so the state always matches its counters.
        current = m_state.load(std::memory_order_acquire);
        if (state)
            *state = current;
        // Never back, never past the total: a file whose real size differs from its declared one,
        // a transfer that starts over, a package extracted again must not move the bar backwards.
        uint64_t done = m_counters.doneBytes;
        for (uint64_t slot : m_slotBytes)
            done += slot;
        done = std::min(done, m_counters.totalBytes);
        m_shownBytes = std::max(m_shownBytes, done);
        if (doneMB && totalMB)
        {
            *doneMB = static_cast<float>(static_cast<double>(m_shownBytes) / 1048576.0);
            *totalMB = static_cast<float>(static_cast<double>(m_counters.totalBytes) / 1048576.0);
        }
        if (!IsLauncher() && doneCount && totalCount)
        {
            *doneCount = static_cast<int>(m_counters.doneItems);
            *totalCount = static_cast<int>(m_counters.totalItems);
        }
    }
    return current == StateFinished;
}

CKrInstaller::Counters CKrInstaller::GetCounters()
{
    CKrScopedLock lock(m_countersMutex);
    return m_counters;
}

// --- thread entries -------------------------------------------------------------------------------

unsigned CKrInstaller::ControlThreadProc(void* context)
{
    auto* self = static_cast<CKrInstaller*>(context);
    try
    {
        self->ControlMain();
    }
    catch (...)
    {
        self->ForceFailed(ErrorInternal);
    }
    self->m_controlBusy.store(false, std::memory_order_release);
    return 0;
}

unsigned CKrInstaller::WorkerThreadProc(void* context)
{
    auto* worker = static_cast<WorkerContext*>(context);
    try
    {
        worker->self->WorkerMain(worker->slot);
    }
    catch (...)
    {
        worker->self->RaiseFailure(ErrorInternal);
    }
    return 0;
}

unsigned CKrInstaller::InstallThreadProc(void* context)
{
    auto* self = static_cast<CKrInstaller*>(context);
    try
    {
        self->InstallMain();
    }
    catch (...)
    {
        self->RaiseFailure(ErrorInternal);
    }
    return 0;
}

// --- counters -----------------------------------------------------------------------------------

void CKrInstaller::SetSlotBytes(int slot, uint64_t bytes)
{
    if (slot < 0 || slot >= CKrDownloadServer::kSlots)
        return;
    CKrScopedLock lock(m_countersMutex);
    m_slotBytes[slot] = bytes;
}

void CKrInstaller::AddTotals(uint32_t items, uint64_t bytes)
{
    CKrScopedLock lock(m_countersMutex);
    m_counters.totalItems += items;
    m_counters.totalBytes += bytes;
}

void CKrInstaller::ResetPhase(int nextState)
{
    CKrScopedLock lock(m_countersMutex);
    m_state.store(nextState, std::memory_order_release);
    Counters fresh;
    fresh.downloadFailures = m_counters.downloadFailures;
    fresh.extractFailures = m_counters.extractFailures;
    m_counters = fresh;
    for (uint64_t& slot : m_slotBytes)
        slot = 0;
    m_shownBytes = 0;
}

void CKrInstaller::CompleteTransfer(int slot, uint64_t bytes, bool itemDone)
{
    CKrScopedLock lock(m_countersMutex);
    // Moving the bytes from the slot to the done bytes in one step keeps progress from stepping back.
    m_slotBytes[slot] = 0;
    m_counters.doneBytes += bytes;
    if (itemDone)
        ++m_counters.doneItems;
}

void CKrInstaller::CountItemDone()
{
    CKrScopedLock lock(m_countersMutex);
    ++m_counters.doneItems;
}

void CKrInstaller::CountDownloadFailure(int slot)
{
    CKrScopedLock lock(m_countersMutex);
    m_slotBytes[slot] = 0;
    ++m_counters.downloadFailures;
}

void CKrInstaller::UndoDoneBytes(uint64_t bytes)
{
    CKrScopedLock lock(m_countersMutex);
    m_counters.doneBytes -= bytes < m_counters.doneBytes ? bytes : m_counters.doneBytes;
}

void CKrInstaller::CountExtractFailure(uint64_t undoBytes)
{
    CKrScopedLock lock(m_countersMutex);
    ++m_counters.extractFailures;
    m_counters.doneBytes -= undoBytes < m_counters.doneBytes ? undoBytes : m_counters.doneBytes;
}

bool CKrInstaller::PhaseDone()
{
    CKrScopedLock lock(m_countersMutex);
    return m_counters.doneItems + m_counters.givenUpItems >= m_counters.totalItems;
}
