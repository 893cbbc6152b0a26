#include "LagProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace fw::bench {

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string bytes; // empty: the sender closed its side
    size_t written = 0;
};

// One direction of a connection: what was read from `from` and waits to be written to `to`.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    bool readEnded = false; // `from` said it sends no more
    bool done = false;      // that end was passed on
};

// Splits the client's bytes into TDS packets (8-byte header, its length in bytes 2-3 big-endian, bit 0 of byte 1
// the end of a message).
struct TdsFraming {
    unsigned char header[8] = {};
    int headerHave = 0;
    int bodyLeft = 0;
    bool lastOfMessage = false;
    bool broken = false;

    // The messages that end in `data`.
    int messagesIn(const char* data, size_t size)
    {
        int ended = 0;
        size_t i = 0;
        while (i < size && !broken) {
            if (headerHave < 8) {
                header[headerHave++] = static_cast<unsigned char>(data[i++]);
                if (headerHave < 8)
                    continue;
                const int length = (header[2] << 8) | header[3];
                if (length < 8) {
                    broken = true; // not TDS (or encrypted past the login): the turns still count
                    break;
                }
                bodyLeft = length - 8;
                lastOfMessage = (header[1] & 0x01) != 0;
            } else {
                const size_t take = std::min<size_t>(static_cast<size_t>(bodyLeft), size - i);
                bodyLeft -= static_cast<int>(take);
                i += take;
            }
            if (headerHave == 8 && bodyLeft == 0) {
                if (lastOfMessage)
                    ++ended;
                headerHave = 0;
            }
        }
        return ended;
    }
};

struct Connection {
    int client = -1;
    int server = -1;
    Direction up;   // client -> server
    Direction down; // server -> client
    TdsFraming framing;
    bool answered = true; // the server spoke since the client last did
    bool failed = false;

    ~Connection()
    {
        if (client >= 0)
            ::close(client);
        if (server >= 0)
            ::close(server);
    }
    bool finished() const { return failed || (up.done && down.done); }
};

void nonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

LagProxy::LagProxy(quint16 targetPort, std::chrono::milliseconds delay) : m_targetPort(targetPort), m_delayMs(delay.count()) {}

LagProxy::~LagProxy()
{
    stop();
}

quint16 LagProxy::start(QString* error)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe(m_wake) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return 0;
    }
    nonBlocking(m_listener);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { serve(); });
    return m_port;
}

void LagProxy::dropConnections()
{
    const char c = 'd';
    (void)!::write(m_wake[1], &c, 1);
}

void LagProxy::stop()
{
    if (m_thread.joinable()) {
        const char c = 'x';
        (void)!::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (int* fd : {&m_listener, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

LagProxy::Counts LagProxy::counts() const
{
    return {m_connections.load(), m_requests.load(), m_turns.load(), m_bytesUp.load(), m_bytesDown.load()};
}

void LagProxy::resetCounts()
{
    m_connections = 0;
    m_requests = 0;
    m_turns = 0;
    m_bytesUp = 0;
    m_bytesDown = 0;
}

void LagProxy::serve()
{
    std::list<Connection> connections;
    std::vector<char> buffer(1 << 16);
    std::vector<pollfd> fds;
    std::vector<std::pair<Connection*, Direction*>> owners; // of fds[2...]: the direction read from that fd
    for (;;) {
        const Clock::time_point now = Clock::now();
        fds.assign({{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}});
        owners.clear();
        int timeoutMs = -1;
        for (Connection& c : connections) {
            for (Direction* d : {&c.up, &c.down}) {
                if (!d->queue.empty() && d->queue.front().due > now) {
                    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(d->queue.front().due - now).count();
                    timeoutMs = timeoutMs < 0 ? static_cast<int>(wait) : std::min(timeoutMs, static_cast<int>(wait));
                }
                // An end already read is not watched (poll would report its hang-up again and again).
                fds.push_back({d->readEnded ? -1 : d->from, POLLIN, 0});
                owners.push_back({&c, d});
                if (!d->queue.empty() && d->queue.front().due <= now) { // due, but the receiver was full
                    fds.push_back({d->to, POLLOUT, 0});
                    owners.push_back({&c, nullptr});
                }
            }
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            char asked[16];
            const ssize_t n = ::read(m_wake[0], asked, sizeof asked);
            if (n <= 0 || std::memchr(asked, 'x', static_cast<size_t>(n)))
                return;
            connections.clear(); // dropped: their sockets close
            continue;
        }
        if (fds[1].revents & POLLIN) {
            for (int fd; (fd = ::accept(m_listener, nullptr, nullptr)) >= 0;) {
                const int server = m_refusing.load() ? -1 : connectTo(m_targetPort);
                if (server < 0) {
                    ::close(fd);
                    continue;
                }
                nonBlocking(fd);
                nonBlocking(server);
                Connection& c = connections.emplace_back();
                c.client = fd;
                c.server = server;
                c.up.from = c.down.to = fd;
                c.up.to = c.down.from = server;
                ++m_connections;
            }
        }
        const Clock::time_point arrived = Clock::now();
        const auto delay = std::chrono::milliseconds(m_delayMs.load());
        for (size_t i = 2; i < fds.size(); ++i) {
            auto [c, d] = owners[i - 2];
            if (!d || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)) || d->readEnded)
                continue;
            const ssize_t n = ::read(d->from, buffer.data(), buffer.size());
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            const bool up = d == &c->up;
            Clock::time_point due = arrived + delay;
            if (!d->queue.empty())
                due = std::max(due, d->queue.back().due);
            if (n <= 0) {
                d->readEnded = true;
                d->queue.push_back({due, {}, 0});
                continue;
            }
            if (up) {
                m_bytesUp += n;
                if (c->answered)
                    ++m_turns;
                c->answered = false;
                m_requests += c->framing.messagesIn(buffer.data(), static_cast<size_t>(n));
            } else {
                m_bytesDown += n;
                c->answered = true;
            }
            d->queue.push_back({due, std::string(buffer.data(), static_cast<size_t>(n)), 0});
        }
        // What is due is written, in order, as far as the receiving socket takes it.
        const Clock::time_point writeAt = Clock::now();
        for (Connection& c : connections) {
            for (Direction* d : {&c.up, &c.down}) {
                while (!c.failed && !d->queue.empty() && d->queue.front().due <= writeAt) {
                    Chunk& front = d->queue.front();
                    if (front.bytes.empty()) {
                        ::shutdown(d->to, SHUT_WR);
                        d->done = true;
                        d->queue.pop_front();
                        continue;
                    }
                    const ssize_t w = ::send(d->to, front.bytes.data() + front.written, front.bytes.size() - front.written,
                                             MSG_NOSIGNAL);
                    if (w < 0) {
                        if (errno != EAGAIN && errno != EINTR)
                            c.failed = true;
                        break;
                    }
                    front.written += static_cast<size_t>(w);
                    if (front.written < front.bytes.size())
                        break;
                    d->queue.pop_front();
                }
            }
        }
        connections.remove_if([](const Connection& c) { return c.finished(); });
    }
}

} // namespace fw::bench
