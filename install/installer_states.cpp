// The engine's state machine, in one place: which transitions exist, the work done on entering each
// state, and the loop that runs the states' rounds on the control thread. No other code writes the
// state; steps and entry work return the state to go to next instead of changing it themselves.
//
//   0 Idle -> 1 Decide                        connected
//   1 Decide -> 2 FreshInstall | 4 Verify     no file list in the directory | a file list
//   2 FreshInstall -> 3 WaitDirectX | 4       every package and item done (the web setup runs | not)
//   3 WaitDirectX -> 4                        the DirectX runtime appeared
//   4 Verify -> 5 Update                      list in place, directory scanned, outdated files queued
//   5 Update -> 6 Finished                    every item done
//   any of 0..5 -> 7 Failed                   see installer_errors.h
//
// Entering 1 numbers the packages; entering 4 fetches the list, puts it in place, deletes the
// markers and scans; before 6 shows, the staging folder is cleared and a signed release's number
// recorded, so that an owner who sees the run finished finds it tidied up. Events: 10005 (true) on 1 -> 2, 10005
// (false) on 4 -> 5 of a run that began as an update and queued something, 10006 on entering 6 when
// the phase had items or the run was a fresh install.
#include "install/directx_check.h"
#include "install/file_list_cache.h"
#include "install/installer.h"
#include "install/installed_release.h"
#include "install/path_utils.h"
#include "platform/files.h"
#include "platform/threads.h"

#include <algorithm>
#include <map>
#include <thread>

bool CKrInstaller::IsAllowedTransition(int from, int to)
{
    if (to == StateFailed)
        return from >= StateIdle && from < StateFinished;
    switch (from)
    {
    case StateIdle:
        return to == StateDecide;
    case StateDecide:
        return to == StateFreshInstall || to == StateVerify;
    case StateFreshInstall:
        return to == StateWaitDirectX || to == StateVerify;
    case StateWaitDirectX:
        return to == StateVerify;
    case StateVerify:
        return to == StateUpdate;
    case StateUpdate:
        return to == StateFinished;
    default:
        return false;
    }
}

int CKrInstaller::Fail(int errorCode)
{
    int none = ErrorNone;
    m_errorCode.compare_exchange_strong(none, errorCode, std::memory_order_acq_rel);
    return StateFailed;
}

void CKrInstaller::RaiseFailure(int errorCode)
{
    int none = ErrorNone;
    m_pendingError.compare_exchange_strong(none, errorCode, std::memory_order_acq_rel);
}

void CKrInstaller::ForceFailed(int errorCode)
{
    // Only when no control thread runs (it could not be started, or it is the one that failed):
    // nobody else writes the state then.
    int state = m_state.load(std::memory_order_acquire);
    if (state == StateFinished || state == StateFailed)
        return;
    Fail(errorCode);
    m_state.store(StateFailed, std::memory_order_release);
}

void CKrInstaller::Transition(int next)
{
    int from = m_state.load(std::memory_order_acquire);
    while (next != from)
    {
        if (!IsAllowedTransition(from, next))
            next = Fail(ErrorInternal);
        // A new phase's counters and its state change together: progress polled within one state
        // never goes back.
        if (next == StateVerify)
            ResetPhase(next);
        else
        {
            if (next == StateFinished)
                TidyFinishedRun();
            m_state.store(next, std::memory_order_release);
        }
        int follow = EnterState(next, from);
        from = next;
        next = follow;
    }
}

int CKrInstaller::EnterState(int state, int from)
{
    switch (state)
    {
    case StateDecide:
        return EnterDecide();
    case StateFreshInstall:
        ReportStarted(true);
        return state;
    case StateVerify:
        return EnterVerify();
    case StateUpdate:
        if (m_updateRun && from == StateVerify && GetCounters().totalItems != 0)
            ReportStarted(false);
        return state;
    case StateFinished:
        return EnterFinished();
    default:
        return state;
    }
}

