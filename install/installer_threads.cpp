// The engine's work: the control thread's rounds of states 2, 3 and 5, the download workers and the
// extraction threads. Every item is taken from a queue, fetched, and on failure put back for later or
// given up by the same few functions below.
#include "install/directx_check.h"
#include "install/installer.h"
#include "install/path_utils.h"
#include "install/zip_file.h"
#include "platform/files.h"

namespace
{

std::string BareName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsDirectItem(const InstallItem& item)
{
    return (item.flags & ItemDirect) != 0;
}

} // namespace

std::string CKrInstaller::ItemDir(const InstallItem* item) const
{
    return item->destDir.empty() ? m_installDir : item->destDir;
}

std::string CKrInstaller::StagedPackagePath(const InstallItem* item) const
{
    return item->packageIndex >= 0 ? m_layout.StagedPackage(item->packageIndex) : m_layout.StagedItem(item->name);
}

std::string CKrInstaller::PiecePath(const InstallItem* piece) const
{
    return m_layout.PiecePath(StagedPackagePath(piece->package), piece->rangeOffset,
                              piece->rangeOffset + piece->rangeLength - 1);
}

std::vector<std::string> CKrInstaller::StagedPackageParts(const InstallItem* item) const
{
    if (!item->inPieces)
        return {StagedPackagePath(item)};
    std::vector<std::string> parts;
    for (const std::unique_ptr<InstallItem>& piece : item->pieces)
        parts.push_back(PiecePath(piece.get()));
    return parts;
}

void CKrInstaller::DiscardStagedPackage(const InstallItem* item)
{
    std::vector<std::string> paths{StagedPackagePath(item)};
    for (const std::unique_ptr<InstallItem>& piece : item->pieces)
        paths.push_back(PiecePath(piece.get()));
    for (const std::string& path : paths)
        CKrDownloadServer::DiscardStaged(path, m_layout.InfoPath(path));
}

int CKrInstaller::ExtractThreads() const
{
    int n = m_settings.extractThreads;
    return n < 1 ? 1 : (n > kMaxExtractThreads ? kMaxExtractThreads : n);
}

int CKrInstaller::Connections() const
{
    int n = m_settings.transfers.connections;
    return n < 1 ? 1 : (n > CKrDownloadServer::kSlots ? CKrDownloadServer::kSlots : n);
}

// --- failures -------------------------------------------------------------------------------------

void CKrInstaller::GiveUp(InstallItem* item, int errorCode)
{
    item->status.store(ItemGivenUp, std::memory_order_release);
    if (item->package)
    {
        // A piece that cannot be fetched gives its package up, once.
        item = item->package;
        if (item->givenUp.exchange(true, std::memory_order_acq_rel))
            return;
        item->status.store(ItemGivenUp, std::memory_order_release);
    }
    if (item->flags & ItemPackage)
        PackageLeavesStaging(item);
    int none = ErrorNone;
    m_phaseError.compare_exchange_strong(none, errorCode, std::memory_order_acq_rel);
    CKrScopedLock lock(m_countersMutex);
    ++m_counters.givenUpItems;
}

void CKrInstaller::HandleFetchFailure(InstallItem* item, KrFetchOutcome outcome, int slot, CKrItemQueue& queue)
{
    item->status.store(ItemPending, std::memory_order_release);
    if (outcome == KrFetchOutcome::Cancelled)
    {
        // Stopping: nothing failed.
        SetSlotBytes(slot, 0);
        queue.Push(item);
        return;
    }
    CountDownloadFailure(slot);
    switch (outcome)
    {
    case KrFetchOutcome::Transient:
        // The network or the disk may come back: retried for as long as the run lasts, ever later.
        if (item->transientFailures < 0xFFFF)
            ++item->transientFailures;
        queue.Requeue(item, Now() + m_backoff.Delay(item->transientFailures));
        return;
    case KrFetchOutcome::TooLarge:
        GiveUp(item, ErrorRemoteSize);
        return;
    case KrFetchOutcome::Unlisted:
        GiveUp(item, ErrorReleaseMismatch);
        return;
    default:
        // The same answer again and again: three attempts, then the run ends (after the rest).
        if (++item->repeats >= CKrBackoff::kMaxRepeats)
            GiveUp(item, outcome == KrFetchOutcome::LocalFailure ? ErrorInstallFiles
                         : outcome == KrFetchOutcome::Mismatch   ? ErrorReleaseMismatch
                                                                 : ErrorRemoteFile);
        else
            queue.Requeue(item, Now() + m_backoff.Delay(item->repeats));
        return;
    }
}

