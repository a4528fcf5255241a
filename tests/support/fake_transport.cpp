#include "tests/support/fake_transport.h"

#include "install/path_utils.h"
#include "platform/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace kr::test
{

namespace
{

constexpr uint64_t kDefaultTime = 132500000000000000ull; // 2020-11-13

std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '%' && i + 2 < text.size())
        {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
        else
            out += text[i];
    }
    return out;
}

// "http://host[:port][/prefix]/path?query" -> "path" below the host (the prefix included).
std::string PathOf(const std::string& url)
{
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t slash = url.find('/', start);
    if (slash == std::string::npos)
        return std::string();
    size_t query = url.find('?', slash);
    return Unescape(url.substr(slash + 1, query == std::string::npos ? std::string::npos : query - slash - 1));
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(kr::os::NativePath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FakeConnection : public kr::os::TransferConnection
{
public:
    explicit FakeConnection(FakeTransport& transport) : m_transport(transport) {}

    bool Query(const std::string& url, kr::os::RemoteFileInfo* info) override
    {
        kr::os::TransferRequest request;
        request.url = url;
        kr::os::RemoteFileInfo header;
        kr::os::FetchResult result = kr::os::FetchResult::Complete;
        if (!m_transport.Serve("HEAD", request, &header, nullptr, nullptr, &result))
            return false;
        if (info)
            *info = header;
        return true;
    }

    kr::os::FetchResult Fetch(const kr::os::TransferRequest& request, kr::os::DownloadSink& sink,
                              const std::atomic<bool>& keepRunning) override
    {
        if (!keepRunning.load())
            return kr::os::FetchResult::Cancelled;
        kr::os::RemoteFileInfo header;
        kr::os::FetchResult result = kr::os::FetchResult::Failed;
        m_transport.Serve("GET", request, &header, &sink, &keepRunning, &result);
        return result;
    }

private:
    FakeTransport& m_transport;
};

} // namespace

std::map<std::string, uint64_t> FilesBelow(const std::string& dir)
{
    std::map<std::string, uint64_t> files;
    std::vector<std::string> pending{""};
    while (!pending.empty())
    {
        std::string relative = pending.back();
        pending.pop_back();
        std::vector<kr::os::FileInfo> entries;
        kr::os::ListDirectory(dir + relative, entries);
        for (const kr::os::FileInfo& entry : entries)
        {
            if (entry.name == "." || entry.name == "..")
                continue;
            if (entry.attributes & kr::os::kAttrDirectory)
                pending.push_back(relative + entry.name + "/");
            else
                files[relative + entry.name] = entry.lastWrite;
        }
    }
    return files;
}

bool FakeClock::Sleep(uint32_t ms, const std::atomic<bool>& running)
{
    if (m_automatic)
    {
        if (running.load())
            m_now.fetch_add(ms);
        // A short real pause keeps the engine's threads from spinning.
        std::this_thread::sleep_for(std::chrono::microseconds(ms ? 200 : 20));
        return running.load();
    }
    uint64_t end = NowMs() + ms;
    std::multiset<uint64_t>::iterator wake;
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        wake = m_wakes.insert(end);
    }
    while (running.load() && NowMs() < end)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_wakes.erase(wake);
    }
    return running.load();
}

int FakeClock::Waiting()
{
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    uint64_t now = NowMs();
    return static_cast<int>(std::distance(m_wakes.upper_bound(now), m_wakes.end()));
}

uint64_t FakeClock::NextWake()
{
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    auto next = m_wakes.upper_bound(NowMs());
    return next == m_wakes.end() ? 0 : *next;
}

std::string FakeTransport::HttpDate(uint64_t fileTime)
{
    static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int64_t seconds = FileTimeToUnixTime(fileTime);
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    // Civil date from days since 1970-01-01.
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned day = doy - (153 * mp + 2) / 5 + 1;
    unsigned month = mp < 10 ? mp + 3 : mp - 9;
    int64_t year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT", kDays[days % 7], day, kMonths[month - 1],
                  static_cast<int>(year), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

void FakeTransport::AddFile(const std::string& path, const std::string& content, uint64_t lastModified)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // HTTP dates carry whole seconds.
    uint64_t time = lastModified ? lastModified : kDefaultTime;
    m_files[path] = File{content, time - time % 10000000ull};
}