int CKrInstaller::StepState(int state)
{
    switch (state)
    {
    case StateFreshInstall:
        return FreshStep();
    case StateWaitDirectX:
        return DirectXStep();
    case StateUpdate:
        return UpdateStep();
    case StateFinished:
    case StateFailed:
        // Nothing is left to do; stay out of the way until the owner stops the engine.
        m_clock->Sleep(m_settings.timings.roundMs, m_controlRunning);
        return state;
    default:
        m_clock->Sleep(m_settings.timings.idleMs, m_controlRunning);
        return state;
    }
}

void CKrInstaller::ControlMain()
{
    m_controlBusy.store(true, std::memory_order_release);
    if (!m_clock->Sleep(m_settings.timings.startDelayMs, m_controlRunning))
        return;
    if (!m_server.Connect(m_layout.CacheName()))
    {
        if (m_controlRunning.load(std::memory_order_acquire))
            Transition(Fail(ErrorConnect));
        return;
    }
    Transition(StateDecide);
    RunStateMachine();
}

void CKrInstaller::RunStateMachine()
{
    while (m_controlRunning.load(std::memory_order_acquire))
    {
        int state = m_state.load(std::memory_order_acquire);
        int pending = m_pendingError.load(std::memory_order_acquire);
        int next = state;
        if (pending != ErrorNone && state != StateFinished && state != StateFailed)
            next = Fail(pending);
        else
            next = StepState(state);
        Transition(next);
    }
}

void CKrInstaller::ReportStarted(bool newInstall)
{
    if (IsLauncher() && m_settings.events)
        m_settings.events->OnInstallStarted(newInstall);
}

void CKrInstaller::ReportFinished()
{
    if (IsLauncher() && m_settings.events)
        m_settings.events->OnInstallFinished();
}

void CKrInstaller::DeleteMarkers()
{
    for (int i = 0; kr::os::RemoveFile(m_layout.MarkerPath(i)); ++i)
    {
    }
}

// --- 1: decide ------------------------------------------------------------------------------------

const KrManifestEntry* CKrInstaller::SignedEntry(const std::string& remoteName) const
{
    return m_releaseVerified ? m_manifest.FindFile(CKrInstallLayout::PublishedName(remoteName)) : nullptr;
}

bool CKrInstaller::ExpectSigned(const std::string& remoteName, KrDownloadJob& job) const
{
    if (!IsSigned())
        return true;
    job.signedEntry = SignedEntry(remoteName);
    return job.signedEntry != nullptr;
}

bool CKrInstaller::LoadManifest(int* error)
{
    *error = ErrorReleaseUnverified;
    // A build whose key is damaged must never fall back to unsigned releases.
    if (m_settings.release.state != KrReleaseKeyState::Valid)
        return false;
    KrDownloadJob job;
    job.remoteName = m_layout.ManifestName();
    job.stagedPath = m_layout.StagedManifest();
    job.infoPath = m_layout.InfoPath(job.stagedPath);
    job.maxSize = CKrReleaseManifest::kMaxBytes;
    // Bytes that failed to verify are fetched again from a clean start, like any damaged transfer.
    KrManifestResult read = KrManifestResult::Unreadable;
    for (uint32_t attempt = 0; attempt < CKrBackoff::kMaxRepeats; ++attempt)
    {
        *error = ErrorNone;
        if (!FetchControlFile(job, ErrorReleaseUnverified, error))
            return false;
        read = m_manifest.Load(job.stagedPath, m_settings.release.key);
        // Read on every run: a kept copy would be one more thing to trust.
        CKrDownloadServer::DiscardStaged(job.stagedPath, job.infoPath);
        if (read == KrManifestResult::Ok)
            break;
        if (!m_clock->Sleep(m_backoff.Delay(attempt + 1), m_controlRunning))
            return false;
    }
    *error = ErrorReleaseUnverified;
    if (read != KrManifestResult::Ok || m_manifest.Package() != m_packageName)
        return false;
    KrInstalledRelease last = ReadInstalledRelease(m_installDir, m_packageName);
    if (CheckReleaseNumber(m_manifest.Release(), last) == KrReleaseCheck::Rollback)
    {
        *error = ErrorReleaseRollback;
        return false;
    }
    m_releaseVerified = true;
    *error = ErrorNone;
    return true;
}