// --- control thread: state 2 --------------------------------------------------------------------

int CKrInstaller::FreshStep()
{
    if (FreshFetch(0, m_controlRunning, true))
        return StateFreshInstall;
    m_clock->Sleep(m_settings.timings.idleMs, m_controlRunning);
    if (!PhaseDone())
        return StateFreshInstall;
    // A package given up keeps the run here: the markers stay, so that the next run fetches only
    // what is missing, and the files beside Data/ are never left out unnoticed.
    int error = m_phaseError.load(std::memory_order_acquire);
    if (error != ErrorNone)
        return Fail(error);
    return m_directXSetupStarted.load(std::memory_order_acquire) ? StateWaitDirectX : StateVerify;
}

bool CKrInstaller::FreshFetch(int slot, const std::atomic<bool>& running, bool control)
{
    if (InstallItem* piece = m_pieceQueue.Take(Now()))
    {
        FetchPiece(piece, slot, running);
        return true;
    }
    // Packages are large: the disk holds no more of them than the connections fetch plus a few that
    // wait for extraction. A package that comes back (damaged, ranges refused) is counted already.
    const int bound = Connections() + (m_settings.transfers.packagesAhead > 0 ? m_settings.transfers.packagesAhead : 0);
    InstallItem* item = m_freshQueue.Take(Now(), [&](const InstallItem& i) {
        if (!(i.flags & ItemPackage))
            return control; // added items belong to the control thread
        if (i.staging.load(std::memory_order_acquire))
            return true;
        int staged = m_packagesStaged.load(std::memory_order_acquire);
        while (staged < bound)
        {
            if (m_packagesStaged.compare_exchange_weak(staged, staged + 1, std::memory_order_acq_rel))
                return true;
        }
        return false;
    });
    if (!item)
        return false;
    item->status.store(ItemDownloading, std::memory_order_release);
    if (item->flags & ItemPackage)
    {
        item->staging.store(true, std::memory_order_release);
        // Checked once complete, before extraction; one the release does not list is never fetched.
        if (IsSigned() && !SignedEntry(item->name))
        {
            CountDownloadFailure(slot);
            GiveUp(item, ErrorReleaseMismatch);
            return true;
        }
        FetchPackage(item, slot, running);
        return true;
    }
    KrDownloadResult result = FetchDirect(item, slot, running);
    if (result.outcome != KrFetchOutcome::Done && result.outcome != KrFetchOutcome::UpToDate)
    {
        HandleFetchFailure(item, result.outcome, slot, m_freshQueue);
        return true;
    }
    if (item->flags & ItemExtract)
        ExtractInPlace(item, running);
    item->status.store(ItemDone, std::memory_order_release);
    CompleteTransfer(slot, item->downloadSize, true);
    return true;
}

void CKrInstaller::FetchPackage(InstallItem* item, int slot, const std::atomic<bool>& running)
{
    const uint64_t minPiece = m_settings.transfers.rangeMinBytes;
    const int connections = Connections();
    // A package staged whole by an earlier attempt (or run) is resumed or confirmed as it is.
    uint64_t stagedSize = 0;
    bool stagedWhole = kr::os::GetFileSize(StagedPackagePath(item), &stagedSize);
    if (!item->wholeOnly && !stagedWhole && !m_rangesRefused.load(std::memory_order_acquire) &&
        item->packageIndex >= 0 && minPiece > 0 && connections > 1 && item->size >= 2 * minPiece)
    {
        // Pieces of at least minPiece bytes, one per connection at most; the last takes the rest.
        if (item->pieces.empty())
        {
            uint64_t count = item->size / minPiece;
            if (count > static_cast<uint64_t>(connections))
                count = static_cast<uint64_t>(connections);
            uint64_t share = item->size / count;
            for (uint64_t i = 0; i < count; ++i)
            {
                auto piece = std::make_unique<InstallItem>();
                piece->name = item->name;
                piece->flags = ItemPackage;
                piece->package = item;
                piece->rangeOffset = i * share;
                piece->rangeLength = i + 1 == count ? item->size - i * share : share;
                item->pieces.push_back(std::move(piece));
            }
        }
        item->piecesLeft.store(static_cast<int>(item->pieces.size()), std::memory_order_release);
        item->pieceBytesDone.store(0, std::memory_order_release);
        item->rangesRefused.store(false, std::memory_order_release);
        for (size_t i = 1; i < item->pieces.size(); ++i)
        {
            item->pieces[i]->repeats = item->pieces[i]->transientFailures = 0;
            m_pieceQueue.Push(item->pieces[i].get());
        }
        item->pieces[0]->repeats = item->pieces[0]->transientFailures = 0;
        FetchPiece(item->pieces[0].get(), slot, running);
        return;
    }
    item->inPieces = false;
    KrDownloadJob job;
    job.remoteName = item->name;
    job.stagedPath = StagedPackagePath(item);
    job.infoPath = m_layout.InfoPath(job.stagedPath);
    job.hasExpected = item->packageIndex >= 0;
    job.expectedSize = item->size;
    job.expectedLastWrite = item->lastWrite;
    job.progressSize = item->downloadSize;
    KrDownloadResult result = m_server.Download(job, slot, running);
    if (result.outcome != KrFetchOutcome::Done)
    {
        HandleFetchFailure(item, result.outcome, slot, m_freshQueue);
        return;
    }
    CompleteTransfer(slot, item->downloadSize, false);
    m_installQueue.Push(item);
}

