#include "install/download_server.h"

#include "install/file_writer.h"
#include "install/path_utils.h"
#include "platform/files.h"
#include "platform/threads.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace
{

// What validates a partial download, kept beside it.
struct PartialInfo
{
    bool valid = false;
    uint64_t size = 0;         // the complete size
    uint64_t lastModified = 0; // FILETIME; 0 when the server sent none
    std::string lastModifiedText;
    std::string etag;

    std::string Validator() const
    {
        if (!lastModifiedText.empty())
            return lastModifiedText;
        // Weak tags cannot validate a range.
        if (!etag.empty() && etag.compare(0, 2, "W/") != 0)
            return etag;
        return std::string();
    }
};

const char kInfoMagic[] = "kr-partial 1";

bool LoadInfo(const std::string& path, PartialInfo& info)
{
    info = PartialInfo();
    kr::os::UniqueFile file = kr::os::OpenUniqueFile(path, "rb");
    if (!file)
        return false;
    char buffer[2048];
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, file.get());
    buffer[n] = 0;
    std::istringstream in(std::string(buffer, n));
    std::string line;
    if (!std::getline(in, line) || line != kInfoMagic)
        return false;
    bool hasSize = false;
    while (std::getline(in, line))
    {
        size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        std::string key = line.substr(0, space), value = line.substr(space + 1);
        if (key == "size")
        {
            info.size = std::strtoull(value.c_str(), nullptr, 10);
            hasSize = true;
        }
        else if (key == "modified")
            info.lastModified = std::strtoull(value.c_str(), nullptr, 10);
        else if (key == "modified-text")
            info.lastModifiedText = value;
        else if (key == "etag")
            info.etag = value;
    }
    info.valid = hasSize && !info.Validator().empty();
    return info.valid;
}

