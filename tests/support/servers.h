#pragma once
#include "tests/support/temp_dir.h"

#include <string>
#include <vector>

namespace kr::test {

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
    void Stop();

    int Port() const { return m_port; }
    // "http://127.0.0.1:<port>" (or the scheme and host given).
    std::string Url(const std::string& schemeAndHost = "http://127.0.0.1") const;
    // POSTs `json` to /_admin/<call> and returns the answer body, "" when the call failed.
    std::string Admin(const std::string& call, const std::string& json = "{}") const;

private:
    int m_pid = -1;
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
