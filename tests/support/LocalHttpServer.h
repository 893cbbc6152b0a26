#pragma once
#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>
#include <optional>

class QTcpServer;

namespace fw::test {

// A small HTTP/1.0 server on 127.0.0.1 with a thread of its own, so that the code under test may block its
// caller's thread (or run in another process) while the server answers.
class LocalHttpServer {
public:
    struct Route {
        int status = 200;
        QByteArray body;
        int delayMs = 0;         // wait before answering
        bool silent = false;     // accept the request and never answer
        bool withLength = true;  // send Content-Length (false: the body ends when the connection closes)
        int dripIntervalMs = 0;  // >0: after the headers, one byte of the body per interval
        QByteArray extraHeaders; // e.g. "Location: /x\r\n"
    };

    LocalHttpServer();
    ~LocalHttpServer();

    void setRoute(const QString& path, const Route& route);
    bool start();
    // http://127.0.0.1:PORT
    QString base() const;
    int requests(const QString& path) const;
    QByteArray lastUserAgent() const;

    // Used by the server thread.
    std::optional<Route> route(const QString& path) const;
    void noteRequest(const QString& path, const QByteArray& userAgent);

private:
    QThread m_thread;
    QObject* m_worker = nullptr;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QHash<QString, Route> m_routes;
    QHash<QString, int> m_requests;
    QByteArray m_userAgent;
};

// A port on 127.0.0.1 where nothing listens.
quint16 closedLoopbackPort();

} // namespace fw::test
