#include "tests/support/servers.h"

#include "tests/support/test_env.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <thread>

extern char** environ;

namespace kr::test {
namespace {

int ConnectLoopback(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

int Run(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool ChildProcess::Spawn(const std::vector<std::string>& argv, bool quietStdout)
{
    Stop();
    std::vector<std::string> words = argv;
    std::vector<char*> args;
    for (std::string& w : words)
        args.push_back(w.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quietStdout)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    m_pid = pid;
    return true;
}

bool ChildProcess::IsRunning()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
    {
        m_pid = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i)
    {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
        {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

void ChildProcess::Kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

bool WaitForPort(int port, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline)
    {
        int fd = ConnectLoopback(port);
        if (fd >= 0)
        {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

DevServer::~DevServer()
{
    Stop();
}

bool DevServer::Start(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"--lifetime", "300"};
    all.insert(all.end(), args.begin(), args.end());
    return StartScript(SourceDir() + "tools/devservers/" + script, all);
}

bool DevServer::StartScript(const std::string& scriptPath, const std::vector<std::string>& args)
{
    if (m_process.IsRunning())
        return false;
    const std::string portFile = m_dir.Path() + "port";
    std::vector<std::string> words = {"python3", scriptPath, "--port-file", portFile, "--parent-pid",
                                      std::to_string(::getpid())};
    words.insert(words.end(), args.begin(), args.end());
    if (!m_process.Spawn(words, true))
        return false;

    // The server writes its port once it listens.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline)
    {
        std::string text = ReadWholeFile(portFile);
        if (!text.empty())
        {
            m_port = std::atoi(text.c_str());
            return m_port > 0;
        }
        if (!m_process.IsRunning())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
}

std::string DevServer::Url(const std::string& schemeAndHost) const
{
    return schemeAndHost + ":" + std::to_string(m_port);
}

std::string RecordedRequest::Header(const std::string& name) const
{
    for (const auto& h : headers)
        if (h.first == name)
            return h.second;
    return "<absent>";
}

std::vector<RecordedRequest> DevServer::Requests() const
{
    rapidjson::Document doc;
    doc.Parse(Admin("requests").c_str());
    std::vector<RecordedRequest> out;
    if (!doc.IsArray())
        return out;
    for (const auto& r : doc.GetArray())
    {
        RecordedRequest rec{r["method"].GetString(), r["path"].GetString(), {}, r["body"].GetString()};
        for (const auto& h : r["headers"].GetArray())
            rec.headers.emplace_back(h[0].GetString(), h[1].GetString());
        out.push_back(std::move(rec));
    }
    return out;
}

std::string DevServer::Admin(const std::string& call, const std::string& json) const
{
    std::string answer;
    int status = RawHttpRequest(m_port, "POST", "/_admin/" + call, json, &answer);
    return status == 200 ? answer : std::string();
}

bool OddServer::Start(const std::string& root, int rate)
{
    m_args = {"--root", root, "--rate", std::to_string(rate)};
    return m_server.StartScript(SourceDir() + "tests/support/odd_server.py", m_args) &&
           WaitForPort(m_server.Port(), 5000);
}

bool OddServer::Restart()
{
    int port = m_server.Port();
    m_server.Stop();
    std::vector<std::string> args = m_args;
    args.insert(args.end(), {"--port", std::to_string(port)});
    // The old port file still names the same port, so readiness is the port answering.
    return m_server.StartScript(SourceDir() + "tests/support/odd_server.py", args) && WaitForPort(port, 5000);
}

std::string OddServer::Host() const
{
    return "127.0.0.1:" + std::to_string(m_server.Port());
}

bool OddServer::Script(const std::vector<std::string>& faults, const std::string& answer)
{
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    writer.StartObject();
    writer.Key("faults");
    writer.StartArray();
    for (const std::string& fault : faults)
        writer.String(fault.c_str());
    writer.EndArray();
    writer.Key("answer");
    writer.String(answer.c_str());
    writer.EndObject();
    return !m_server.Admin("script", text.GetString()).empty();
}

OddServer::Log OddServer::ReadLog() const
{
    Log log;
    rapidjson::Document doc;
    doc.Parse(m_server.Admin("log").c_str());
    if (!doc.IsObject() || !doc.HasMember("accepted"))
        return log;
    log.posts = doc["posts"].GetInt();
    log.faultsLeft = doc["faults_left"].GetInt();
    for (const auto& body : doc["accepted"].GetArray())
        log.accepted.emplace_back(body.GetString(), body.GetStringLength());
    log.bytesSent = doc["bytes_sent"].GetInt64();
    for (const auto& r : doc["requests"].GetArray())
    {
        FileRequest request;
        request.method = r[0].GetString();
        request.path = r[1].GetString();
        request.status = r[2].GetInt();
        request.rangeStart = r[3].GetInt64();
        request.bytes = r[4].GetInt64();
        log.requests.push_back(request);
    }
    return log;
}

size_t OddServer::Log::Count(const std::string& method, const std::string& path, int status) const
{
    size_t n = 0;
    for (const FileRequest& r : requests)
        n += r.method == method && r.path == path && (status < 0 || r.status == status) ? 1 : 0;
    return n;
}

bool OddServer::FileFaults(const std::vector<std::pair<std::string, std::vector<std::string>>>& faults)
{
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    writer.StartObject();
    writer.Key("faults");
    writer.StartObject();
    for (const auto& entry : faults)
    {
        writer.Key(entry.first.c_str());
        writer.StartArray();
        for (const std::string& fault : entry.second)
            writer.String(fault.c_str());
        writer.EndArray();
    }
    writer.EndObject();
    writer.EndObject();
    return !m_server.Admin("files", text.GetString()).empty();
}

bool OddServer::CutFresh(double share)
{
    return !m_server.Admin("mode", "{\"cut_fresh\": " + std::to_string(share) + "}").empty();
}

bool OddServer::ResetLog()
{
    return !m_server.Admin("reset_log").empty();
}

int RawHttpRequest(int port, const std::string& method, const std::string& path, const std::string& body,
                   std::string* answer)
{
    int fd = ConnectLoopback(port);
    if (fd < 0)
        return 0;
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                          "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body;
    std::string reply;
    if (SendAll(fd, request))
    {
        char buffer[16384];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t split = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos)
        return 0;
    if (answer)
        *answer = reply.substr(split + 4);
    return std::atoi(reply.c_str() + 9);
}

int UnusedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool MakeTestPki(const std::string& dir, TestPki& pki)
{
    pki.caCert = dir + "ca.pem";
    pki.serverCert = dir + "server.pem";
    pki.serverKey = dir + "server.key";
    pki.rogueCert = dir + "rogue.pem";
    pki.rogueKey = dir + "rogue.key";
    const std::string quiet = " >/dev/null 2>&1";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    WriteWholeFile(dir + "server.ext", "subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n");
    return Run("openssl req -x509" + ec + " -keyout '" + dir + "ca.key' -out '" + pki.caCert +
               "' -days 2 -subj /CN=KrTestCA" + quiet) == 0 &&
           Run("openssl req" + ec + " -keyout '" + pki.serverKey + "' -out '" + dir + "server.csr' -subj /CN=localhost" +
               quiet) == 0 &&
           Run("openssl x509 -req -in '" + dir + "server.csr' -CA '" + pki.caCert + "' -CAkey '" + dir +
               "ca.key' -CAcreateserial -days 2 -extfile '" + dir + "server.ext' -out '" + pki.serverCert + "'" +
               quiet) == 0 &&
           Run("openssl req -x509" + ec + " -keyout '" + pki.rogueKey + "' -out '" + pki.rogueCert +
               "' -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost" + quiet) == 0;
}

} // namespace kr::test
