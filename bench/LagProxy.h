#pragma once
// A loopback TCP proxy that holds back what passes it, in each direction, for a fixed time: a database server "in
// another building" for the benchmarks. It counts what a remote server would cost a program: the connections it
// opened (each a login) and the requests it sent, each of which waits for an answer (a round trip).
#include "LagSockets.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace fw::bench {

class LagProxy {
public:
    struct Counts {
        int connections = 0; // accepted: one per login
        int requests = 0;    // TDS messages from the client (a packet with its end-of-message bit), each a round trip
        int turns = 0;       // times the client spoke again after an answer: round trips whatever the protocol
        qint64 bytesUp = 0;
        qint64 bytesDown = 0;
    };

    // Forwards to 127.0.0.1:targetPort, holding each direction back by `delay`.
    LagProxy(quint16 targetPort, std::chrono::milliseconds delay);
    ~LagProxy();
    LagProxy(const LagProxy&) = delete;
    LagProxy& operator=(const LagProxy&) = delete;

    // Listens on a free loopback port and serves on a thread of its own; 0 when it cannot (`error` says why).
    quint16 start(QString* error);
    void stop();
    quint16 port() const { return m_port; }

    // Changes the delay of what is read from now on.
    void setDelay(std::chrono::milliseconds delay) { m_delayMs.store(delay.count()); }
    // Closes every connection passing through, as a server or a network that drops them does.
    void dropConnections();
    // While on, a connection is closed as soon as it comes: the server cannot be reached.
    void setRefusing(bool on) { m_refusing.store(on); }
    Counts counts() const;
    void resetCounts();

private:
    void serve();

    quint16 m_targetPort;
    quint16 m_port = 0;
    std::atomic<qint64> m_delayMs;
    std::atomic<bool> m_refusing{false};
    net::Socket m_listener = net::kNoSocket;
    net::Socket m_wake[2] = {net::kNoSocket, net::kNoSocket};
    std::thread m_thread;
    std::atomic<int> m_connections{0};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_turns{0};
    std::atomic<qint64> m_bytesUp{0};
    std::atomic<qint64> m_bytesDown{0};
};

} // namespace fw::bench