void CKrInstaller::FetchPiece(InstallItem* piece, int slot, const std::atomic<bool>& running)
{
    InstallItem* package = piece->package;
    piece->status.store(ItemDownloading, std::memory_order_release);
    KrDownloadJob job;
    job.remoteName = package->name;
    job.stagedPath = PiecePath(piece);
    job.infoPath = m_layout.InfoPath(job.stagedPath);
    job.hasExpected = true;
    job.expectedSize = package->size;
    job.expectedLastWrite = package->lastWrite;
    job.rangeOffset = piece->rangeOffset;
    job.rangeLength = piece->rangeLength;
    job.progressSize = piece->rangeLength;
    KrDownloadResult result = m_server.Download(job, slot, running);
    if (result.outcome == KrFetchOutcome::RangeIgnored)
    {
        // Nothing was written; the package is fetched in one piece once all its pieces are back.
        package->rangesRefused.store(true, std::memory_order_release);
        SetSlotBytes(slot, 0);
    }
    else if (result.outcome != KrFetchOutcome::Done)
    {
        HandleFetchFailure(piece, result.outcome, slot, m_pieceQueue);
        return;
    }
    else
    {
        CompleteTransfer(slot, piece->rangeLength, false);
        package->pieceBytesDone.fetch_add(piece->rangeLength, std::memory_order_acq_rel);
    }
    piece->status.store(ItemDone, std::memory_order_release);
    if (package->piecesLeft.fetch_sub(1, std::memory_order_acq_rel) == 1)
        FinishPieces(package);
}

void CKrInstaller::FinishPieces(InstallItem* package)
{
    if (!package->rangesRefused.load(std::memory_order_acquire))
    {
        // The pieces stay as they are: extraction and the signed check read them as one file.
        package->inPieces = true;
        m_installQueue.Push(package);
        return;
    }
    // A server that ignores Range: this package and every later one come in one piece.
    DiscardStagedPackage(package);
    UndoDoneBytes(package->pieceBytesDone.exchange(0, std::memory_order_acq_rel));
    package->status.store(ItemPending, std::memory_order_release);
    m_rangesRefused.store(true, std::memory_order_release);
    package->wholeOnly = true;
    m_freshQueue.Push(package);
}

void CKrInstaller::PackageLeavesStaging(InstallItem* package)
{
    if (package->staging.exchange(false, std::memory_order_acq_rel))
        m_packagesStaged.fetch_sub(1, std::memory_order_acq_rel);
}

// --- control thread: state 3 --------------------------------------------------------------------

int CKrInstaller::DirectXStep()
{
    bool present = m_settings.directXProbe ? m_settings.directXProbe() : IsDirectXPresent();
    if (!present)
    {
        m_clock->Sleep(m_settings.timings.directXPollMs, m_controlRunning);
        return StateWaitDirectX;
    }
    m_directXSetupStarted.store(false, std::memory_order_release);
    if (!m_clock->Sleep(m_settings.timings.directXSettleMs, m_controlRunning))
        return StateWaitDirectX;
    return StateVerify;
}

// --- control thread and workers: state 5 ---------------------------------------------------------