void FakeTransport::AddDirectory(const std::string& dir)
{
    std::string root = dir;
    if (!root.empty() && root.back() != '/')
        root += '/';
    for (const auto& file : FilesBelow(root))
        AddFile(file.first, ReadAll(root + file.first), file.second);
}

void FakeTransport::SetAnnouncedSize(const std::string& path, uint64_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announced[path] = size;
}

void FakeTransport::RemoveFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.erase(path);
}

bool FakeTransport::HasFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files.count(path) != 0;
}

void FakeTransport::Fault(const std::string& path, const FakeFault& fault, int times, bool getOnly)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < times; ++i)
        m_faults[path].push_back(ScriptedFault{fault, getOnly});
    // A new hold holds until it is let go again, whatever an earlier Release said.
    if (fault.kind == FakeFault::Hold)
        m_released[path] = false;
}

void FakeTransport::FaultAll(const FakeFault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faultAll = !(fault.kind == FakeFault::Status && fault.status == 0);
    m_allFault = fault;
}

void FakeTransport::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
    m_faultAll = false;
}

void FakeTransport::Release(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released[path] = true;
    m_changed.notify_all();
}

std::vector<FakeTransport::Request> FakeTransport::Requests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

size_t FakeTransport::Count(const std::string& method, const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(), [&](const Request& r) {
        return r.method == method && r.path == path;
    }));
}

size_t FakeTransport::CountPrefix(const std::string& method, const std::string& prefix)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(), [&](const Request& r) {
        return r.method == method && r.path.compare(0, prefix.size(), prefix) == 0;
    }));
}

uint64_t FakeTransport::BytesServed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t total = 0;
    for (const Request& r : m_requests)
        total += r.bytes;
    return total;
}

std::vector<uint64_t> FakeTransport::GetTimes(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint64_t> times;
    for (const Request& r : m_requests)
        if (r.method == "GET" && r.path == path)
            times.push_back(r.atMs);
    return times;
}