int CKrInstaller::EnterDecide()
{
    if (IsSigned())
    {
        int error = ErrorNone;
        if (!LoadManifest(&error))
            return error != ErrorNone && m_controlRunning.load(std::memory_order_acquire) ? Fail(error) : StateDecide;
    }
    uint32_t items = 0;
    uint64_t bytes = 0;
    for (const std::unique_ptr<InstallItem>& item : m_freshItems)
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
        m_freshQueue.Push(item.get());
        m_freshItems.push_back(std::move(item));
        ++items;
        bytes += kDirectXSetupZipSize;
    }
    AddTotals(items, bytes);

    if (FileExists(m_layout.CachePath()))
    {
        m_updateRun = true;
        return StateVerify;
    }
    int error = ErrorNone;
    if (!NumberPackages())
        error = m_errorCode.load(std::memory_order_acquire);
    if (!m_controlRunning.load(std::memory_order_acquire))
        return StateDecide; // stopping: the loop ends
    if (error != ErrorNone)
        return StateFailed;
    return StateFreshInstall;
}

// Fresh install: packages whose marker exists were extracted by an earlier, interrupted run. Only a
// definite "not found" ends the numbering; every other failure is retried, and a size the engine
// cannot hold is an error, never the end of the release.
bool CKrInstaller::NumberPackages()
{
    // The first answer for each package comes from a batch asked side by side, one query per
    // connection (the workers do not transfer yet): a release is numbered in a few round trips
    // rather than one per package. Answers are still taken in order.
    std::map<int, KrQueryResult> ahead;
    auto askAhead = [&](int from) {
        std::vector<int> indices;
        for (int j = from; j < kMaxPackages && static_cast<int>(indices.size()) < Connections(); ++j)
            if (!FileExists(m_layout.MarkerPath(j)))
                indices.push_back(j);
        std::vector<KrQueryResult> answers(indices.size());
        std::vector<std::thread> threads;
        for (size_t k = 1; k < indices.size(); ++k)
        {
            auto ask = [&, k] { answers[k] = m_server.Query(m_layout.PackageName(indices[k]), static_cast<int>(k)); };
            try
            {
                threads.emplace_back(ask);
            }
            catch (const std::exception&)
            {
                ask(); // no thread to spare: asked here, one after the other
            }
        }
        if (!indices.empty())
            answers[0] = m_server.Query(m_layout.PackageName(indices[0]), 0);
        for (std::thread& thread : threads)
            thread.join();
        for (size_t k = 0; k < indices.size(); ++k)
            ahead[indices[k]] = answers[k];
    };
    for (int i = 0; i < kMaxPackages; ++i)
    {
        if (FileExists(m_layout.MarkerPath(i)))
            continue;
        std::string name = m_layout.PackageName(i);
        uint32_t transient = 0, repeats = 0;
        if (ahead.find(i) == ahead.end())
        {
            ahead.clear();
            askAhead(i);
        }
        for (;;)
        {
            if (!m_controlRunning.load(std::memory_order_acquire))
                return false;
            KrQueryResult query;
            auto first = ahead.find(i);
            if (first != ahead.end())
            {
                query = first->second;
                ahead.erase(first);
            }
            else
                query = m_server.Query(name, 0);
            // A signed release names its packages: one it lists is not the end, whatever the server says.
            if (query.outcome == KrFetchOutcome::NotFound && !SignedEntry(name))
                return true;
            if (query.outcome == KrFetchOutcome::Cancelled)
                return false;
            if (query.outcome == KrFetchOutcome::Done && query.hasSize && query.size > 0xFFFFFFFFull)
            {
                Fail(ErrorRemoteSize);
                return false;
            }
            if (query.outcome == KrFetchOutcome::Done && query.hasSize && query.hasLastWrite)
            {
                auto item = std::make_unique<InstallItem>();
                item->name = name;
                item->flags = ItemDirect | ItemExtract | ItemPackage;
                item->size = item->downloadSize = static_cast<uint32_t>(query.size);
                item->lastWrite = query.lastWrite;
                item->packageIndex = i;
                m_freshQueue.Push(item.get());
                m_freshItems.push_back(std::move(item));
                AddTotals(1, query.size);
                break;
            }
            uint32_t wait = 0;
            if (query.outcome == KrFetchOutcome::Transient)
                wait = m_backoff.Delay(++transient);
            else if (++repeats >= CKrBackoff::kMaxRepeats)
            {
                // A 200 without size or time, a redirect, a 403: the release cannot be numbered.
                Fail(ErrorRemoteFile);
                return false;
            }
            else
                wait = m_backoff.Delay(repeats);
            m_clock->Sleep(wait, m_controlRunning);
        }
    }
    Fail(ErrorRemoteFile);
    return false;
}