int CKrInstaller::UpdateStep()
{
    InstallItem* item = m_downloadQueue.Take(Now());
    if (!item)
    {
        m_clock->Sleep(m_settings.timings.idleMs, m_controlRunning);
        // Every item is done: no pause before state 6, it would only cost the player time.
        if (!PhaseDone())
            return StateUpdate;
        int error = m_phaseError.load(std::memory_order_acquire);
        if (error != ErrorNone)
            return Fail(error);
        // Never report a finished run whose tree differs from the file list; the files that
        // failed carry no time stamp, so the next run fetches them again.
        if (m_filesNotInstalled.load(std::memory_order_acquire))
            return Fail(ErrorInstallFiles);
        return StateFinished;
    }
    FetchUpdateItem(item, 0, m_controlRunning);
    return StateUpdate;
}

KrDownloadResult CKrInstaller::FetchDirect(InstallItem* item, int slot, const std::atomic<bool>& running)
{
    KrDownloadJob job;
    job.remoteName = item->name;
    job.stagedPath = m_layout.StagedItem(item->name);
    job.infoPath = m_layout.InfoPath(job.stagedPath);
    job.finalPath = ItemDir(item) + item->name;
    job.timeCheck = true;
    job.progressSize = item->downloadSize;
    KrDownloadResult result;
    if (!ExpectSigned(job.remoteName, job))
    {
        result.outcome = KrFetchOutcome::Unlisted;
        return result;
    }
    result = m_server.Download(job, slot, running);
    if (result.outcome == KrFetchOutcome::UpToDate && job.signedEntry)
    {
        // Size and time say current; a signed release also wants the bytes it signed.
        KrFileCheck check = CheckFile(job.finalPath, *job.signedEntry, &running);
        if (check == KrFileCheck::Cancelled)
            result.outcome = KrFetchOutcome::Cancelled;
        else if (check != KrFileCheck::Match && kr::os::RemoveFile(job.finalPath))
            result = m_server.Download(job, slot, running);
        else if (check != KrFileCheck::Match)
            result.outcome = KrFetchOutcome::LocalFailure;
    }
    return result;
}

void CKrInstaller::FetchUpdateItem(InstallItem* item, int slot, const std::atomic<bool>& running)
{
    item->status.store(ItemDownloading, std::memory_order_release);
    if (IsDirectItem(*item))
    {
        KrDownloadResult result = FetchDirect(item, slot, running);
        if (result.outcome != KrFetchOutcome::Done && result.outcome != KrFetchOutcome::UpToDate)
        {
            HandleFetchFailure(item, result.outcome, slot, m_downloadQueue);
            return;
        }
        if (item->flags & ItemExtract)
            ExtractInPlace(item, running);
        item->status.store(ItemDone, std::memory_order_release);
        CompleteTransfer(slot, item->downloadSize, true);
        return;
    }
    KrDownloadJob job;
    job.remoteName = CKrInstallLayout::FileZipRemoteName(item->name);
    job.stagedPath = m_layout.StagedFileZip(item->name);
    job.infoPath = m_layout.InfoPath(job.stagedPath);
    job.progressSize = item->downloadSize;
    if (!ExpectSigned(job.remoteName, job))
    {
        HandleFetchFailure(item, KrFetchOutcome::Unlisted, slot, m_downloadQueue);
        return;
    }
    KrDownloadResult result = m_server.Download(job, slot, running);
    if (result.outcome != KrFetchOutcome::Done)
    {
        HandleFetchFailure(item, result.outcome, slot, m_downloadQueue);
        return;
    }
    CompleteTransfer(slot, item->downloadSize, false);
    m_installQueue.Push(item);
}

void CKrInstaller::WorkerIdleRound(int state)
{
    // A round of idling, cut short when the state moves on: a phase's downloads begin on every
    // connection at once, not up to a round later.
    const CKrInstallerTimings& t = m_settings.timings;
    uint32_t left = t.roundMs + 1;
    while (left > 0 && m_state.load(std::memory_order_acquire) == state)
    {
        uint32_t step = t.idleMs > 0 && t.idleMs < left ? t.idleMs : left;
        if (!m_clock->Sleep(step, m_workersRunning))
            return;
        left -= step;
    }
}

