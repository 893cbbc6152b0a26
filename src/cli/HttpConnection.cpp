#include "cli/HttpConnection.h"

#include "cli/ServerLog.h"

#include <QDateTime>
#include <QHostAddress>
#include <QLocale>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

namespace fw {
namespace {

// Answers queued for a client that does not read them: beyond this, no further request is taken.
constexpr qint64 kMaxWriteBacklog = 256 * 1024;
// The first byte of a TLS connection: its ClientHello comes in a handshake record.
constexpr char kTlsHandshakeRecord = 0x16;

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (!isTokenChar(c))
            return false;
    return true;
}

// The end of the header block (just past its blank line), or -1 when it has not all come yet.
qsizetype headerEnd(const QByteArray& in)
{
    const qsizetype lf = in.indexOf("\n\n");
    const qsizetype crlf = in.indexOf("\n\r\n");
    if (lf < 0 && crlf < 0)
        return -1;
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 3;
    return lf + 2;
}

struct Parsed {
    int status = 0; // 0: a request to answer; otherwise the fault to answer with
    HttpRequest request;
    bool keepAlive = true;
};

Parsed parseHead(const QByteArray& head)
{
    Parsed p;
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const QList<QByteArray> start = lines.isEmpty() ? QList<QByteArray>{} : lines.first().split(' ');
    if (start.size() != 3 || !isToken(start[0]) || start[1].isEmpty()) {
        p.status = 400;
        return p;
    }
    const QByteArray& version = start[2];
    if (version == "HTTP/1.0") {
        p.keepAlive = false; // a 1.0 client gets one answer and the close it waits for
    } else if (version != "HTTP/1.1") {
        const bool other = version.size() == 8 && version.startsWith("HTTP/") && std::isdigit(version[5]) && version[6] == '.' &&
                           std::isdigit(version[7]);
        p.status = other ? 505 : 400;
        return p;
    }
    p.request.method = start[0];
    QByteArray target = start[1];
    for (const char* scheme : {"http://", "https://"}) {
        if (target.startsWith(scheme)) { // absolute form: only the path counts
            const qsizetype slash = target.indexOf('/', qsizetype(qstrlen(scheme)));
            target = slash < 0 ? QByteArray("/") : target.mid(slash);
        }
    }
    const qsizetype query = target.indexOf('?');
    p.request.path = query < 0 ? target : target.left(query);

    std::optional<qint64> length;
    QByteArray acceptEncoding;
    bool timeoutSeen = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon))) { // also a folded line or a blank name
            p.status = 400;
            return p;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || n < 0 || value.startsWith('+') || (length && *length != n)) {
                p.status = value.size() > 18 && std::all_of(value.begin(), value.end(), ::isdigit) ? 413 : 400;
                return p;
            }
            length = n;
        } else if (name == "transfer-encoding") {
            p.request.hasBody = true;
        } else if (name == "connection") {
            for (const QByteArray& option : value.split(','))
                if (option.trimmed().toLower() == "close")
                    p.keepAlive = false;
        } else if (name == "authorization" && p.request.authorization.isEmpty()) {
            p.request.authorization = value;
        } else if (name == "accept-encoding") { // several are one list
            acceptEncoding += (acceptEncoding.isEmpty() ? "" : ",") + value;
        } else if (name == "x-prometheus-scrape-timeout-seconds" && !timeoutSeen) {
            timeoutSeen = true;
            p.request.scrapeTimeout = scrapeTimeoutOf(value);
        }
    }
    p.request.acceptsGzip = acceptsGzip(acceptEncoding);
    if (length && *length > 0)
        p.request.hasBody = true;
    if (p.request.hasBody) {
        if (p.request.method == "GET" || p.request.method == "HEAD")
            p.status = 413;
        p.keepAlive = false; // the body is never read, so nothing after it can be
    }
    return p;
}

} // namespace

bool acceptsGzip(const QByteArray& acceptEncoding)
{
    std::optional<double> gzip, any;
    for (const QByteArray& item : acceptEncoding.split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts.first().trimmed().toLower();
        double weight = 1;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray param = parts[i].trimmed();
            if (param.size() > 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
                bool ok = false;
                weight = param.mid(2).toDouble(&ok);
                if (!ok || !(weight >= 0 && weight <= 1))
                    weight = 0; // a weight that cannot be read takes nothing
            }
        }
        if (coding == "gzip" || coding == "x-gzip")
            gzip = std::max(gzip.value_or(0), weight);
        else if (coding == "*")
            any = std::max(any.value_or(0), weight);
    }
    return gzip ? *gzip > 0 : any && *any > 0;
}