// --- 4: verify ------------------------------------------------------------------------------------

bool CKrInstaller::FetchControlFile(const KrDownloadJob& job, int refusedError, int* error)
{
    uint32_t transient = 0, repeats = 0;
    for (;;)
    {
        KrDownloadResult result = m_server.Download(job, 0, m_controlRunning);
        SetSlotBytes(0, 0);
        if (result.outcome == KrFetchOutcome::Done)
            return true;
        if (result.outcome == KrFetchOutcome::Cancelled || !m_controlRunning.load(std::memory_order_acquire))
            return false;
        CountDownloadFailure(0);
        uint32_t wait = 0;
        if (result.outcome == KrFetchOutcome::Transient)
            wait = m_backoff.Delay(++transient);
        else if (++repeats >= CKrBackoff::kMaxRepeats)
        {
            *error = result.outcome == KrFetchOutcome::Mismatch ? ErrorReleaseMismatch : refusedError;
            return false;
        }
        else
            wait = m_backoff.Delay(repeats);
        if (!m_clock->Sleep(wait, m_controlRunning))
            return false;
    }
}

bool CKrInstaller::FetchFileList(int* error)
{
    KrDownloadJob job;
    job.remoteName = m_layout.CacheName();
    job.stagedPath = m_layout.StagedCache();
    job.infoPath = m_layout.InfoPath(job.stagedPath);
    job.maxSize = 0x7FFFFFFFull;
    if (!ExpectSigned(job.remoteName, job))
    {
        *error = ErrorReleaseMismatch;
        return false;
    }
    if (!FetchControlFile(job, ErrorCacheDownload, error))
        return false;

    CKrFileListCache cache;
    KrCacheResult read = cache.Load(job.stagedPath);
    if (read != KrCacheResult::Ok)
    {
        CKrDownloadServer::DiscardStaged(job.stagedPath, job.infoPath);
        *error = read == KrCacheResult::TooOld ? ErrorCacheTooOld : ErrorCacheUnreadable;
        return false;
    }
    // Only a complete, readable list takes the place of the one there (its presence makes the next
    // run an update); only then have the markers done their work.
    if (!kr::os::RenameFile(job.stagedPath, m_layout.CachePath()))
    {
        *error = ErrorInstallFiles;
        return false;
    }
    kr::os::RemoveFile(job.infoPath);
    DeleteMarkers();

    CKrScopedLock lock(m_itemMapMutex);
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
    return true;
}

int CKrInstaller::EnterVerify()
{
    m_phaseError.store(ErrorNone, std::memory_order_release);
    int error = ErrorNone;
    if (!FetchFileList(&error))
        return error != ErrorNone ? Fail(error) : StateVerify;

    uint32_t scanStart = kr::os::TickCountMs();
    if (!Scan(m_installDir, 0))
        return m_controlRunning.load(std::memory_order_acquire) ? Fail(ErrorScan) : StateVerify;
    {
        CKrScopedLock lock(m_countersMutex);
        m_counters.scanMs = kr::os::TickCountMs() - scanStart;
    }

    uint32_t items = 0;
    uint64_t bytes = 0;
    {
        CKrScopedLock lock(m_itemMapMutex);
        m_downloadQueue.Clear();
        for (auto& entry : m_itemMap)
        {
            if (entry.second->status.load(std::memory_order_acquire) == ItemDone)
                continue;
            m_downloadQueue.Push(entry.second.get());
            ++items;
            bytes += entry.second->downloadSize;
        }
    }
    // Ties keep the map's key order.
    m_downloadQueue.Sort([](const InstallItem* a, const InstallItem* b) { return a->order < b->order; });
    AddTotals(items, bytes);
    return StateUpdate;
}

