#include "tests/integration/engine/engine_servers.h"

#include "tests/support/servers.h"
#include "tests/support/test_env.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

namespace kr::test
{

bool NginxServer::Start(const std::string& root)
{
    const std::string dir = m_dir.Path();
    for (int attempt = 0; attempt < 5; ++attempt)
    {
        m_port = UnusedLoopbackPort();
        std::ostringstream conf;
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << dir << "nginx.pid;\nerror_log " << dir << "error.log;\n"
             << "events { worker_connections 256; }\n"
             << "http {\n"
             << "  log_format engine '$request_method $uri $status';\n"
             << "  access_log " << dir << "access.log engine;\n"
             << "  client_body_temp_path " << dir << "body;\n  proxy_temp_path " << dir << "proxy;\n"
             << "  fastcgi_temp_path " << dir << "fastcgi;\n  uwsgi_temp_path " << dir << "uwsgi;\n"
             << "  scgi_temp_path " << dir << "scgi;\n"
             << "  keepalive_requests 100000;\n  sendfile on;\n"
             << "  server {\n    listen 127.0.0.1:" << m_port << ";\n    root " << root << ";\n"
             << "    location / { }\n  }\n}\n";
        WriteWholeFile(dir + "nginx.conf", conf.str());
        if (!m_process.Spawn(
                {"/usr/sbin/nginx", "-e", dir + "error.log", "-p", dir, "-c", dir + "nginx.conf"}))
            return false;
        if (WaitForPort(m_port, 5000) && m_process.IsRunning())
            return true;
        m_process.Stop();
    }
    return false;
}

std::string NginxServer::Host() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> NginxServer::Requests() const
{
    // nginx logs a request after its last byte went out, so a client can be faster than the log. A
    // request of our own, once logged, shows that everything before it is in the log too.
    static std::atomic<unsigned> counter{0};
    const std::string sentinel = "/.kr-log-sync-" + std::to_string(counter++);
    RawHttpRequest(m_port, "GET", sentinel, "", nullptr);
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 500; ++attempt)
    {
        lines.clear();
        bool synced = false;
        std::istringstream in(ReadWholeFile(m_dir.Path() + "access.log"));
        for (std::string line; std::getline(in, line);)
        {
            if (line.find("/.kr-log-sync-") != std::string::npos)
                synced = synced || line.find(sentinel + " ") != std::string::npos;
            else
                lines.push_back(line);
        }
        if (synced)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
}

size_t NginxServer::CountRequests(const std::string& prefix) const
{
    size_t n = 0;
    for (const std::string& line : Requests())
        n += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
}

} // namespace kr::test
