#pragma once
// Local servers for the engine's integration tests: nginx serving a release directory, and a small
// Python server that misbehaves on purpose. Both listen on loopback only and stop at destruction.
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

class OddServer
{
public:
    bool Start(const std::string& root);
    int Port() const { return m_server.Port(); }
    std::string Host() const;

private:
    DevServer m_server;
};

} // namespace kr::test
