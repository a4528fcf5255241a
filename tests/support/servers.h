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