bool FakeTransport::WaitForRequest(const std::string& method, const std::string& path, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (Count(method, path) > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

bool FakeTransport::Open(const std::string&)
{
    m_open.store(true);
    return true;
}

void FakeTransport::Cancel()
{
    m_open.store(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
}

std::unique_ptr<kr::os::TransferConnection> FakeTransport::NewConnection()
{
    return std::make_unique<FakeConnection>(*this);
}

bool FakeTransport::TakeFault(const std::string& method, const std::string& path, FakeFault* fault)
{
    if (m_faultAll)
    {
        *fault = m_allFault;
        return true;
    }
    auto found = m_faults.find(path);
    if (found == m_faults.end())
        return false;
    std::deque<ScriptedFault>& queue = found->second;
    for (auto it = queue.begin(); it != queue.end(); ++it)
    {
        if (it->getOnly && method != "GET")
            continue;
        *fault = it->fault;
        queue.erase(it);
        return true;
    }
    return false;
}

size_t FakeTransport::Record(const Request& request)
{
    m_requests.push_back(request);
    return m_requests.size() - 1;
}

void FakeTransport::Update(size_t index, int status, uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests[index].status = status;
    m_requests[index].bytes += bytes;
}

bool FakeTransport::WaitWhile(const std::string& path, bool hold, const std::atomic<bool>* keepRunning)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        if (!m_open.load() || (keepRunning && !keepRunning->load()))
            return false;
        if (hold && m_released[path])
            return true;
        m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
}

bool FakeTransport::Serve(const std::string& method, const kr::os::TransferRequest& request,
                          kr::os::RemoteFileInfo* header, kr::os::DownloadSink* sink,
                          const std::atomic<bool>* keepRunning, kr::os::FetchResult* result)
{
    *result = kr::os::FetchResult::Failed;
    if (!m_open.load())
        return false;
    Request record;
    record.atMs = m_clock ? m_clock->NowMs() : 0;
    record.method = method;
    record.path = PathOf(request.url);
    record.offset = request.offset;
    record.ranged = request.offset > 0 || request.length > 0;
    record.ifRange = request.ifRange;
    FakeFault fault;
    bool faulted = false;
    File file;
    bool exists = false;
    size_t index = 0;
    uint64_t announced = 0;
    bool hasAnnounced = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        index = Record(record);
        faulted = TakeFault(method, record.path, &fault);
        auto found = m_files.find(record.path);
        exists = found != m_files.end();
        if (exists)
            file = found->second;
        auto size = m_announced.find(record.path);
        if (size != m_announced.end() && method == "HEAD")
        {
            hasAnnounced = true;
            announced = size->second;
        }
    }
    if (faulted && fault.kind == FakeFault::Throw)
        throw std::runtime_error("fake transport: scripted exception");
    if (faulted && fault.kind == FakeFault::NoAnswer)
        return false;
    if (faulted && fault.kind == FakeFault::Hold && !WaitWhile(record.path, true, keepRunning))
    {
        *result = kr::os::FetchResult::Cancelled;
        return false;
    }

    kr::os::RemoteFileInfo& info = *header;
    info = kr::os::RemoteFileInfo();
    std::string body;
    if (faulted && fault.kind == FakeFault::Status)
    {
        info.status = fault.status;
        body = "fault\n";
        info.hasContentLength = true;
        info.contentLength = body.size();
    }
    else if (!exists)
    {
        info.status = 404;
        body = "missing\n";
        info.hasContentLength = true;
        info.contentLength = body.size();
    }
    else
    {
        if (!m_noValidators)
        {
            info.hasLastModified = true;
            info.lastModified = file.lastModified;
            info.lastModifiedText = HttpDate(file.lastModified);
        }
        uint64_t size = file.content.size();
        bool validatorMatches = request.ifRange.empty() || request.ifRange == info.lastModifiedText;
        bool useRange = record.ranged && validatorMatches && !(faulted && fault.kind == FakeFault::IgnoreRange);
        if (useRange && request.offset >= size)
        {
            info.status = 416;
            info.hasContentRange = true;
            info.hasCompleteLength = true;
            info.completeLength = size;
            body = "";
            info.hasContentLength = true;
            info.contentLength = 0;
        }
        else if (useRange)
        {
            uint64_t last = request.length ? std::min(size, request.offset + request.length) - 1 : size - 1;
            info.status = 206;
            info.hasContentRange = true;
            info.rangeFirst = request.offset;
            info.rangeLast = last;
            info.hasCompleteLength = true;
            info.completeLength = size;
            body = file.content.substr(request.offset, last - request.offset + 1);
            info.hasContentLength = true;
            info.contentLength = body.size();
        }
        else
        {
            info.status = 200;
            body = file.content;
            info.hasContentLength = !(faulted && fault.kind == FakeFault::NoLength);
            info.contentLength = hasAnnounced ? announced : body.size();
            if (!record.ranged && m_cutFresh.load() > 0 && method == "GET" && !faulted)
            {
                faulted = true;
                fault = FakeFault::CutAfter(static_cast<uint64_t>(static_cast<double>(body.size()) * m_cutFresh.load()));
            }
        }
    }
    Update(index, info.status, 0);
    if (!sink)
    {
        *result = kr::os::FetchResult::Complete;
        return true;
    }
    if (!sink->OnHeader(info))
    {
        *result = kr::os::FetchResult::Declined;
        return true;
    }
    if (faulted && fault.kind == FakeFault::Stall)
    {
        WaitWhile(record.path, false, keepRunning);
        *result = kr::os::FetchResult::Cancelled;
        return true;
    }
    uint64_t limit = faulted && fault.kind == FakeFault::Cut ? std::min<uint64_t>(fault.bytes, body.size()) : body.size();
    for (uint64_t sent = 0; sent < limit;)
    {
        if ((keepRunning && !keepRunning->load()) || !m_open.load())
        {
            *result = kr::os::FetchResult::Cancelled;
            return true;
        }
        size_t piece = static_cast<size_t>(std::min<uint64_t>(m_pieceSize, limit - sent));
        if (!sink->OnData(body.data() + sent, piece))
        {
            *result = kr::os::FetchResult::Failed;
            return true;
        }
        Update(index, info.status, piece);
        sent += piece;
        if (m_piecePauseUs.load() > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(m_piecePauseUs.load()));
    }
    *result = limit < body.size() ? kr::os::FetchResult::Failed : kr::os::FetchResult::Complete;
    return true;
}

} // namespace kr::test
