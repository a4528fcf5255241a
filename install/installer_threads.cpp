// The engine's threads: control, download workers and install.
#include "install/directx_check.h"
#include "install/installer.h"
#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"
#include "platform/threads.h"

#include <cstdio>

namespace
{

std::string SingleFileZipName(const std::string& name)
{
    // Per-file zips always live under the literal "Data", whatever the package name is.
    return "Data\\" + name + ".zip";
}

} // namespace

unsigned CKrInstaller::ControlThreadProc(void* context)
{
    static_cast<CKrInstaller*>(context)->ControlMain();
    return 0;
}

unsigned CKrInstaller::WorkerThreadProc(void* context)
{
    auto* worker = static_cast<WorkerContext*>(context);
    worker->self->WorkerMain(worker->slot);
    return 0;
}

unsigned CKrInstaller::InstallThreadProc(void* context)
{
    static_cast<CKrInstaller*>(context)->InstallMain();
    return 0;
}

bool CKrInstaller::SleepWhile(const std::atomic<bool>& running, uint32_t ms)
{
    // Long waits are cut into short steps so that stopping the engine is never held up.
    while (ms > 0 && running.load(std::memory_order_acquire))
    {
        uint32_t step = ms < 20 ? ms : 20;
        kr::os::SleepMs(step);
        ms -= step;
    }
    return running.load(std::memory_order_acquire);
}

void CKrInstaller::WaitForInstallBacklog()
{
    // Up to the backlog wait, but no longer than the install thread needs to catch up.
    for (uint32_t waited = 0; waited < m_settings.timings.backlogWaitMs; waited += 20)
    {
        {
            CKrScopedLock lock(m_installMutex);
            if (m_installQueue.size() <= 2)
                return;
        }
        if (!SleepWhile(m_controlRunning, 20))
            return;
    }
}

std::string CKrInstaller::ItemDir(const InstallItem* item) const
{
    return item->destDir.empty() ? m_installDir : item->destDir;
}

// --- control thread -----------------------------------------------------------------------------

void CKrInstaller::ControlMain()
{
    m_controlBusy.store(true, std::memory_order_release);
    if (SleepWhile(m_controlRunning, m_settings.timings.startDelayMs))
    {
        if (!m_server.Connect(m_cacheFileName))
        {
            m_errorCode.store(ErrorConnect, std::memory_order_release);
            m_state.store(StateFailed, std::memory_order_release);
        }
        else
        {
            SetState(StateDecide);
            while (m_controlRunning.load(std::memory_order_acquire))
            {
                bool handledItem = false;
                switch (m_state.load(std::memory_order_acquire))
                {
                case StateFreshInstall:
                    handledItem = FreshStep();
                    break;
                case StateWaitDirectX:
                    DirectXStep();
                    break;
                case StateUpdate:
                    handledItem = UpdateStep();
                    break;
                case StateFinished:
                    SleepWhile(m_controlRunning, m_settings.timings.roundMs);
                    break;
                case StateFailed:
                    // Nothing is left to do; stay out of the way until the owner stops the engine.
                    SleepWhile(m_controlRunning, m_settings.timings.roundMs);
                    break;
                default:
                    break;
                }
                // Pausing after every file would cost a millisecond each over thousands of files.
                if (!handledItem)
                    kr::os::SleepMs(1);
            }
        }
    }
    m_controlBusy.store(false, std::memory_order_release);
}

bool CKrInstaller::FreshStep()
{
    InstallItem* item = nullptr;
    {
        CKrScopedLock lock(m_freshMutex);
        if (!m_freshQueue.empty())
        {
            item = m_freshQueue.front();
            m_freshQueue.pop_front();
        }
    }
    if (!item)
    {
        kr::os::SleepMs(m_settings.timings.idleMs);
        if (AllItemsDone())
            SetState(m_directXSetupStarted.load(std::memory_order_acquire) ? StateWaitDirectX : StateVerify);
        return false;
    }
    item->status.store(ItemDownloading, std::memory_order_release);
    bool isPackage = (item->flags & ItemPackage) != 0;
    if (!m_server.DownloadFile(item->name, item->destDir, 0, !isPackage, m_controlRunning))
    {
        CountDownloadFailure(0);
        {
            CKrScopedLock lock(m_freshMutex);
            m_freshQueue.push_back(item);
        }
        SleepWhile(m_controlRunning, m_settings.timings.failurePauseMs);
        return true;
    }
    if (isPackage)
    {
        CompleteTransfer(0, item->downloadSize, false);
        size_t waiting = 0;
        {
            CKrScopedLock lock(m_installMutex);
            waiting = m_installQueue.size();
            m_installQueue.push_back(item);
        }
        // Packages are large: do not let the disk fill with ones that wait for extraction.
        if (waiting > 2)
            WaitForInstallBacklog();
        return true;
    }
    if (item->flags & ItemExtract)
        ExtractInPlace(item);
    item->status.store(ItemDone, std::memory_order_release);
    CompleteTransfer(0, item->downloadSize, true);
    return true;
}