std::optional<std::chrono::milliseconds> scrapeTimeoutOf(const QByteArray& value)
{
    bool ok = false;
    const double seconds = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0)
        return std::nullopt;
    const auto ms = std::chrono::milliseconds(std::llround(std::min(seconds, 86400.0) * 1000));
    return ms.count() > 0 ? std::optional(ms) : std::nullopt;
}

QByteArray httpDate()
{
    // The same text for a whole second: formatted once a second, not once an answer.
    thread_local qint64 second = -1;
    thread_local QByteArray text;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second) {
        second = now;
        text = QLocale::c()
                   .toString(QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                   .toLatin1();
    }
    return text;
}

const char* httpReason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    }
    return "Error";
}

HttpConnection::HttpConnection(QTcpSocket* socket, quint64 id, const HttpLimits& limits, Handler handler,
                               std::function<void(HttpConnection*)> closed, QObject* parent)
    : QObject(parent), m_socket(socket), m_id(id), m_limits(limits), m_handler(std::move(handler)), m_closed(std::move(closed))
{
    m_socket->setParent(this);
    // Unread bytes stay with the kernel (and the client) rather than here.
    m_socket->setReadBufferSize(m_limits.maxHeaderBytes + 1);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::timedOut);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readMore);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::readMore);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::abortNow);
    if (auto* ssl = qobject_cast<QSslSocket*>(m_socket))
        connect(ssl, &QSslSocket::errorOccurred, this, [this, ssl] {
            if (m_log && m_log->wants(LogLevel::Debug) && !ssl->isEncrypted() && ssl->mode() != QSslSocket::UnencryptedMode)
                m_log->debug(peer() + QStringLiteral(" TLS handshake failed: ") + ssl->errorString());
        });
    // The first request, TLS handshake included, must come within the header time.
    m_requestStarted = true;
    armTimer(m_limits.headerTimeout);
}

void HttpConnection::armTimer(std::chrono::milliseconds ms)
{
    m_timer.start(ms);
}

void HttpConnection::setLog(std::shared_ptr<const ServerLog> log)
{
    m_log = std::move(log);
}

QString HttpConnection::peer() const
{
    const QHostAddress a = m_socket->peerAddress();
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                                                                       : a.toString();
    return host + QLatin1Char(':') + QString::number(m_socket->peerPort());
}

void HttpConnection::timedOut()
{
    if (m_log && m_log->wants(LogLevel::Debug)) {
        const auto seconds = [](std::chrono::milliseconds ms) { return QString::number(ms.count() / 1000.0); };
        const QString why = m_state == State::Reading && m_requestStarted
                                ? QStringLiteral("no whole request within %1 s").arg(seconds(m_limits.headerTimeout))
                            : m_state == State::Reading
                                ? QStringLiteral("idle for %1 s").arg(seconds(m_limits.idleTimeout))
                                : QStringLiteral("its answer not taken within %1 s").arg(seconds(m_limits.writeTimeout));
        m_log->debug(peer() + QStringLiteral(" closed: ") + why);
    }
    abortNow();
}

void HttpConnection::logAnswer(int status, qsizetype bytes, const HttpHeaders& extra) const
{
    QString line = peer() + QStringLiteral(" \"") +
                   (m_requestLine.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(m_requestLine)) +
                   QStringLiteral("\" %1, %2 bytes").arg(status).arg(bytes);
    for (const auto& h : extra)
        if (h.first == "Content-Encoding")
            line += QStringLiteral(", ") + QString::fromLatin1(h.second);
    if (m_since.isValid())
        line += QStringLiteral(", %1 s").arg(m_since.nsecsElapsed() / 1e9, 0, 'f', 3);
    m_log->debug(line);
}

void HttpConnection::readMore()
{
    if (m_state == State::Closing) {
        if (m_socket->bytesToWrite() > 0)
            armTimer(m_limits.writeTimeout); // taken slowly is taken
        return;
    }
    if (m_state == State::Reading)
        processBuffer();
}

