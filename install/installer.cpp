#include "install/installer.h"

#include "install/directx_check.h"
#include "install/file_list_cache.h"
#include "install/installer_events.h"
#include "install/path_utils.h"
#include "platform/files.h"
#include "platform/threads.h"

#include <algorithm>
#include <cstdio>

CKrInstaller::CKrInstaller()
{
    m_server.SetProgress(this);
}

CKrInstaller::~CKrInstaller()
{
    m_controlRunning.store(false, std::memory_order_release);
    m_workersRunning.store(false, std::memory_order_release);
    // Ending the session makes a transfer in progress fail at once.
    m_server.Disconnect();
    // Joining (rather than polling the busy flags) also covers threads that had not begun to run.
    m_controlThread.Join();
    for (CKrThread& worker : m_workerThreads)
        worker.Join();
    // The install thread finishes the zip in hand first.
    m_installRunning.store(false, std::memory_order_release);
    m_installThread.Join();
}

int CKrInstaller::Init(const std::string& packageName, const std::string& installDir,
                       const std::string& server, const CKrInstallerSettings& settings)
{
    m_settings = settings;
    m_packageName = IsLauncher() ? "Data" : packageName;
    m_cacheFileName = m_packageName + ".cch";
    m_installDir = installDir;
    if (!m_installDir.empty() && m_installDir.back() != '\\' && m_installDir.back() != '/')
        m_installDir += '\\';
    m_serverName = server;
    m_server.Configure(server, m_installDir, m_packageName);
    m_freshInstall = !FileExists(m_installDir + m_cacheFileName);
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
        CKrScopedLock lock(m_freshMutex);
        m_freshQueue.push_back(item.get());
        m_freshItems.push_back(std::move(item));
    }
    else
    {
        CKrScopedLock lock(m_downloadMutex);
        m_itemMap[name] = std::move(item);
    }
}

void CKrInstaller::Start()
{
    if (m_controlRunning.load(std::memory_order_acquire))
        return;
    m_controlRunning.store(true, std::memory_order_release);
    m_controlBusy.store(false, std::memory_order_release);
    m_controlThread.Start(ControlThreadProc, this);
    m_workersRunning.store(true, std::memory_order_release);
    m_activeWorkers.store(0, std::memory_order_release);
    for (int i = 0; i < kWorkers; ++i)
    {
        m_workerContexts[i].self = this;
        m_workerContexts[i].slot = i + 1;
        m_workerThreads[i].Start(WorkerThreadProc, &m_workerContexts[i]);
    }
    m_installRunning.store(true, std::memory_order_release);
    m_activeInstallThreads.store(0, std::memory_order_release);
    m_installThread.Start(InstallThreadProc, this);
    m_installThread.priority = 1;
    m_installThread.SetPriority();
}