void CKrInstaller::DirectXStep()
{
    bool present = m_settings.directXProbe ? m_settings.directXProbe() : IsDirectXPresent();
    if (!present)
    {
        SleepWhile(m_controlRunning, m_settings.timings.directXPollMs);
        return;
    }
    m_directXSetupStarted.store(false, std::memory_order_release);
    SleepWhile(m_controlRunning, m_settings.timings.directXSettleMs);
    if (m_controlRunning.load(std::memory_order_acquire))
        SetState(StateVerify);
}

bool CKrInstaller::UpdateStep()
{
    InstallItem* item = nullptr;
    {
        CKrScopedLock lock(m_downloadMutex);
        if (!m_downloadQueue.empty())
        {
            item = m_downloadQueue.front();
            m_downloadQueue.pop_front();
        }
    }
    if (!item)
    {
        kr::os::SleepMs(m_settings.timings.idleMs);
        if (AllItemsDone())
        {
            SleepWhile(m_controlRunning, m_settings.timings.roundMs);
            // Never report a finished run whose tree differs from the file list; the files that
            // failed carry no time stamp, so the next run fetches them again.
            if (m_filesNotInstalled.load(std::memory_order_acquire))
            {
                Fail(ErrorInstallFiles);
                return false;
            }
            SetState(StateFinished);
            Counters counters = GetCounters();
            if (counters.totalItems != 0 || m_freshInstall)
                ReportEvent(kEventInstallFinished, false);
        }
        return false;
    }
    item->status.store(ItemDownloading, std::memory_order_release);
    bool ok = false;
    if (item->flags & ItemDirect)
    {
        ok = m_server.DownloadFile(item->name, item->destDir, 0, true, m_controlRunning);
        if (ok)
        {
            if (item->flags & ItemExtract)
                ExtractInPlace(item);
            item->status.store(ItemDone, std::memory_order_release);
            CompleteTransfer(0, item->downloadSize, true);
        }
    }
    else
    {
        ok = m_server.DownloadFile(SingleFileZipName(item->name), item->destDir, 0, false, m_controlRunning);
        if (ok)
        {
            CompleteTransfer(0, item->downloadSize, false);
            CKrScopedLock lock(m_installMutex);
            m_installQueue.push_back(item);
        }
    }
    if (!ok)
    {
        CountDownloadFailure(0);
        {
            CKrScopedLock lock(m_downloadMutex);
            m_downloadQueue.push_back(item);
        }
        SleepWhile(m_controlRunning, m_settings.timings.failurePauseMs);
    }
    return true;
}

void CKrInstaller::ExtractInPlace(InstallItem* item)
{
    std::string zipPath = ItemDir(item) + item->name;
    if (!ExtractZip(zipPath))
    {
        // The kept zip has the server's time and would pass for up to date on the next run, whose
        // scan looks only at the zip: remove it so that it is fetched and extracted again.
        kr::os::RemoveFile(zipPath);
        m_filesNotInstalled.store(true, std::memory_order_release);
        CountExtractFailure();
        return;
    }
    // The kept zip carries the server's time from the download; only a known time replaces it.
    if (item->lastWrite != 0 && FileExists(zipPath))
        SetFileLastWriteTime(zipPath, item->lastWrite);
}

// --- download workers ---------------------------------------------------------------------------

void CKrInstaller::WorkerMain(int slot)
{
    m_activeWorkers.fetch_add(1, std::memory_order_acq_rel);
    const CKrInstallerTimings& t = m_settings.timings;
    SleepWhile(m_workersRunning, t.startDelayMs);
    while (m_workersRunning.load(std::memory_order_acquire))
    {
        if (m_state.load(std::memory_order_acquire) != StateUpdate)
        {
            SleepWhile(m_workersRunning, t.roundMs);
            kr::os::SleepMs(1);
            continue;
        }
        InstallItem* item = nullptr;
        bool directAhead = false;
        {
            CKrScopedLock lock(m_downloadMutex);
            if (!m_downloadQueue.empty())
            {
                // Directly fetched items belong to the control thread.
                if (m_downloadQueue.front()->flags & ItemDirect)
                    directAhead = true;
                else
                {
                    item = m_downloadQueue.front();
                    m_downloadQueue.pop_front();
                    item->status.store(ItemDownloading, std::memory_order_release);
                }
            }
        }
        if (directAhead)
        {
            SleepWhile(m_workersRunning, t.roundMs);
            continue;
        }
        if (!item)
        {
            kr::os::SleepMs(t.idleMs);
            if (AllItemsDone())
                SleepWhile(m_workersRunning, t.roundMs);
            continue;
        }
        if (m_server.DownloadFile(SingleFileZipName(item->name), item->destDir, slot, false,
                                  m_workersRunning))
        {
            CompleteTransfer(slot, item->downloadSize, false);
            CKrScopedLock lock(m_installMutex);
            m_installQueue.push_back(item);
        }
        else
        {
            CountDownloadFailure(slot);
            {
                CKrScopedLock lock(m_downloadMutex);
                m_downloadQueue.push_back(item);
            }
            SleepWhile(m_workersRunning, t.failurePauseMs);
        }
    }
    m_activeWorkers.fetch_sub(1, std::memory_order_acq_rel);
}