void HttpConnection::processBuffer()
{
    if (auto* ssl = qobject_cast<QSslSocket*>(m_socket); ssl && !ssl->isEncrypted()) {
        // The handshake waits for the client's first byte: a TLS handshake record starts it, anything else is a
        // client speaking plain HTTP to this port, told so in plain HTTP, which it can read.
        if (ssl->mode() != QSslSocket::UnencryptedMode || m_state != State::Reading)
            return;
        const QByteArray first = ssl->peek(1);
        if (first.isEmpty())
            return;
        if (first[0] == kTlsHandshakeRecord) {
            ssl->startServerEncryption();
            return;
        }
        m_state = State::Answering;
        m_keepAlive = false;
        m_head = false;
        respond(400, "text/plain; charset=utf-8", "Client sent an HTTP request to an HTTPS server.\n");
        return;
    }
    while (m_state == State::Reading) {
        if (m_socket->bytesToWrite() > kMaxWriteBacklog) {
            armTimer(m_limits.writeTimeout);
            return;
        }
        // The socket's own buffer is the request buffer: what is still in it is what the client sent next.
        QByteArray in = m_socket->peek(m_limits.maxHeaderBytes + 1);
        qsizetype blank = 0; // empty lines before a request are allowed
        while (blank < in.size() && (in[blank] == '\r' || in[blank] == '\n'))
            ++blank;
        if (blank > 0) {
            m_socket->skip(blank);
            in.remove(0, blank);
        }
        if (!in.isEmpty() && !m_requestStarted) {
            m_requestStarted = true;
            armTimer(m_limits.headerTimeout);
        }
        const qsizetype end = headerEnd(in);
        if (end < 0) {
            if (in.size() > m_limits.maxHeaderBytes) {
                fail(431);
                return;
            }
            // No whole request is waiting: the socket may read on, up to the client's end.
            m_socket->setReadBufferSize(m_limits.maxHeaderBytes + 1);
            return;
        }
        if (end > m_limits.maxHeaderBytes) {
            fail(431);
            return;
        }
        const Parsed p = parseHead(in.left(end));
        m_since.start();
        if (m_log && !p.request.method.isEmpty())
            m_requestLine = p.request.method + ' ' + p.request.path.left(256);
        m_head = p.request.method == "HEAD";
        m_keepAlive = p.keepAlive;
        if (p.status) {
            fail(p.status);
            return;
        }
        // The client's end read now would close the socket before the answer is written (a half-close after
        // the request is no goodbye). So the request's last byte stays in the socket's buffer, and the buffer
        // is held full, until the answer is out: the socket reads nothing more meanwhile.
        m_socket->skip(end - 1);
        m_socket->setReadBufferSize(m_socket->bytesAvailable());
        m_holding = true;
        m_state = State::Answering;
        m_timer.stop();
        m_handler(this, p.request); // may answer at once, which sets the state back to reading
    }
}

void HttpConnection::respond(int status, const QByteArray& contentType, const QByteArray& body, const HttpHeaders& extra)
{
    if (m_state != State::Answering)
        return;
    const bool closing = m_lastAnswer || !m_keepAlive;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + httpReason(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\nDate: " + httpDate() + "\r\n";
    for (const auto& h : extra)
        out += h.first + ": " + h.second + "\r\n";
    if (closing)
        out += "Connection: close\r\n";
    out += "\r\n";
    if (!m_head)
        out += body;
    m_socket->write(out);
    if (m_answered)
        m_answered(status);
    if (m_log && m_log->wants(LogLevel::Debug))
        logAnswer(status, body.size(), extra);
    m_requestLine.clear();
    m_since.invalidate();
    if (closing) {
        close();
        return;
    }
    m_state = State::Reading;
    if (m_holding) {
        m_holding = false;
        m_socket->skip(1);
        // Requests already sent after this one are answered before the socket reads on (see processBuffer).
        if (m_socket->bytesAvailable() > 0)
            m_socket->setReadBufferSize(m_socket->bytesAvailable());
    }
    m_requestStarted = m_socket->bytesAvailable() > 0;
    armTimer(m_requestStarted ? m_limits.headerTimeout : m_limits.idleTimeout);
    // Called from the handler itself, the reading loop goes on by itself.
    QMetaObject::invokeMethod(this, &HttpConnection::readMore, Qt::QueuedConnection);
}

void HttpConnection::fail(int status)
{
    m_state = State::Answering;
    m_keepAlive = false;
    m_head = false;
    respond(status, "text/plain; charset=utf-8", QByteArray(httpReason(status)) + '\n');
}

void HttpConnection::closeAfterAnswer()
{
    m_lastAnswer = true;
    if (m_state == State::Reading)
        close();
}

void HttpConnection::close()
{
    m_state = State::Closing;
    armTimer(m_limits.writeTimeout);
    m_socket->disconnectFromHost(); // after what is queued has gone out
}

void HttpConnection::abortNow()
{
    if (m_gone)
        return;
    m_gone = true;
    m_state = State::Closing;
    m_timer.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    if (m_closed)
        m_closed(this);
}

} // namespace fw
