#pragma once
// nginx serving a release directory for the engine's integration tests, on loopback only; it stops
// at destruction. The misbehaving server (OddServer) lives in tests/support.
#include "tests/support/servers.h"
#include "tests/support/temp_dir.h"

#include <string>
#include <vector>

namespace kr::test
{

class NginxServer
{
public:
    // Serves `root` on a free loopback port.
    bool Start(const std::string& root);
    void Stop() { m_process.Stop(); }
    int Port() const { return m_port; }
    // "127.0.0.1:<port>", the engine's form of a server.
    std::string Host() const;
    // One "METHOD /uri STATUS" line per request so far (query strings removed).
    std::vector<std::string> Requests() const;
    // Requests whose line begins with `prefix` (for example "GET /Data/").
    size_t CountRequests(const std::string& prefix) const;

private:
    TempDir m_dir;
    ChildProcess m_process;
    int m_port = 0;
};

} // namespace kr::test