// --- install thread -----------------------------------------------------------------------------

void CKrInstaller::InstallMain()
{
    m_activeInstallThreads.fetch_add(1, std::memory_order_acq_rel);
    while (m_installRunning.load(std::memory_order_acquire))
    {
        InstallItem* item = nullptr;
        {
            CKrScopedLock lock(m_installMutex);
            if (!m_installQueue.empty())
            {
                item = m_installQueue.front();
                m_installQueue.pop_front();
            }
        }
        if (!item)
        {
            kr::os::SleepMs(m_settings.timings.idleMs);
            continue;
        }
        item->status.store(ItemInstalling, std::memory_order_release);
        if (item->flags & ItemPackage)
            InstallPackage(item);
        else
            InstallSingleFile(item);
    }
    m_activeInstallThreads.fetch_sub(1, std::memory_order_acq_rel);
}

bool CKrInstaller::ExtractZip(const std::string& zipPath)
{
    CKrZipFile zip;
    zip.SetReplaceBackslashes(IsLauncher());
    int steps = zip.Open(zipPath, true, nullptr, false) ? 1 : 0;
    if (steps == 1)
        steps += zip.ExtractAll(nullptr, true) ? 1 : 0;
    steps += zip.Close() == 1 ? 1 : 0;
    return steps == 3;
}

void CKrInstaller::InstallPackage(InstallItem* item)
{
    std::string zipPath = ItemDir(item) + item->name;
    bool extracted = ExtractZip(zipPath);
    kr::os::RemoveFile(zipPath);
    if (item->name == kDirectXSetupZip)
    {
        if (extracted && !m_directXSetupStarted.load(std::memory_order_acquire))
        {
            bool started = m_settings.startDirectXSetup ? m_settings.startDirectXSetup(ItemDir(item))
                                                        : StartDirectXSetup(ItemDir(item));
            if (started)
                m_directXSetupStarted.store(true, std::memory_order_release);
        }
    }
    else if (extracted)
    {
        // A marker only for a package that is really in place.
        WriteMarker(item);
    }
    if (!extracted)
    {
        // Verification mends only the files of the file list; what stands beside Data/ comes with
        // the packages alone. Fetch the package again (a full disk fails the download until there
        // is room) rather than end the fresh install without those files.
        CountExtractFailure(item->downloadSize);
        item->status.store(ItemPending, std::memory_order_release);
        // Not at once: a disk that is full stays full for a while, and the server should not pay.
        SleepWhile(m_installRunning, m_settings.timings.extractRetryMs);
        CKrScopedLock lock(m_freshMutex);
        m_freshQueue.push_back(item);
        return;
    }
    item->status.store(ItemDone, std::memory_order_release);
    CountItemDone();
}

void CKrInstaller::WriteMarker(const InstallItem* item)
{
    std::string marker = m_installDir + GetFileTitle(item->name) + ".install";
    if (IsLauncher())
    {
        std::FILE* file = kr::os::OpenFile(marker, "wb");
        if (!file)
            return;
        std::fclose(file);
    }
    else if (!kr::os::CreateNewFile(marker))
    {
        return; // an existing marker stays as it is
    }
    SetFileLastWriteTime(marker, item->lastWrite);
}

void CKrInstaller::InstallSingleFile(InstallItem* item)
{
    std::string zipPath = ItemDir(item) + SingleFileZipName(item->name);
    bool extracted = ExtractZip(zipPath);
    kr::os::RemoveFile(zipPath);
    if (extracted)
    {
        std::string installed = ItemDir(item) + "Data\\" + item->name;
        if (FileExists(installed))
            SetFileLastWriteTime(installed, item->lastWrite);
    }
    else
    {
        // No time stamp: the file must look outdated to the next run.
        m_filesNotInstalled.store(true, std::memory_order_release);
        CountExtractFailure();
    }
    item->status.store(ItemDone, std::memory_order_release);
    CountItemDone();
}
