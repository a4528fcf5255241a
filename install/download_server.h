#pragma once
// The engine's access to its download server: the URL of a remote name, asking about one file,
// and fetching one file into the installation directory.
#include "platform/download.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// Receives the byte count of the transfer running in a slot (0 control thread, 1..3 workers).
class CKrTransferProgress
{
public:
    virtual ~CKrTransferProgress() = default;
    virtual void SetSlotBytes(int slot, uint64_t bytes) = 0;
};

class CKrDownloadServer
{
public:
    static constexpr int kSlots = 4;

    CKrDownloadServer();
    virtual ~CKrDownloadServer();
    CKrDownloadServer(const CKrDownloadServer&) = delete;
    CKrDownloadServer& operator=(const CKrDownloadServer&) = delete;

    // server: host with optional ":port" and path prefix, no scheme. installDir ends in a separator.
    void Configure(const std::string& server, const std::string& installDir, const std::string& agent);
    void SetProgress(CKrTransferProgress* progress) { m_progress = progress; }

    // Opens a fresh session and asks for `probeName` (the file-list cache), twice if need be.
    bool Connect(const std::string& probeName);
    // Ends the session: transfers in progress fail, later ones too until the next Connect.
    void Disconnect();

    // Status must be 200; each output that is asked for must be in the answer.
    bool QueryRemoteFile(const std::string& name, uint32_t* size, uint64_t* lastWrite, int slot = 0);
    // Fetches `name` into destDir (installDir when empty) + name. With timeCheck a local file of
    // the server's size and DOS time step is kept as it is, and a fetched file gets the server's
    // time. A successful transfer leaves its byte count in the slot; the caller moves it to its
    // done bytes (CKrTransferProgress), so progress never steps back. A failure clears the slot.
    bool DownloadFile(const std::string& name, const std::string& destDir, int slot, bool timeCheck,
                      const std::atomic<bool>& keepRunning);

    // "http://" + server + "/" + name with "\\" as "/" and unsafe bytes escaped, + "?r=" + ticks.
    std::string MakeUrl(const std::string& name) const;
    static std::string EscapeRemoteName(const std::string& name);

private:
    kr::os::DownloadChannel& Channel(int slot);
    void SetSlot(int slot, uint64_t bytes);

    std::string m_server;
    std::string m_installDir;
    std::string m_agent;
    CKrTransferProgress* m_progress = nullptr;
    kr::os::DownloadSession m_session;
    std::unique_ptr<kr::os::DownloadChannel> m_channels[kSlots];
};
