#include "LagProxy.h"

#include "LagSockets.h"

#include <algorithm>
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

using net::kNoSocket;
using net::Socket;

// One direction of a connection: what was read from `from` and waits to be written to `to`.
struct Direction {
    Socket from = kNoSocket;
    Socket to = kNoSocket;
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
    Socket client = kNoSocket;
    Socket server = kNoSocket;
    Direction up;   // client -> server
    Direction down; // server -> client
    TdsFraming framing;
    bool answered = true; // the server spoke since the client last did
    bool failed = false;

    ~Connection()
    {
        net::closeSocket(client);
        net::closeSocket(server);
    }
    bool finished() const { return failed || (up.done && down.done); }
};

} // namespace

LagProxy::LagProxy(quint16 targetPort, std::chrono::milliseconds delay) : m_targetPort(targetPort), m_delayMs(delay.count()) {}

LagProxy::~LagProxy()
{
    stop();
}

quint16 LagProxy::start(QString* error)
{
    quint16 port = 0;
    m_listener = net::listenOnLoopback(&port, error);
    if (m_listener == kNoSocket || !net::makeWakePair(m_wake, error)) {
        stop();
        return 0;
    }
    m_port = port;
    m_thread = std::thread([this] { serve(); });
    return m_port;
}

void LagProxy::dropConnections()
{
    const char c = 'd';
    (void)net::sendSome(m_wake[1], &c, 1);
}

void LagProxy::stop()
{
    if (m_thread.joinable()) {
        const char c = 'x';
        (void)net::sendSome(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (Socket* s : {&m_listener, &m_wake[0], &m_wake[1]}) {
        net::closeSocket(*s);
        *s = kNoSocket;
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
    std::vector<net::Watched> watched;
    std::vector<std::pair<Connection*, Direction*>> owners; // of watched[2...]: the direction read from that socket
    for (;;) {
        const Clock::time_point now = Clock::now();
        watched.assign({{m_wake[0], true}, {m_listener, true}});
        owners.clear();
        int timeoutMs = -1;
        for (Connection& c : connections) {
            for (Direction* d : {&c.up, &c.down}) {
                if (!d->queue.empty() && d->queue.front().due > now) {
                    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(d->queue.front().due - now).count();
                    timeoutMs = timeoutMs < 0 ? static_cast<int>(wait) : std::min(timeoutMs, static_cast<int>(wait));
                }
                // An end already read is not watched (it would be reported ready again and again).
                watched.push_back({d->readEnded ? kNoSocket : d->from, true});
                owners.push_back({&c, d});
                if (!d->queue.empty() && d->queue.front().due <= now) { // due, but the receiver was full
                    watched.push_back({d->to, false});
                    owners.push_back({&c, nullptr});
                }
            }
        }
        if (!net::waitForAny(watched, timeoutMs))
            return;
        if (watched[0].ready) {
            char asked[16];
            const long n = net::receiveSome(m_wake[0], asked, sizeof asked);
            if (n == net::kWouldBlock)
                continue;
            if (n <= 0 || std::memchr(asked, 'x', static_cast<size_t>(n)))
                return;
            connections.clear(); // dropped: their sockets close
            continue;
        }
        if (watched[1].ready) {
            for (Socket client; (client = net::acceptWaiting(m_listener)) != kNoSocket;) {
                const Socket server = m_refusing.load() ? kNoSocket : net::connectToLoopback(m_targetPort);
                if (server == kNoSocket) {
                    net::closeSocket(client);
                    continue;
                }
                Connection& c = connections.emplace_back();
                c.client = client;
                c.server = server;
                c.up.from = c.down.to = client;
                c.up.to = c.down.from = server;
                ++m_connections;
            }
        }
        const Clock::time_point arrived = Clock::now();
        const auto delay = std::chrono::milliseconds(m_delayMs.load());
        for (size_t i = 2; i < watched.size(); ++i) {
            auto [c, d] = owners[i - 2];
            if (!d || !watched[i].ready || d->readEnded)
                continue;
            const long n = net::receiveSome(d->from, buffer.data(), buffer.size());
            if (n == net::kWouldBlock)
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
                        net::shutdownSending(d->to);
                        d->done = true;
                        d->queue.pop_front();
                        continue;
                    }
                    const long w = net::sendSome(d->to, front.bytes.data() + front.written, front.bytes.size() - front.written);
                    if (w < 0) {
                        if (w == net::kFailed)
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