bool SaveInfo(const std::string& path, const PartialInfo& info)
{
    std::string dir = GetDirectoryPart(path);
    if (dir != path && !dir.empty())
        kr::os::MakeDirectories(dir);
    std::string text = std::string(kInfoMagic) + "\nsize " + std::to_string(info.size) + "\nmodified " +
                       std::to_string(info.lastModified) + "\nmodified-text " + info.lastModifiedText + "\netag " +
                       info.etag + "\n";
    kr::os::UniqueFile file = kr::os::OpenUniqueFile(path, "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(text.data(), text.size(), 1, file.get()) == 1;
    return kr::os::CloseUniqueFile(file) && ok;
}

// Header lines may carry line ends or spaces (WinINet keeps some); compare what they say.
std::string Clean(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t\r\n");
    size_t e = text.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

class StagedSink : public kr::os::DownloadSink
{
public:
    StagedSink(const KrDownloadJob& job, const PartialInfo& previous, uint64_t offset, int slot,
               CKrTransferProgress* progress, CKrRateLimiter* limiter, const std::atomic<bool>& keepRunning)
        : m_job(job), m_previous(previous), m_offset(offset), m_slot(slot), m_progress(progress),
          m_limiter(limiter), m_keepRunning(keepRunning)
    {
    }

    bool OnHeader(const kr::os::RemoteFileInfo& info) override
    {
        answer = info;
        bool ranged = false;
        if (m_job.rangeLength > 0)
        {
            if (!AcceptPiece(info))
                return false;
            ranged = m_offset > 0;
        }
        else if (info.status == 206)
        {
            // Only the continuation asked for, of the same file, is taken.
            if (m_offset == 0 || !info.hasContentRange || info.rangeFirst != m_offset || !info.hasCompleteLength ||
                info.completeLength != m_previous.size ||
                (m_previous.lastModified != 0 && info.hasLastModified && info.lastModified != m_previous.lastModified))
            {
                mismatch = true;
                return false;
            }
            ranged = true;
            hasTotal = true;
            total = info.completeLength;
        }
        else if (info.status == 416)
        {
            mismatch = true;
            return false;
        }
        else if (info.status == 200)
        {
            hasTotal = info.hasContentLength;
            total = info.contentLength;
        }
        else
            return false; // the caller classifies the status
        if (m_job.rangeLength == 0 && hasTotal && total > m_job.maxSize)
        {
            tooLarge = true;
            return false;
        }
        if (m_job.timeCheck)
        {
            if (!info.hasLastModified || !hasTotal)
            {
                missingHeaders = true;
                return false;
            }
            kr::os::FileInfo local;
            if (kr::os::GetFileInfo(m_job.finalPath, local) && !(local.attributes & kr::os::kAttrDirectory) &&
                local.size == total && CompareDosTimes(local.lastWrite, info.lastModified) == 0)
            {
                upToDate = true;
                return false;
            }
        }
        // A directory that vanished since the last run must not block the download forever.
        std::string dir = GetDirectoryPart(m_job.stagedPath);
        if (dir != m_job.stagedPath && !dir.empty())
            kr::os::MakeDirectories(dir);
        if (ranged ? !m_writer.OpenAt(m_job.stagedPath, m_offset) : !m_writer.Create(m_job.stagedPath))
        {
            localFailure = true;
            return false;
        }
        // What validates these bytes, before the first of them arrives.
        PartialInfo next;
        next.size = m_job.rangeLength > 0 ? m_job.expectedSize : total;
        next.lastModified = info.hasLastModified ? info.lastModified : 0;
        next.lastModifiedText = Clean(info.lastModifiedText);
        next.etag = Clean(info.etag);
        if (!ranged)
        {
            if (!hasTotal || next.Validator().empty() || !SaveInfo(m_job.infoPath, next))
                kr::os::RemoveFile(m_job.infoPath); // not resumable: no stale sidecar may stay
        }
        onDisk = ranged ? m_offset : 0;
        Report();
        return true;
    }

    bool OnData(const void* data, std::size_t size) override
    {
        if (hasTotal && onDisk + size > total)
        {
            tooLarge = true;
            return false;
        }
        if (m_limiter && !m_limiter->Acquire(size, m_keepRunning))
            return false;
        if (!m_writer.Write(data, size))
        {
            writeFailed = true;
            return false;
        }
        onDisk += size;
        received += size;
        Report();
        return true;
    }

    bool CloseFile() { return m_writer.IsOpen() && m_writer.Close(); }
    void Abandon() { m_writer.Close(); }

    kr::os::RemoteFileInfo answer;
    bool hasTotal = false;
    uint64_t total = 0;
    uint64_t onDisk = 0;
    uint64_t received = 0;
    bool mismatch = false;
    bool tooLarge = false;
    bool missingHeaders = false;
    bool upToDate = false;
    bool rangeIgnored = false;
    bool localFailure = false;
    bool writeFailed = false;

private:
    // A piece: only a 206 with exactly the bytes asked for, of the file the query described.
    bool AcceptPiece(const kr::os::RemoteFileInfo& info)
    {
        if (info.status == 200)
        {
            rangeIgnored = true;
            return false;
        }
        if (info.status == 416)
        {
            mismatch = true;
            return false;
        }
        if (info.status != 206)
            return false;
        uint64_t first = m_job.rangeOffset + m_offset;
        uint64_t last = m_job.rangeOffset + m_job.rangeLength - 1;
        if (!info.hasContentRange || info.rangeFirst != first || info.rangeLast != last || !info.hasCompleteLength ||
            info.completeLength != m_job.expectedSize ||
            (m_job.expectedLastWrite != 0 && info.hasLastModified && info.lastModified != m_job.expectedLastWrite))
        {
            mismatch = true;
            return false;
        }
        hasTotal = true;
        total = m_job.rangeLength;
        return true;
    }

    void Report()
    {
        if (!m_progress)
            return;
        uint64_t shown = 0;
        uint64_t scale = m_job.progressSize;
        if (scale > 0)
        {
            if (hasTotal && total > 0)
                shown = onDisk >= total ? scale : scale * onDisk / total;
            else
                shown = onDisk < scale ? onDisk : scale;
        }
        m_progress->SetSlotBytes(m_slot, shown);
    }

    const KrDownloadJob& m_job;
    const PartialInfo& m_previous;
    uint64_t m_offset;
    int m_slot;
    CKrTransferProgress* m_progress;
    CKrRateLimiter* m_limiter;
    const std::atomic<bool>& m_keepRunning;
    CKrFileWriter m_writer;
};

bool IsUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Moves a complete staged file into place, replacing what is there.
bool MoveIntoPlace(const std::string& from, const std::string& to)
{
    std::string dir = GetDirectoryPart(to);
    if (dir != to && !dir.empty())
        kr::os::MakeDirectories(dir);
    return kr::os::RenameFile(from, to);
}

} // namespace

const char* KrFetchOutcomeName(KrFetchOutcome outcome)
{
    switch (outcome)
    {
    case KrFetchOutcome::Done:
        return "done";
    case KrFetchOutcome::UpToDate:
        return "up to date";
    case KrFetchOutcome::Transient:
        return "transient";
    case KrFetchOutcome::NotFound:
        return "not found";
    case KrFetchOutcome::Refused:
        return "refused";
    case KrFetchOutcome::TooLarge:
        return "too large";
    case KrFetchOutcome::LocalFailure:
        return "local failure";
    case KrFetchOutcome::Cancelled:
        return "cancelled";
    case KrFetchOutcome::RangeIgnored:
        return "range ignored";
    case KrFetchOutcome::Mismatch:
        return "does not match the signed release";
    case KrFetchOutcome::Unlisted:
        return "not in the signed release";
    }
    return "?";
}

CKrDownloadServer::CKrDownloadServer() = default;

CKrDownloadServer::~CKrDownloadServer() = default;

void CKrDownloadServer::Configure(const std::string& server, const std::string& agent,
                                  kr::os::Transport* transport)
{
    m_server = server;
    while (!m_server.empty() && m_server.back() == '/')
        m_server.pop_back();
    m_agent = agent;
    m_transport = transport;
}

bool CKrDownloadServer::Connect(const std::string& probeName)
{
    if (!m_transport || !m_transport->Open(m_agent))
        return false;
    return Query(probeName, 0).outcome == KrFetchOutcome::Done || Query(probeName, 0).outcome == KrFetchOutcome::Done;
}

void CKrDownloadServer::Cancel()
{
    if (m_transport)
        m_transport->Cancel();
}

std::string CKrDownloadServer::EscapeRemoteName(const std::string& name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name)
    {
        if (c == '\\' || c == '/')
            out += '/';
        else if (IsUnreserved(c))
            out += static_cast<char>(c);
        else
        {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string CKrDownloadServer::MakeUrl(const std::string& name) const
{
    // The tick count keeps caches on the way from answering with an old copy.
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "?r=%d", static_cast<int>(kr::os::TickCountMs()));
    return "http://" + m_server + "/" + EscapeRemoteName(name) + suffix;
}

KrFetchOutcome CKrDownloadServer::Classify(int status)
{
    if (status == 200 || status == 206)
        return KrFetchOutcome::Done;
    if (status == 404 || status == 410)
        return KrFetchOutcome::NotFound;
    if (status == 0 || status == 408 || status == 429 || (status >= 500 && status <= 599))
        return KrFetchOutcome::Transient;
    return KrFetchOutcome::Refused;
}

void CKrDownloadServer::DiscardStaged(const std::string& stagedPath, const std::string& infoPath)
{
    kr::os::RemoveFile(stagedPath);
    kr::os::RemoveFile(infoPath);
}

kr::os::TransferConnection* CKrDownloadServer::Connection(int slot)
{
    if (!m_transport || slot < 0 || slot >= kSlots)
        return nullptr;
    std::unique_ptr<kr::os::TransferConnection>& connection = m_connections[slot];
    if (!connection)
        connection = m_transport->NewConnection();
    return connection.get();
}

void CKrDownloadServer::SetSlot(int slot, uint64_t bytes)
{
    if (m_progress)
        m_progress->SetSlotBytes(slot, bytes);
}

KrQueryResult CKrDownloadServer::Query(const std::string& name, int slot)
{
    KrQueryResult result;
    kr::os::TransferConnection* connection = Connection(slot);
    kr::os::RemoteFileInfo info;
    if (!connection || !connection->Query(MakeUrl(name), &info))
    {
        result.outcome = m_transport && m_transport->IsOpen() ? KrFetchOutcome::Transient : KrFetchOutcome::Cancelled;
        return result;
    }
    result.status = info.status;
    result.outcome = Classify(info.status);
    result.hasSize = info.hasContentLength;
    result.size = info.contentLength;
    result.hasLastWrite = info.hasLastModified;
    result.lastWrite = info.lastModified;
    if (result.outcome == KrFetchOutcome::Done && info.status != 200)
        result.outcome = KrFetchOutcome::Refused;
    return result;
}

KrDownloadResult CKrDownloadServer::Download(const KrDownloadJob& job, int slot, const std::atomic<bool>& keepRunning)
{
    SetSlot(slot, 0);
    // A partial file that does not fit is dropped and the transfer starts over at once, once.
    bool restart = false;
    KrDownloadResult result = Attempt(job, slot, keepRunning, &restart);
    if (restart)
    {
        DiscardStaged(job.stagedPath, job.infoPath);
        result = Attempt(job, slot, keepRunning, &restart);
        if (restart)
        {
            DiscardStaged(job.stagedPath, job.infoPath);
            result.outcome = KrFetchOutcome::Transient;
        }
    }
    if (result.outcome != KrFetchOutcome::Done)
        SetSlot(slot, 0);
    return result;
}

KrDownloadResult CKrDownloadServer::Attempt(const KrDownloadJob& job, int slot, const std::atomic<bool>& keepRunning,
                                            bool* restart)
{
    *restart = false;
    KrDownloadResult result;
    kr::os::TransferConnection* connection = Connection(slot);
    if (!connection)
    {
        result.outcome = KrFetchOutcome::Cancelled;
        return result;
    }

    // What is staged already, and whether it can be continued.
    PartialInfo previous;
    uint64_t staged = 0;
    bool haveStaged = kr::os::GetFileSize(job.stagedPath, &staged);
    const uint64_t limit = job.rangeLength > 0 ? job.rangeLength : UINT64_MAX;
    if (haveStaged && LoadInfo(job.infoPath, previous))
    {
        if (staged > previous.size || staged > limit ||
            (job.hasExpected && (previous.size != job.expectedSize ||
                                 (previous.lastModified != 0 && previous.lastModified != job.expectedLastWrite))))
            previous = PartialInfo();
    }
    else
        previous = PartialInfo();
    uint64_t offset = 0;
    kr::os::TransferRequest request;
    request.url = MakeUrl(job.remoteName);
    if (job.rangeLength > 0)
    {
        if (previous.valid && staged == job.rangeLength)
        {
            // This run's query confirmed the file the piece was cut from.
            result.outcome = KrFetchOutcome::Done;
            result.size = staged;
            return result;
        }
        if (previous.valid && staged > 0)
        {
            offset = staged;
            request.ifRange = previous.Validator();
        }
        else if (haveStaged)
            DiscardStaged(job.stagedPath, job.infoPath);
        request.offset = job.rangeOffset + offset;
        request.length = job.rangeLength - offset;
    }
    else if (previous.valid && staged > 0 && previous.size > 0)
    {
        // A complete file is confirmed with its last byte.
        offset = staged < previous.size ? staged : previous.size - 1;
        request.offset = offset;
        request.ifRange = previous.Validator();
    }
    else if (haveStaged)
        DiscardStaged(job.stagedPath, job.infoPath);
    result.resumedFrom = offset;

    StagedSink sink(job, previous, offset, slot, m_progress, m_limiter, keepRunning);
    kr::os::FetchResult fetched = connection->Fetch(request, sink, keepRunning);
    bool closed = sink.CloseFile();
    result.status = sink.answer.status;
    result.size = sink.total;
    result.hasLastModified = sink.answer.hasLastModified;
    result.lastModified = sink.answer.lastModified;
    result.received = sink.received;

    switch (fetched)
    {
    case kr::os::FetchResult::Cancelled:
        result.outcome = KrFetchOutcome::Cancelled;
        return result;
    case kr::os::FetchResult::Declined:
        if (sink.upToDate)
        {
            DiscardStaged(job.stagedPath, job.infoPath);
            result.outcome = KrFetchOutcome::UpToDate;
        }
        else if (sink.mismatch)
            *restart = true;
        else if (sink.rangeIgnored)
            result.outcome = KrFetchOutcome::RangeIgnored;
        else if (sink.tooLarge)
            result.outcome = KrFetchOutcome::TooLarge;
        else if (sink.missingHeaders)
            result.outcome = KrFetchOutcome::Refused;
        else if (sink.localFailure)
            result.outcome = KrFetchOutcome::LocalFailure;
        else
        {
            result.outcome = Classify(sink.answer.status);
            if (result.outcome == KrFetchOutcome::Done)
                result.outcome = KrFetchOutcome::Refused;
        }
        return result;
    case kr::os::FetchResult::Failed:
        // A cut transfer keeps its bytes for the next attempt (the sidecar says whether they can
        // be continued); a body that grew past its size cannot be trusted.
        if (sink.tooLarge)
        {
            DiscardStaged(job.stagedPath, job.infoPath);
            result.outcome = KrFetchOutcome::TooLarge;
        }
        else
            result.outcome = KrFetchOutcome::Transient;
        return result;
    case kr::os::FetchResult::Complete:
        break;
    }

    uint64_t size = 0;
    if (!closed || !kr::os::GetFileSize(job.stagedPath, &size) || (sink.hasTotal && size != sink.total))
    {
        // A full disk shows at the close; a short file is not the file.
        result.outcome = KrFetchOutcome::Transient;
        return result;
    }
    result.size = size;
    if (job.signedEntry && job.rangeLength == 0)
    {
        KrFileCheck check = CheckFile(job.stagedPath, *job.signedEntry, &keepRunning);
        if (check == KrFileCheck::Cancelled)
        {
            result.outcome = KrFetchOutcome::Cancelled;
            return result;
        }
        if (check != KrFileCheck::Match)
        {
            // Never resumed: the next attempt starts from a clean file.
            DiscardStaged(job.stagedPath, job.infoPath);
            result.outcome = KrFetchOutcome::Mismatch;
            return result;
        }
    }
    if (job.timeCheck)
    {
        uint64_t lastWrite = sink.answer.lastModified;
        if (!kr::os::SetFileTimes(job.stagedPath, nullptr, nullptr, &lastWrite))
        {
            result.outcome = KrFetchOutcome::LocalFailure;
            return result;
        }
    }
    if (!job.finalPath.empty())
    {
        if (!MoveIntoPlace(job.stagedPath, job.finalPath))
        {
            result.outcome = KrFetchOutcome::LocalFailure;
            return result;
        }
        kr::os::RemoveFile(job.infoPath);
    }
    result.outcome = KrFetchOutcome::Done;
    return result;
}