void CKrInstaller::WorkerMain(int slot)
{
    m_activeWorkers.fetch_add(1, std::memory_order_acq_rel);
    const CKrInstallerTimings& t = m_settings.timings;
    m_clock->Sleep(t.startDelayMs, m_workersRunning);
    while (m_workersRunning.load(std::memory_order_acquire))
    {
        int state = m_state.load(std::memory_order_acquire);
        if (slot >= Connections() || (state != StateUpdate && state != StateFreshInstall))
        {
            WorkerIdleRound(state);
            continue;
        }
        if (state == StateFreshInstall)
        {
            if (!FreshFetch(slot, m_workersRunning, false))
                m_clock->Sleep(t.idleMs, m_workersRunning);
            continue;
        }
        // Directly fetched items belong to the control thread.
        InstallItem* item = m_downloadQueue.Take(Now(), [](const InstallItem& i) { return !IsDirectItem(i); });
        if (!item)
        {
            m_clock->Sleep(t.idleMs, m_workersRunning);
            if (PhaseDone())
                m_clock->Sleep(t.roundMs, m_workersRunning);
            continue;
        }
        FetchUpdateItem(item, slot, m_workersRunning);
    }
    m_activeWorkers.fetch_sub(1, std::memory_order_acq_rel);
}

// --- install thread -----------------------------------------------------------------------------

