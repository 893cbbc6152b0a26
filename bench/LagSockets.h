#pragma once
// The few socket calls the lag proxy makes, on each platform's own API: descriptors and poll on Linux, winsock's
// SOCKETs and WSAPoll on Windows. Every socket is non-blocking once made.
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <vector>

namespace fw::bench::net {

using Socket = qintptr;
constexpr Socket kNoSocket = -1;

// A listener on a free loopback port (`port` says which); kNoSocket when it cannot be made (`error` says why).
Socket listenOnLoopback(quint16* port, QString* error);
// A connection to 127.0.0.1:port, made before it returns; kNoSocket when refused.
Socket connectToLoopback(quint16 port);
// A connection waiting on the listener; kNoSocket when none is.
Socket acceptWaiting(Socket listener);
// Two connected sockets: what is sent on `out[1]` wakes a poll that watches `out[0]`.
bool makeWakePair(Socket out[2], QString* error);

// Bytes read (> 0), 0 at the end of what the peer sends, kWouldBlock when nothing is there yet, kFailed else.
constexpr long kWouldBlock = -1;
constexpr long kFailed = -2;
long receiveSome(Socket s, char* buffer, std::size_t size);
// Bytes sent (>= 0), kWouldBlock when the peer's buffer is full, kFailed else (never a signal).
long sendSome(Socket s, const char* data, std::size_t size);
void shutdownSending(Socket s);
void closeSocket(Socket s);

struct Watched {
    Socket socket = kNoSocket; // kNoSocket: not watched this time
    bool forReading = false;   // else for writing
    bool ready = false;        // set by waitForAny: readable (data, its end or an error) or writable
};
// Waits until one watched socket is ready or `timeoutMs` passed (-1: no limit); false when the wait failed.
bool waitForAny(std::vector<Watched>& watched, int timeoutMs);

} // namespace fw::bench::net
