// kr-netpath: a TCP relay on loopback that behaves like an internet path, for benchmarks.
//
//   kr-netpath --to HOST:PORT [--listen PORT] [--rtt-ms MS] [--conn-mbit M] [--line-mbit M]
//
// Every byte is delayed by half the round trip in each direction, a new connection pays one round
// trip for its handshake, each connection is capped at --conn-mbit and all connections together
// share --line-mbit per direction (0 = no cap). Prints "listening PORT" once ready; on SIGINT or
// SIGTERM prints the bytes relayed and ends.

#include "tools/netpath/line_pacer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <list>
#include <string>
#include <vector>

namespace
{
constexpr size_t kReadSize = 64 * 1024;
// Above the bandwidth-delay product of one connection, so the cap, not the queue, limits it.
constexpr size_t kQueueCap = 512 * 1024;
constexpr uint64_t kSendQuantum = 16 * 1024;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int64_t NowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

uint64_t MbitToBytes(double mbit) { return static_cast<uint64_t>(mbit * 1e6 / 8); }
// A burst of about 10 ms of traffic: a late wake-up on a busy machine then costs no throughput.
uint64_t BurstOf(uint64_t rate) { return std::max<uint64_t>(rate / 100, 64 * 1024); }

struct Pipe
{
    Pipe(int64_t delayUs, uint64_t rate) : line(delayUs), bucket(rate, BurstOf(rate)) {}
    CKrDelayLine line;
    CKrTokenBucket bucket;
    bool eof = false;      // the sending side closed its half
    bool shutDown = false; // and everything queued went out
    bool blocked = false;  // the receiving socket is full
};

struct Connection
{
    Connection(int c, int s, int64_t delayUs, uint64_t rate, int64_t handshakeDone)
        : client(c), server(s), down(delayUs, rate), up(delayUs, rate), handshakeDoneUs(handshakeDone)
    {
    }
    int client;
    int server;
    Pipe down; // server -> client
    Pipe up;   // client -> server
    int64_t handshakeDoneUs;
    bool dead = false;
};

struct Options
{
    std::string toHost = "127.0.0.1";
    int toPort = 0;
    int listenPort = 0;
    double rttMs = 40;
    double connMbit = 48;
    double lineMbit = 200;
};

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* v = argv[++i];
        if (a == "--to")
        {
            const std::string hp = v;
            const size_t colon = hp.rfind(':');
            if (colon == std::string::npos)
                return false;
            o.toHost = hp.substr(0, colon);
            o.toPort = std::atoi(hp.c_str() + colon + 1);
        }
        else if (a == "--listen")
            o.listenPort = std::atoi(v);
        else if (a == "--rtt-ms")
            o.rttMs = std::atof(v);
        else if (a == "--conn-mbit")
            o.connMbit = std::atof(v);
        else if (a == "--line-mbit")
            o.lineMbit = std::atof(v);
        else
            return false;
    }
    return o.toPort > 0 && o.toPort < 65536 && o.rttMs >= 0 && o.connMbit >= 0 && o.lineMbit >= 0;
}

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int ConnectUpstream(const Options& o)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(o.toPort));
    if (fd < 0 || inet_pton(AF_INET, o.toHost.c_str(), &addr.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    SetNonBlocking(fd);
    return fd;
}

class Relay
{
public:
    explicit Relay(const Options& o)
        : m_o(o), m_delayUs(static_cast<int64_t>(o.rttMs * 500)),
          m_lineDown(MbitToBytes(o.lineMbit), BurstOf(MbitToBytes(o.lineMbit))),
          m_lineUp(MbitToBytes(o.lineMbit), BurstOf(MbitToBytes(o.lineMbit)))
    {
    }

    bool Listen()
    {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(m_o.listenPort));
        socklen_t len = sizeof addr;
        if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(m_listen, 128) != 0 || getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return false;
        SetNonBlocking(m_listen);
        std::printf("listening %d\n", ntohs(addr.sin_port));
        std::fflush(stdout);
        return true;
    }

    void Run()
    {
        std::vector<pollfd> fds;
        std::vector<Connection*> owners;
        while (!g_stop)
        {
            const int64_t now = NowUs();
            int64_t wakeUs = now + 1000000;
            for (Connection& c : m_connections)
            {
                Flush(c.down, c.client, m_lineDown, now, wakeUs, c.dead);
                Flush(c.up, c.server, m_lineUp, now, wakeUs, c.dead);
            }
            m_connections.remove_if([](const Connection& c) {
                const bool done = c.dead || (c.down.shutDown && c.up.shutDown);
                if (done)
                {
                    close(c.client);
                    close(c.server);
                }
                return done;
            });

            fds.assign(1, pollfd{m_listen, POLLIN, 0});
            owners.assign(1, nullptr);
            for (Connection& c : m_connections)
            {
                AddPoll(fds, owners, c, c.client, c.up, c.down);
                AddPoll(fds, owners, c, c.server, c.down, c.up);
            }
            const int64_t waitUs = std::max<int64_t>(wakeUs - now, 0);
            timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
            if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
                return;
            const int64_t after = NowUs();
            if (fds[0].revents & POLLIN)
                Accept(after);
            for (size_t i = 1; i < fds.size(); ++i)
            {
                Connection& c = *owners[i];
                const bool isClient = fds[i].fd == c.client;
                Pipe& in = isClient ? c.up : c.down;
                Pipe& out = isClient ? c.down : c.up;
                if (fds[i].revents & POLLOUT)
                    out.blocked = false;
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                    Read(c, fds[i].fd, in, isClient ? std::max(after, c.handshakeDoneUs) : after);
            }
        }
    }

    void PrintTotals() const
    {
        std::fprintf(stderr, "kr-netpath: %llu bytes down, %llu bytes up, %llu connections\n",
                     static_cast<unsigned long long>(m_bytesDown), static_cast<unsigned long long>(m_bytesUp),
                     static_cast<unsigned long long>(m_accepted));
    }

private:
    void AddPoll(std::vector<pollfd>& fds, std::vector<Connection*>& owners, Connection& c, int fd, Pipe& in,
                 Pipe& out)
    {
        short events = 0;
        if (!in.eof && in.line.Queued() < kQueueCap)
            events |= POLLIN;
        if (out.blocked)
            events |= POLLOUT;
        if (events == 0)
            return;
        fds.push_back(pollfd{fd, events, 0});
        owners.push_back(&c);
    }

    void Accept(int64_t now)
    {
        for (;;)
        {
            const int client = accept(m_listen, nullptr, nullptr);
            if (client < 0)
                return;
            const int server = ConnectUpstream(m_o);
            if (server < 0)
            {
                close(client);
                continue;
            }
            SetNonBlocking(client);
            ++m_accepted;
            m_connections.emplace_back(client, server, m_delayUs, MbitToBytes(m_o.connMbit), now + 2 * m_delayUs);
        }
    }

    void Read(Connection& c, int fd, Pipe& in, int64_t arrivalUs)
    {
        char buffer[kReadSize];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            in.line.Push(arrivalUs, buffer, static_cast<size_t>(n));
        else if (n == 0)
            in.eof = true;
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            c.dead = true;
    }

    void Flush(Pipe& p, int to, CKrTokenBucket& line, int64_t now, int64_t& wakeUs, bool& dead)
    {
        while (!p.blocked && !dead)
        {
            const int64_t ready = p.line.NextReadyUs();
            if (ready < 0)
                break;
            if (ready > now)
            {
                wakeUs = std::min(wakeUs, ready);
                break;
            }
            const uint64_t allowed = std::min({p.bucket.Available(now), line.Available(now), kSendQuantum});
            if (allowed == 0)
            {
                wakeUs = std::min(wakeUs, now + std::max(p.bucket.WaitUs(now, kSendQuantum),
                                                         line.WaitUs(now, kSendQuantum)));
                break;
            }
            const char* data = nullptr;
            const size_t n = p.line.Ready(now, &data, static_cast<size_t>(allowed));
            const ssize_t sent = send(to, data, n, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (sent < 0)
            {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    p.blocked = true;
                else if (errno != EINTR)
                    dead = true;
                break;
            }
            p.bucket.Consume(static_cast<uint64_t>(sent));
            line.Consume(static_cast<uint64_t>(sent));
            p.line.Pop(static_cast<size_t>(sent));
            (&line == &m_lineDown ? m_bytesDown : m_bytesUp) += static_cast<uint64_t>(sent);
        }
        if (p.eof && !p.shutDown && p.line.Queued() == 0)
        {
            shutdown(to, SHUT_WR);
            p.shutDown = true;
        }
    }

    Options m_o;
    int64_t m_delayUs;
    CKrTokenBucket m_lineDown;
    CKrTokenBucket m_lineUp;
    int m_listen = -1;
    std::list<Connection> m_connections;
    uint64_t m_bytesDown = 0;
    uint64_t m_bytesUp = 0;
    uint64_t m_accepted = 0;
};
} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
    {
        std::fprintf(stderr, "usage: kr-netpath --to HOST:PORT [--listen PORT] [--rtt-ms MS] [--conn-mbit M] "
                             "[--line-mbit M]\n");
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    Relay relay(options);
    if (!relay.Listen())
    {
        std::perror("kr-netpath: listen");
        return 1;
    }
    relay.Run();
    relay.PrintTotals();
    return 0;
}