void CKrInstaller::InstallMain()
{
    m_activeInstallThreads.fetch_add(1, std::memory_order_acq_rel);
    while (m_installRunning.load(std::memory_order_acquire))
    {
        InstallItem* item = m_installQueue.Take(Now());
        if (!item)
        {
            m_clock->Sleep(m_settings.timings.idleMs, m_installRunning);
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

int CKrInstaller::ExtractZip(const std::vector<std::string>& parts, const std::string& destDir, const std::atomic<bool>& running,
                             bool* damaged, std::vector<std::string>* written)
{
    CKrZipFile zip;
    zip.SetReplaceBackslashes(IsLauncher());
    zip.SetStopFlag(&running);
    zip.SetRecordWrittenFiles(written != nullptr);
    int steps = zip.OpenParts(parts) ? 1 : 0;
    // What this archive writes, claimed against the extractions running beside it; released on every
    // way out.
    CKrExtractClaims::Claim claim;
    struct Holding
    {
        CKrExtractClaims& claims;
        uint64_t id;
        bool held = false;
        ~Holding()
        {
            if (held)
                claims.Release(id);
        }
    } holding{m_extractClaims, reinterpret_cast<uintptr_t>(&claim)};
    if (steps == 1)
    {
        const std::string base = (destDir.empty() ? GetDirectoryPart(parts.front()) : destDir) + "/";
        std::string path;
        if (!zip.ForEachEntryName([&](const std::string& name) {
                path.assign(base).append(name);
                claim.Add(path);
            }))
            steps = 0;
        claim.Seal();
    }
    while (steps == 1 && !(holding.held = m_extractClaims.TryHold(holding.id, claim)))
    {
        if (!m_clock->Sleep(m_settings.timings.idleMs, running))
            return -1;
    }
    if (holding.held && m_settings.extracting)
        m_settings.extracting(parts.front(), true);
    if (steps == 1)
        steps += zip.ExtractAll(destDir.empty() ? nullptr : destDir.c_str(), true) ? 1 : 0;
    if (holding.held && m_settings.extracting)
        m_settings.extracting(parts.front(), false);
    bool stopped = zip.WasStopped();
    *damaged = steps == 0 || zip.GetExtractStats().damaged;
    if (written)
        *written = zip.GetWrittenFiles();
    steps += zip.Close() == 1 ? 1 : 0;
    if (stopped)
        return -1;
    return steps == 3 ? 1 : 0;
}

void CKrInstaller::InstallPackage(InstallItem* item)
{
    const std::vector<std::string> parts = StagedPackageParts(item);
    bool damaged = false;
    int extracted = 0;
    int failure = ErrorPackageExtract;
    // A signed release's package is checked whole (it may have come in pieces) before a byte of it
    // is extracted; one that differs is treated as damaged and fetched again from a clean start.
    KrFileCheck check = KrFileCheck::Match;
    if (const KrManifestEntry* entry = SignedEntry(item->name))
        check = CheckParts(parts, *entry, &m_installRunning);
    if (check == KrFileCheck::Cancelled)
        return;
    if (check == KrFileCheck::Match)
        extracted = ExtractZip(parts, ItemDir(item), m_installRunning, &damaged, nullptr);
    else
    {
        damaged = true;
        failure = ErrorReleaseMismatch;
    }
    if (extracted < 0)
        return; // stopped: the complete package stays staged for the next run
    if (extracted > 0)
    {
        DiscardStagedPackage(item);
        if (item->name == kDirectXSetupZip && item->packageIndex < 0)
        {
            if (!m_directXSetupStarted.load(std::memory_order_acquire))
            {
                bool started = m_settings.startDirectXSetup ? m_settings.startDirectXSetup(ItemDir(item))
                                                            : StartDirectXSetup(ItemDir(item));
                if (started)
                    m_directXSetupStarted.store(true, std::memory_order_release);
            }
        }
        else
        {
            // A marker only for a package that is really in place.
            WriteMarker(item);
        }
        PackageLeavesStaging(item);
        item->status.store(ItemDone, std::memory_order_release);
        CountItemDone();
        return;
    }
    // Verification mends only the files of the file list; what stands beside Data/ comes with the
    // packages alone, so a package is not given up lightly, but not endlessly either.
    ++item->repeats;
    if (item->repeats >= CKrBackoff::kMaxRepeats)
    {
        CountExtractFailure(damaged ? item->downloadSize : 0);
        // Damaged bytes go; intact ones stay staged, so that the next run (after the obstacle is
        // gone) extracts them without fetching them again.
        if (damaged)
            DiscardStagedPackage(item);
        GiveUp(item, failure);
        return;
    }
    uint64_t retryAt = Now() + m_backoff.Delay(item->repeats);
    if (damaged)
    {
        // Fetched again, from the first byte.
        CountExtractFailure(item->downloadSize);
        DiscardStagedPackage(item);
        item->status.store(ItemPending, std::memory_order_release);
        m_freshQueue.Requeue(item, retryAt);
    }
    else
    {
        // The bytes are sound, the target refused them: extract the same bytes again later.
        CountExtractFailure(0);
        m_installQueue.Requeue(item, retryAt);
    }
}

void CKrInstaller::WriteMarker(const InstallItem* item)
{
    const std::string marker = m_layout.MarkerPath(item->packageIndex);
    if (IsLauncher())
    {
        kr::os::UniqueFile file = kr::os::OpenUniqueFile(marker, "wb");
        if (!file || !kr::os::CloseUniqueFile(file))
            return;
    }
    else if (!kr::os::CreateNewFile(marker))
    {
        return; // an existing marker stays as it is
    }
    SetFileLastWriteTime(marker, item->lastWrite);
}

void CKrInstaller::InstallSingleFile(InstallItem* item)
{
    const std::string staged = m_layout.StagedFileZip(item->name);
    const std::string info = m_layout.InfoPath(staged);
    bool damaged = false;
    std::vector<std::string> written;
    int extracted = ExtractZip({staged}, ItemDir(item) + "Data\\", m_installRunning, &damaged, &written);
    if (extracted < 0)
        return; // stopped: the file keeps no time stamp, so the next run fetches it again
    CKrDownloadServer::DiscardStaged(staged, info);
    bool stamped = false;
    if (extracted > 0)
    {
        // The zip holds the file at its path below Data/: it gets the list's time where the zip
        // put it, in whatever sub-folder.
        for (const std::string& path : written)
        {
            if (SameName(BareName(path), item->name))
                stamped = SetFileLastWriteTime(path, item->lastWrite) || stamped;
        }
    }
    if (!stamped)
    {
        // No time stamp: the file must look outdated to the next run.
        m_filesNotInstalled.store(true, std::memory_order_release);
        CountExtractFailure();
    }
    item->status.store(ItemDone, std::memory_order_release);
    CountItemDone();
}

void CKrInstaller::ExtractInPlace(InstallItem* item, const std::atomic<bool>& running)
{
    std::string zipPath = ItemDir(item) + item->name;
    bool damaged = false;
    int extracted = ExtractZip({zipPath}, std::string(), running, &damaged, nullptr);
    if (extracted <= 0)
    {
        // The kept zip has the server's time and would pass for up to date on the next run, whose
        // scan looks only at the zip: remove it so that it is fetched and extracted again.
        kr::os::RemoveFile(zipPath);
        if (extracted == 0)
        {
            m_filesNotInstalled.store(true, std::memory_order_release);
            CountExtractFailure();
        }
        return;
    }
    // The kept zip carries the server's time from the download; only a known time replaces it.
    if (item->lastWrite != 0 && FileExists(zipPath))
        SetFileLastWriteTime(zipPath, item->lastWrite);
}
