#pragma once
// The engine's access to its download server over a transport (platform/download.h): the URL of a
// remote name, asking about one file, and fetching one file into the staging folder with resume.
//
// Resume: a download writes into its staged file and, as soon as the answer's header is in, a small
// sidecar with what validates the bytes (the complete size, Last-Modified as sent, the entity tag).
// A later attempt, in this run or after a restart, asks only for the missing bytes ("Range: bytes=N-"
// with "If-Range: <Last-Modified>"): a 206 whose Content-Range starts at N and names the same
// complete size continues the file; a 200 (a server that ignores Range, or a file that changed)
// replaces it from the first byte; a 416 or a 206 that does not fit drops the partial file and the
// transfer starts again from the first byte at once. A staged file that is already complete is
// confirmed with a one-byte range, so an unchanged file is never transferred twice.
#include "install/rate_limiter.h"
#include "install/release_manifest.h"
#include "platform/download.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Receives the byte count to show for the transfer running in a slot (0 control thread, 1..3
// workers); already scaled to the item's progress size and never above it.
class CKrTransferProgress
{
public:
    virtual ~CKrTransferProgress() = default;
    virtual void SetSlotBytes(int slot, uint64_t bytes) = 0;
};

// How a query or a download ended, as the engine's retry rules see it.
enum class KrFetchOutcome
{
    Done,         // the file is complete where it was asked for
    UpToDate,     // time check: the local file already has the server's size and time
    Transient,    // no answer, a cut or stalled transfer, 5xx, 408, 429, a full disk: try again later
    NotFound,     // 404 or 410: the server says the file does not exist
    Refused,      // any other answer (3xx, other 4xx), or a 200 without headers that are needed
    TooLarge,     // a size the engine cannot hold
    LocalFailure, // the local file could not be created or moved into place
    Cancelled,    // the engine is stopping
    RangeIgnored, // a piece of a file was asked for and the server answered with the whole file
    Mismatch,     // signed releases: the complete file differs from its manifest entry (dropped)
    Unlisted,     // signed releases: the manifest does not list the file, so it is never fetched
};
const char* KrFetchOutcomeName(KrFetchOutcome outcome);

struct KrQueryResult
{
    KrFetchOutcome outcome = KrFetchOutcome::Transient;
    int status = 0;
    bool hasSize = false;
    uint64_t size = 0;
    bool hasLastWrite = false;
    uint64_t lastWrite = 0;
};

struct KrDownloadJob
{
    std::string remoteName;
    std::string stagedPath; // the bytes arrive here
    std::string infoPath;   // the sidecar that validates them
    // Moved here once complete (directories created); empty: the file stays staged, with its
    // sidecar, until the caller is done with it.
    std::string finalPath;
    // The time check against finalPath: a local file with the server's size and DOS time
    // step is kept ("UpToDate", nothing transferred); a fetched file gets the server's time.
    bool timeCheck = false;
    // A validator already known from a query (packages): a staged partial file with another one is
    // dropped before anything is asked.
    bool hasExpected = false;
    uint64_t expectedSize = 0;
    uint64_t expectedLastWrite = 0;
    // Bytes counted for progress (the item's download size); 0 shows nothing.
    uint64_t progressSize = 0;
    // Larger files are refused as TooLarge.
    uint64_t maxSize = 0xFFFFFFFFull;
    // A piece of the file (rangeLength > 0, with the expected validator): bytes rangeOffset to
    // rangeOffset + rangeLength - 1 of it go to stagedPath, which then holds only them. A server
    // that answers with the whole file ends the attempt as RangeIgnored, nothing written.
    uint64_t rangeOffset = 0;
    uint64_t rangeLength = 0;
    // Signed releases: a complete file must match this entry before it is moved into place or
    // reported done; one that does not is dropped (Mismatch). Not owned; not for pieces.
    const KrManifestEntry* signedEntry = nullptr;
};

struct KrDownloadResult
{
    KrFetchOutcome outcome = KrFetchOutcome::Transient;
    int status = 0;
    uint64_t size = 0; // the complete size
    bool hasLastModified = false;
    uint64_t lastModified = 0;
    uint64_t resumedFrom = 0; // first byte asked for in the last request
    uint64_t received = 0;    // body bytes of this call
};

class CKrDownloadServer
{
public:
    static constexpr int kSlots = 4;

    CKrDownloadServer();
    ~CKrDownloadServer();
    CKrDownloadServer(const CKrDownloadServer&) = delete;
    CKrDownloadServer& operator=(const CKrDownloadServer&) = delete;

    // server: host with optional ":port" and path prefix, no scheme. The transport is not owned and
    // must outlive this object.
    void Configure(const std::string& server, const std::string& agent, kr::os::Transport* transport);
    void SetProgress(CKrTransferProgress* progress) { m_progress = progress; }
    // Every body byte waits on it; not owned, null for no limit.
    void SetRateLimiter(CKrRateLimiter* limiter) { m_limiter = limiter; }

    // Opens the session and asks for `probeName` (the file-list cache), twice if need be; true when
    // an answer was 200.
    bool Connect(const std::string& probeName);
    // From any thread: transfers in progress end soon, later ones fail until the next Connect.
    void Cancel();

    // A HEAD request in `slot`; status 200 is Done.
    KrQueryResult Query(const std::string& name, int slot);
    // Fetches one file as described above, in `slot`. A failure keeps the staged bytes and their
    // sidecar (when the answer had a validator) for the next attempt.
    KrDownloadResult Download(const KrDownloadJob& job, int slot, const std::atomic<bool>& keepRunning);

    // "http://" + server + "/" + name with "\\" as "/" and unsafe bytes escaped, + "?r=" + ticks.
    std::string MakeUrl(const std::string& name) const;
    static std::string EscapeRemoteName(const std::string& name);
    // Status codes as the retry rules see them (200 and 206 are Done).
    static KrFetchOutcome Classify(int status);

    // Drops a staged file and its sidecar.
    static void DiscardStaged(const std::string& stagedPath, const std::string& infoPath);

private:
    kr::os::TransferConnection* Connection(int slot);
    KrDownloadResult Attempt(const KrDownloadJob& job, int slot, const std::atomic<bool>& keepRunning,
                             bool* restart);
    void SetSlot(int slot, uint64_t bytes);

    std::string m_server;
    std::string m_agent;
    kr::os::Transport* m_transport = nullptr;
    CKrTransferProgress* m_progress = nullptr;
    CKrRateLimiter* m_limiter = nullptr;
    // One per slot, each used only by the slot's thread.
    std::unique_ptr<kr::os::TransferConnection> m_connections[kSlots];
};
