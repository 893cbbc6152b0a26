#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>
#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace fw {

class ServerLog;

// What one client may hold of the server, so that no client can exhaust it.
struct HttpLimits {
    qsizetype maxHeaderBytes = 8192;               // request line and headers; beyond: 431
    int maxConnections = 64;                       // beyond: refused at once
    std::chrono::milliseconds headerTimeout{5000}; // from a request's first byte to its blank line
    std::chrono::milliseconds idleTimeout{10000};  // between requests on a kept-alive connection
    std::chrono::milliseconds writeTimeout{10000}; // an answer the client does not take
    int maxAuthChecks = 8;                         // passwords being checked at once; beyond: 429
};

struct HttpRequest {
    QByteArray method;
    QByteArray path; // without the query
    QByteArray authorization;
    bool hasBody = false;     // announced, and left unread
    bool acceptsGzip = false; // Accept-Encoding takes gzip
    // X-Prometheus-Scrape-Timeout-Seconds, when it holds a time above zero.
    std::optional<std::chrono::milliseconds> scrapeTimeout;
};

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// One client connection: reads requests within the limits, hands each complete one to the handler and
// writes the answers in the order the requests came. A protocol fault is answered (400, 413, 431, 505)
// and the connection closed. Nothing more is read while an answer is pending. A TLS socket is given before
// its handshake: the server's side starts when the client's first byte is a TLS one.
class HttpConnection : public QObject {
public:
    // Called for each request; the answer comes later through respond().
    using Handler = std::function<void(HttpConnection*, const HttpRequest&)>;

    HttpConnection(QTcpSocket* socket, quint64 id, const HttpLimits& limits, Handler handler,
                   std::function<void(HttpConnection*)> closed, QObject* parent);

    quint64 id() const { return m_id; }
    bool answering() const { return m_state == State::Answering; }
    // No request of it is being answered or written out: idle, still sending one, or in its TLS handshake.
    bool waitingForRequest() const { return m_state == State::Reading; }
    void respond(int status, const QByteArray& contentType, const QByteArray& body, const HttpHeaders& extra = {});
    // The answer in progress is the last one; an idle connection closes now.
    void closeAfterAnswer();
    // Drops the connection at once, whatever it was doing.
    void abortNow();
    // Told the status of each answer as it is sent.
    void setAnswerCounter(std::function<void(int status)> answered) { m_answered = std::move(answered); }
    // Where each answer, each time-out and each failed TLS handshake is told (at debug).
    void setLog(std::shared_ptr<const ServerLog> log);
    // The client's address and port as the log shows it: 127.0.0.1:50000 or [::1]:50000.
    QString peer() const;

private:
    enum class State { Reading, Answering, Closing };

    void readMore();
    void processBuffer();
    void fail(int status);
    void close();
    void armTimer(std::chrono::milliseconds ms);
    void timedOut();
    void logAnswer(int status, qsizetype bytes, const HttpHeaders& extra) const;

    QTcpSocket* m_socket;
    quint64 m_id;
    HttpLimits m_limits;
    Handler m_handler;
    std::function<void(HttpConnection*)> m_closed;
    std::function<void(int)> m_answered;
    std::shared_ptr<const ServerLog> m_log;
    QByteArray m_requestLine; // method and path of the request being answered, for the log
    QElapsedTimer m_since;    // since the request came
    QTimer m_timer;
    State m_state = State::Reading;
    bool m_requestStarted = false;
    bool m_head = false;
    bool m_keepAlive = true;
    bool m_lastAnswer = false;
    bool m_gone = false;
    bool m_holding = false; // the request's last byte is left in the socket while it is answered
};

// Whether an Accept-Encoding value (several joined by commas) takes gzip: named, as x-gzip or left to "*",
// with a weight (q) above 0.
bool acceptsGzip(const QByteArray& acceptEncoding);
// The time an X-Prometheus-Scrape-Timeout-Seconds value gives: seconds above zero (at most a day); none for
// anything else.
std::optional<std::chrono::milliseconds> scrapeTimeoutOf(const QByteArray& value);

const char* httpReason(int status);
// Now, as the Date header gives it: "Tue, 08 Dec 2026 10:00:00 GMT".
QByteArray httpDate();

} // namespace fw
