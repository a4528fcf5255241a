#pragma once
// A scripted download server inside the test process and a clock the test sets: the engine's retry,
// resume, back-off and requeue paths run deterministically and without a socket.
//
// FakeTransport serves files from memory under their remote paths ("Data.cch", "Data/a.bin.zip"),
// honours Range and If-Range like nginx (unless told to ignore them), and takes scripted faults per
// path or for every request: a status, a transfer cut after some bytes, a stall that lasts until the
// engine cancels, a hold the test releases, or an exception. It records every request with the
// clock's time.
#include "install/engine_clock.h"
#include "platform/download.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <vector>

namespace kr::test
{

// Every file below `dir` (which ends in a separator), by its "/"-separated path relative to it, with its
// last write time.
std::map<std::string, uint64_t> FilesBelow(const std::string& dir);

// Manual: time moves only when the test advances it, and Sleep waits (in real time) until the
// clock has reached its end. Automatic: every Sleep moves the time on by its length at once.
class FakeClock : public CKrEngineClock
{
public:
    explicit FakeClock(bool automatic = false) : m_automatic(automatic) {}
    uint64_t NowMs() override { return m_now.load(std::memory_order_acquire); }
    bool Sleep(uint32_t ms, const std::atomic<bool>& running) override;
    void Advance(uint64_t ms) { m_now.fetch_add(ms, std::memory_order_acq_rel); }
    void Set(uint64_t ms) { m_now.store(ms, std::memory_order_release); }
    // Threads waiting in Sleep for a time still to come, and the earliest such time: a driver that
    // moves the time on only when every engine thread waits, and only to the next wake-up, measures
    // the engine's waits, not how fast the machine runs them.
    int Waiting();
    uint64_t NextWake();

private:
    bool m_automatic;
    std::mutex m_wakeMutex;
    std::multiset<uint64_t> m_wakes;
    std::atomic<uint64_t> m_now{1000000};
};

struct FakeFault
{
    enum Kind
    {
        Status,      // answers `status` (with a short body)
        Cut,         // the header promises the whole body, `bytes` arrive, the connection drops
        IgnoreRange, // a request with Range gets 200 and the whole file
        Stall,       // the header, then nothing until the transfer is cancelled
        Hold,        // nothing until the test calls Release(path) (or the transfer is cancelled)
        Throw,       // the transport throws std::runtime_error
        NoAnswer,    // no answer at all (a refused connection)
        NoLength,    // 200 without Content-Length
    };
    Kind kind = Status;
    int status = 503;
    uint64_t bytes = 0;

    static FakeFault WithStatus(int code) { return FakeFault{Status, code, 0}; }
    static FakeFault CutAfter(uint64_t n) { return FakeFault{Cut, 0, n}; }
    static FakeFault Of(Kind k) { return FakeFault{k, 0, 0}; }
};

class FakeTransport : public kr::os::Transport
{
public:
    struct Request
    {
        uint64_t atMs = 0;
        std::string method; // "HEAD" or "GET"
        std::string path;   // remote path without the query, "/" separated, unescaped
        uint64_t offset = 0;
        bool ranged = false;
        std::string ifRange;
        int status = 0;     // 0: no answer
        uint64_t bytes = 0; // body bytes handed to the engine
    };

    explicit FakeTransport(CKrEngineClock* clock = nullptr) : m_clock(clock) {}

    // FILETIME of the file's Last-Modified; 0 gives a fixed time.
    void AddFile(const std::string& path, const std::string& content, uint64_t lastModified = 0);
    // Every file below `dir` ("/" separated paths relative to it), with its time.
    void AddDirectory(const std::string& dir);
    void RemoveFile(const std::string& path);
    bool HasFile(const std::string& path);
    // The next `times` requests for `path` meet `fault` (GET and HEAD alike unless getOnly).
    void Fault(const std::string& path, const FakeFault& fault, int times = 1, bool getOnly = false);
    // Every request meets `fault` from now on (FakeFault::Status with 0 clears it).
    void FaultAll(const FakeFault& fault);
    void ClearFaults();
    void Release(const std::string& path);
    // Bodies go out in pieces of this size (default 64 KiB).
    void SetPieceSize(size_t size) { m_pieceSize = size; }
    // A real pause after every piece, so that a poller sees transfers under way.
    void SetPiecePauseUs(int us) { m_piecePauseUs = us; }
    // Answers carry no Last-Modified (nothing can validate a range then).
    void SetNoValidators(bool on) { m_noValidators = on; }
    // Every GET that starts at a file's first byte is cut after `share` of it (0: off): only a
    // client that resumes ever gets a whole file.
    void SetCutFresh(double share) { m_cutFresh = share; }
    // HEAD answers for `path` announce this Content-Length instead of the real one.
    void SetAnnouncedSize(const std::string& path, uint64_t size);

    std::vector<Request> Requests();
    size_t Count(const std::string& method, const std::string& path);
    size_t CountPrefix(const std::string& method, const std::string& prefix);
    uint64_t BytesServed();
    // Times (ms) of the GET requests for `path`.
    std::vector<uint64_t> GetTimes(const std::string& path);
    bool WaitForRequest(const std::string& method, const std::string& path, int timeoutMs);

    // kr::os::Transport
    bool Open(const std::string& agent) override;
    void Cancel() override;
    bool IsOpen() const override { return m_open.load(std::memory_order_acquire); }
    std::unique_ptr<kr::os::TransferConnection> NewConnection() override;

    // What the connections call.
    bool Serve(const std::string& method, const kr::os::TransferRequest& request, kr::os::RemoteFileInfo* header,
               kr::os::DownloadSink* sink, const std::atomic<bool>* keepRunning, kr::os::FetchResult* result);

    static std::string HttpDate(uint64_t fileTime);

private:
    struct File
    {
        std::string content;
        uint64_t lastModified = 0;
    };
    struct ScriptedFault
    {
        FakeFault fault;
        bool getOnly = false;
    };
    bool TakeFault(const std::string& method, const std::string& path, FakeFault* fault);
    size_t Record(const Request& request);
    void Update(size_t index, int status, uint64_t bytes);
    bool WaitWhile(const std::string& path, bool hold, const std::atomic<bool>* keepRunning);

    CKrEngineClock* m_clock;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, File> m_files;
    std::map<std::string, std::deque<ScriptedFault>> m_faults;
    bool m_faultAll = false;
    FakeFault m_allFault;
    std::map<std::string, bool> m_released;
    std::vector<Request> m_requests;
    std::atomic<bool> m_open{false};
    size_t m_pieceSize = 64 * 1024;
    std::atomic<int> m_piecePauseUs{0};
    bool m_noValidators = false;
    std::atomic<double> m_cutFresh{0.0};
    std::map<std::string, uint64_t> m_announced;
};

} // namespace kr::test
