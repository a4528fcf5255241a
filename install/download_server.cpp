#include "install/download_server.h"

#include "install/file.h"
#include "install/path_utils.h"
#include "platform/files.h"
#include "platform/threads.h"

#include <cstdio>

namespace
{

class FileSink : public kr::os::DownloadSink
{
public:
    FileSink(const std::string& local, bool timeCheck, int slot, CKrTransferProgress* progress)
        : m_local(local), m_timeCheck(timeCheck), m_slot(slot), m_progress(progress)
    {
    }

    bool OnHeader(const kr::os::RemoteFileInfo& info) override
    {
        m_info = info;
        // Only a plain 200 is the file: redirects, "not modified" and errors all fail.
        if (info.status != 200)
            return false;
        if (m_timeCheck)
        {
            if (!info.hasLastModified || !info.hasContentLength)
                return false;
            kr::os::FileInfo local;
            if (kr::os::GetFileInfo(m_local, local) && !(local.attributes & kr::os::kAttrDirectory) &&
                local.size == info.contentLength && CompareDosTimes(local.lastWrite, info.lastModified) == 0)
            {
                upToDate = true;
                return false;
            }
        }
        // A directory that vanished since the last run must not block the download forever.
        std::string dir = GetDirectoryPart(m_local);
        if (dir != m_local && !dir.empty())
            kr::os::MakeDirectories(dir);
        if (!m_file.Open(m_local, "wb"))
            return false;
        return true;
    }

    bool OnData(const void* data, std::size_t size) override
    {
        if (m_file.Write(data, 1, static_cast<int>(size)) != static_cast<int>(size))
            return false;
        received += size;
        if (m_progress)
            m_progress->SetSlotBytes(m_slot, received);
        return true;
    }

    // Closing flushes; a disk that filled up shows here.
    bool CloseFile()
    {
        if (!m_file.IsOpen())
            return false;
        return m_file.Close() == 0;
    }

    const kr::os::RemoteFileInfo& Info() const { return m_info; }

    bool upToDate = false;
    uint64_t received = 0;

private:
    std::string m_local;
    bool m_timeCheck;
    int m_slot;
    CKrTransferProgress* m_progress;
    CKrFile m_file;
    kr::os::RemoteFileInfo m_info;
};

bool IsUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

CKrDownloadServer::CKrDownloadServer() = default;

CKrDownloadServer::~CKrDownloadServer()
{
    Disconnect();
}

void CKrDownloadServer::Configure(const std::string& server, const std::string& installDir,
                                  const std::string& agent)
{
    m_server = server;
    while (!m_server.empty() && m_server.back() == '/')
        m_server.pop_back();
    m_installDir = installDir;
    m_agent = agent;
}

bool CKrDownloadServer::Connect(const std::string& probeName)
{
    m_session.Close();
    if (!m_session.Open(m_agent))
        return false;
    return QueryRemoteFile(probeName, nullptr, nullptr) || QueryRemoteFile(probeName, nullptr, nullptr);
}

void CKrDownloadServer::Disconnect()
{
    m_session.Close();
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

kr::os::DownloadChannel& CKrDownloadServer::Channel(int slot)
{
    std::unique_ptr<kr::os::DownloadChannel>& channel = m_channels[slot];
    if (!channel)
        channel = std::make_unique<kr::os::DownloadChannel>(m_session);
    return *channel;
}

void CKrDownloadServer::SetSlot(int slot, uint64_t bytes)
{
    if (m_progress)
        m_progress->SetSlotBytes(slot, bytes);
}

bool CKrDownloadServer::QueryRemoteFile(const std::string& name, uint32_t* size, uint64_t* lastWrite,
                                        int slot)
{
    if (slot < 0 || slot >= kSlots)
        return false;
    kr::os::RemoteFileInfo info;
    if (!Channel(slot).Query(MakeUrl(name), &info) || info.status != 200)
        return false;
    if (lastWrite)
    {
        if (!info.hasLastModified)
            return false;
        *lastWrite = info.lastModified;
    }
    if (size)
    {
        if (!info.hasContentLength || info.contentLength > 0xFFFFFFFFull)
            return false;
        *size = static_cast<uint32_t>(info.contentLength);
    }
    return true;
}

bool CKrDownloadServer::DownloadFile(const std::string& name, const std::string& destDir, int slot,
                                     bool timeCheck, const std::atomic<bool>& keepRunning)
{
    if (slot < 0 || slot >= kSlots)
        return false;
    SetSlot(slot, 0);
    std::string local = (destDir.empty() ? m_installDir : destDir) + name;
    FileSink sink(local, timeCheck, slot, m_progress);
    kr::os::FetchResult result = Channel(slot).Fetch(MakeUrl(name), sink, keepRunning);
    bool closed = sink.CloseFile();
    if (result == kr::os::FetchResult::Declined && sink.upToDate)
        return true;
    if (result != kr::os::FetchResult::Complete || !closed)
    {
        SetSlot(slot, 0);
        return false;
    }
    if (timeCheck)
    {
        uint64_t lastWrite = sink.Info().lastModified;
        uint64_t size = 0;
        if (!kr::os::SetFileTimes(local, nullptr, nullptr, &lastWrite) ||
            !kr::os::GetFileSize(local, &size) || size != sink.Info().contentLength)
        {
            SetSlot(slot, 0);
            return false;
        }
    }
    return true;
}