bool CKrInstaller::GetStatus(int* state, float* doneMB, float* totalMB, int* doneCount, int* totalCount)
{
    int current = m_state.load(std::memory_order_acquire);
    if (state)
        *state = current;
    {
        CKrScopedLock lock(m_countersMutex);
        if (doneMB && totalMB)
        {
            uint64_t done = m_counters.doneBytes;
            for (uint64_t slot : m_slotBytes)
                done += slot;
            *doneMB = static_cast<float>(static_cast<double>(done) / 1048576.0);
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

std::string CKrInstaller::PackageName(int index) const
{
    if (index == 0)
        return m_packageName + ".zip";
    return m_packageName + "_" + std::to_string(index) + ".zip";
}

std::string CKrInstaller::MarkerPath(int index) const
{
    if (index == 0)
        return m_installDir + m_packageName + ".install";
    return m_installDir + m_packageName + "_" + std::to_string(index) + ".install";
}

void CKrInstaller::DeleteMarkers()
{
    for (int i = 0; kr::os::RemoveFile(MarkerPath(i)); ++i)
    {
    }
}

void CKrInstaller::Fail(int errorCode)
{
    m_errorCode.store(errorCode, std::memory_order_release);
    SetState(StateFailed);
}

void CKrInstaller::SetState(int state)
{
    int previous = m_state.load(std::memory_order_acquire);
    if (state == previous)
        return;
    if (previous == StateFreshInstall)
        DeleteMarkers();
    m_state.store(state, std::memory_order_release);
    if (state == StateDecide)
        EnterDecide();
    else if (state == StateVerify)
        EnterVerify();
}

void CKrInstaller::EnterDecide()
{
    uint32_t items = 0;
    uint64_t bytes = 0;
    {
        CKrScopedLock lock(m_freshMutex);
        for (const InstallItem* item : m_freshQueue)
        {
            ++items;
            bytes += item->downloadSize;
        }
        if (m_directXNeeded)
        {
            auto item = std::make_unique<InstallItem>();
            item->name = kDirectXSetupZip;
            item->flags = ItemDirect | ItemExtract | ItemPackage;
            item->size = item->downloadSize = kDirectXSetupZipSize;
            m_freshQueue.push_back(item.get());
            m_freshItems.push_back(std::move(item));
            ++items;
            bytes += kDirectXSetupZipSize;
        }
    }
    AddTotals(items, bytes);

    if (FileExists(m_installDir + m_cacheFileName))
    {
        SetState(StateVerify);
        if (GetCounters().totalItems != 0)
            ReportEvent(kEventInstallStarted, false);
        return;
    }

    // Fresh install: packages whose marker exists were extracted by an earlier, interrupted run.
    for (int i = 0; m_controlRunning.load(std::memory_order_acquire); ++i)
    {
        if (FileExists(MarkerPath(i)))
            continue;
        uint32_t size = 0;
        uint64_t lastWrite = 0;
        std::string name = PackageName(i);
        if (!m_server.QueryRemoteFile(name, &size, &lastWrite))
            break;
        auto item = std::make_unique<InstallItem>();
        item->name = name;
        item->flags = ItemDirect | ItemExtract | ItemPackage;
        item->size = item->downloadSize = size;
        item->lastWrite = lastWrite;
        {
            CKrScopedLock lock(m_freshMutex);
            m_freshQueue.push_back(item.get());
            m_freshItems.push_back(std::move(item));
        }
        AddTotals(1, size);
    }
    SetState(StateFreshInstall);
    ReportEvent(kEventInstallStarted, true);
}

void CKrInstaller::EnterVerify()
{
    {
        CKrScopedLock lock(m_countersMutex);
        m_counters = Counters();
        for (uint64_t& slot : m_slotBytes)
            slot = 0;
    }
    if (!m_server.DownloadFile(m_cacheFileName, std::string(), 0, false, m_controlRunning) &&
        !m_server.DownloadFile(m_cacheFileName, std::string(), 0, false, m_controlRunning))
    {
        SetSlotBytes(0, 0);
        Fail(ErrorCacheDownload);
        return;
    }
    SetSlotBytes(0, 0);

    CKrFileListCache cache;
    KrCacheResult read = cache.Load(m_installDir + m_cacheFileName);
    if (read == KrCacheResult::TooOld)
    {
        Fail(ErrorCacheTooOld);
        return;
    }
    if (read != KrCacheResult::Ok)
    {
        Fail(ErrorCacheUnreadable);
        return;
    }
    {
        CKrScopedLock lock(m_downloadMutex);
        for (const KrCacheRecord& record : cache.Records())
        {
            auto item = std::make_unique<InstallItem>();
            item->name = record.name;
            item->lastWrite = record.lastWrite;
            item->order = record.order;
            item->size = record.size;
            item->downloadSize = record.downloadSize;
            m_itemMap[record.name] = std::move(item);
        }
    }
    uint32_t scanStart = kr::os::TickCountMs();
    if (!Scan(m_installDir, 0))
    {
        Fail(ErrorScan);
        return;
    }
    {
        CKrScopedLock lock(m_countersMutex);
        m_counters.scanMs = kr::os::TickCountMs() - scanStart;
    }

    uint32_t items = 0;
    uint64_t bytes = 0;
    {
        CKrScopedLock lock(m_downloadMutex);
        m_downloadQueue.clear();
        for (auto& entry : m_itemMap)
        {
            if (entry.second->status.load(std::memory_order_acquire) == ItemDone)
                continue;
            m_downloadQueue.push_back(entry.second.get());
            ++items;
            bytes += entry.second->downloadSize;
        }
        std::stable_sort(m_downloadQueue.begin(), m_downloadQueue.end(),
                         [](const InstallItem* a, const InstallItem* b) { return a->order < b->order; });
    }
    AddTotals(items, bytes);
    SetState(StateUpdate);
}

bool CKrInstaller::Scan(const std::string& dir, int depth)
{
    std::vector<kr::os::FileInfo> entries;
    if (!kr::os::ListDirectory(dir, entries))
        return depth > 0; // a subdirectory that cannot be listed is passed over
    for (const kr::os::FileInfo& entry : entries)
    {
        if (!m_controlRunning.load(std::memory_order_acquire))
            return true;
        // Any directory, whatever other attribute bits it carries; links that loop end at the limit.
        if (entry.attributes & kr::os::kAttrDirectory)
        {
            if (entry.name != "." && entry.name != ".." && depth < kMaxScanDepth)
                Scan(dir + entry.name + "\\", depth + 1);
            continue;
        }
        InstallItem* item = nullptr;
        {
            CKrScopedLock lock(m_downloadMutex);
            auto found = m_itemMap.find(entry.name);
            if (found != m_itemMap.end())
                item = found->second.get();
        }
        if (!item)
            continue;
        // The server's current time and size decide for directly fetched files.
        if (IsLauncher() && (item->flags & ItemDirect))
        {
            uint32_t size = 0;
            uint64_t lastWrite = 0;
            if (m_server.QueryRemoteFile(item->name, &size, &lastWrite))
            {
                item->size = size;
                item->lastWrite = lastWrite;
            }
        }
        if (CompareDosTimes(entry.lastWrite, item->lastWrite) == 0 &&
            static_cast<uint32_t>(entry.size) == item->size)
            item->status.store(ItemDone, std::memory_order_release);
    }
    return true;
}

void CKrInstaller::ReportEvent(int eventType, bool newInstall)
{
    if (!IsLauncher())
        return;
    if (m_settings.reportEvent)
        m_settings.reportEvent(eventType, newInstall);
    else
        QueueInstallerEvent(eventType, newInstall);
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

void CKrInstaller::CountExtractFailure(uint64_t undoBytes)
{
    CKrScopedLock lock(m_countersMutex);
    ++m_counters.extractFailures;
    m_counters.doneBytes -= undoBytes < m_counters.doneBytes ? undoBytes : m_counters.doneBytes;
}

bool CKrInstaller::AllItemsDone()
{
    CKrScopedLock lock(m_countersMutex);
    return m_counters.doneItems == m_counters.totalItems;
}
