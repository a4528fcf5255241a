#pragma once
#include "tests/support/temp_dir.h"

#include <string>
#include <utility>
#include <vector>

namespace kr::test {

// A child program, ended (SIGTERM, then SIGKILL) when stopped or destroyed. POSIX only.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is looked up in PATH; with quietStdout the child's standard output goes to /dev/null.
    bool Spawn(const std::vector<std::string>& argv, bool quietStdout = false);
    bool IsRunning();
    void Stop();
    // Ends the child at once (SIGKILL), as a crash would; no chance to clean up.
    void Kill();

private:
    int m_pid = -1;
};

// True once something accepts connections on the loopback port.
bool WaitForPort(int port, int timeoutMs);

// One request as a development server recorded it.
struct RecordedRequest
{
    std::string method;
    std::string path; // with its query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // Value of the first header of that name, or "<absent>".
    std::string Header(const std::string& name) const;
};

// A development server of tools/devservers (Python 3) run for a test: started on a free loopback
// port, ended at destruction; it also ends by itself if the test process dies. POSIX only.
class DevServer
{
public:
    DevServer() = default;
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Starts `script` (a file name in tools/devservers) with `args` and waits until it listens.
    bool Start(const std::string& script, const std::vector<std::string>& args = {});
    // Starts any Python server script that takes --port-file and --parent-pid.
    bool StartScript(const std::string& scriptPath, const std::vector<std::string>& args);
    void Stop() { m_process.Stop(); }

    int Port() const { return m_port; }
    // "http://127.0.0.1:<port>" (or the scheme and host given).
    std::string Url(const std::string& schemeAndHost = "http://127.0.0.1") const;
    // POSTs `json` to /_admin/<call> and returns the answer body, "" when the call failed.
    std::string Admin(const std::string& call, const std::string& json = "{}") const;
    // Every request recorded so far, oldest first.
    std::vector<RecordedRequest> Requests() const;

private:
    ChildProcess m_process;
    int m_port = 0;
    TempDir m_dir;
};

// tests/support/odd_server.py: a server that misbehaves on purpose (see the script for its modes).
// It serves files below a root for GET and answers POSTs by a fault script; it can be stopped and
// started again on the same port, as a download server that goes away and comes back.
class OddServer
{
public:
    // `rate` > 0 paces plain file answers to that many bytes per second.
    bool Start(const std::string& root = ".", int rate = 0);
    void Stop() { m_server.Stop(); }
    // Starts it again on the port it had.
    bool Restart();
    int Port() const { return m_server.Port(); }
    // "127.0.0.1:<port>", the engine's form of a server.
    std::string Host() const;
    std::string Url() const { return m_server.Url(); }
    // The faults for the next POSTs, in order, and the answer text of every POST.
    bool Script(const std::vector<std::string>& faults, const std::string& answer);
    struct FileRequest
    {
        std::string method;
        std::string path; // below the root, without the mode prefix
        int status = 0;   // 0: closed without an answer
        long long rangeStart = -1;
        long long bytes = 0;
    };
    struct Log
    {
        int posts = -1;
        std::vector<std::string> accepted; // bodies of POSTs that got the whole answer
        int faultsLeft = -1;
        long long bytesSent = 0; // body bytes of file answers
        std::vector<FileRequest> requests;
        size_t Count(const std::string& method, const std::string& path, int status = -1) const;
    };
    Log ReadLog() const;
    // File faults (see odd_server.py): per path, the faults its next requests meet, in order.
    bool FileFaults(const std::vector<std::pair<std::string, std::vector<std::string>>>& faults);
    // Cuts every transfer that starts at a file's first byte after `share` of it (0: off).
    bool CutFresh(double share);
    bool ResetLog();

private:
    DevServer m_server;
    std::vector<std::string> m_args;
};

// One HTTP/1.1 exchange over a plain loopback socket, independent of the code under test.
// Returns the status code (0 on failure) and stores the answer body.
int RawHttpRequest(int port, const std::string& method, const std::string& path, const std::string& body,
                   std::string* answer);

// A loopback port on which nothing listens (bound once, then released).
int UnusedLoopbackPort();

// A throwaway certificate authority and two certificates for "localhost": one issued by that CA
// and one self-signed, made with the openssl command line tool into `dir`.
struct TestPki
{
    std::string caCert;
    std::string serverCert;
    std::string serverKey;
    std::string rogueCert;
    std::string rogueKey;
};
bool MakeTestPki(const std::string& dir, TestPki& pki);

} // namespace kr::test