bool CKrInstaller::Scan(const std::string& dir, int depth)
{
    std::vector<kr::os::FileInfo> entries;
    if (!kr::os::ListDirectory(dir, entries))
        return depth > 0; // a subdirectory that cannot be listed is passed over
    for (const kr::os::FileInfo& entry : entries)
    {
        if (!m_controlRunning.load(std::memory_order_acquire))
            return false;
        // Any directory, whatever other attribute bits it carries; links that loop end at the limit.
        if (entry.attributes & kr::os::kAttrDirectory)
        {
            // The engines' staging folders hold downloads, not installed files.
            if (depth == 0 && CKrInstallLayout::IsStagingName(entry.name))
                continue;
            if (entry.name != "." && entry.name != ".." && depth < kMaxScanDepth)
                Scan(dir + entry.name + "\\", depth + 1);
            continue;
        }
        InstallItem* item = nullptr;
        {
            CKrScopedLock lock(m_itemMapMutex);
            auto found = m_itemMap.find(entry.name);
            if (found != m_itemMap.end())
                item = found->second.get();
        }
        if (!item)
            continue;
        // The server's current time and size decide for directly fetched files.
        if (IsLauncher() && (item->flags & ItemDirect))
        {
            KrQueryResult query = m_server.Query(item->name, 0);
            if (query.outcome == KrFetchOutcome::Done && query.hasSize && query.hasLastWrite &&
                query.size <= 0xFFFFFFFFull)
            {
                item->size = static_cast<uint32_t>(query.size);
                item->lastWrite = query.lastWrite;
            }
        }
        if (CompareDosTimes(entry.lastWrite, item->lastWrite) != 0 || entry.size != item->size)
            continue;
        // Size and time agree; in a signed release the bytes must too: always for the items (the
        // launcher restarts into one of them), for the files of the list when verifying. A file the
        // manifest does not describe cannot be vouched for and is fetched again.
        bool direct = (item->flags & ItemDirect) != 0;
        if (m_releaseVerified && (direct || m_settings.verifyInstall))
        {
            const KrManifestEntry* signedFile = direct ? SignedEntry(item->name) : m_manifest.FindData(entry.name);
            KrFileCheck check = signedFile ? CheckFile(dir + entry.name, *signedFile, &m_controlRunning)
                                           : KrFileCheck::HashDiffers;
            if (check == KrFileCheck::Cancelled)
                return false;
            if (check != KrFileCheck::Match)
            {
                CKrScopedLock lock(m_countersMutex);
                ++m_counters.repairItems;
                continue;
            }
        }
        item->status.store(ItemDone, std::memory_order_release);
    }
    return true;
}

// --- 6: finished ----------------------------------------------------------------------------------

void CKrInstaller::TidyFinishedRun()
{
    // Nothing is left to resume: what the staging folder still holds belongs to no one.
    std::string staging = m_layout.StagingDir();
    std::vector<std::string> dirs{staging};
    for (size_t i = 0; i < dirs.size(); ++i)
    {
        std::vector<kr::os::FileInfo> entries;
        if (!kr::os::ListDirectory(dirs[i], entries))
            continue;
        for (const kr::os::FileInfo& entry : entries)
        {
            if (entry.name == "." || entry.name == "..")
                continue;
            if (entry.attributes & kr::os::kAttrDirectory)
                dirs.push_back(dirs[i] + entry.name + "\\");
            else
                kr::os::RemoveFile(dirs[i] + entry.name);
        }
    }
    for (size_t i = dirs.size(); i-- > 0;)
        kr::os::RemoveEmptyDirectory(dirs[i]);

    // Only a finished run vouches for the release number: from now on, older ones are refused.
    if (m_releaseVerified)
        WriteInstalledRelease(m_installDir, m_packageName, m_manifest.Release());
}

int CKrInstaller::EnterFinished()
{
    Counters counters = GetCounters();
    if (counters.totalItems != 0 || m_freshInstall)
        ReportFinished();
    return StateFinished;
}
