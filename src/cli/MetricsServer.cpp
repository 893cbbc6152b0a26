#include "cli/MetricsServer.h"

#include "cli/WebConfig.h"
#include "monitor/MetricsText.h"
#include "platform/LeftThreads.h"

#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <condition_variable>
#include <mutex>

#include <sys/socket.h>
#include <unistd.h>

namespace fw {
namespace {

// A scrape between its read and its answer: whichever comes first, the read or the deadline.
struct PendingScrape {
    std::mutex mutex;
    std::condition_variable ready;
    std::optional<MetricsServer::Finish> rest;
    std::atomic_bool answered{false};

    void deliver(MetricsServer::Finish f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        rest = std::move(f);
        ready.notify_all();
    }
};

// Hands each accepted socket over as it is, so that TLS and the connection cap are the server's to decide.
class Listener final : public QTcpServer {
public:
    Listener(std::function<void(qintptr)> accept, QObject* parent) : QTcpServer(parent), m_accept(std::move(accept)) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_accept(descriptor); }

private:
    std::function<void(qintptr)> m_accept;
};

const QByteArray kLandingPage = "<!DOCTYPE html>\n<html><head><title>Ferrowind exporter</title></head>\n"
                                "<body><h1>Ferrowind exporter</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

} // namespace

MetricsServer::MetricsServer(Scrape scrape, QByteArray timeoutPage, std::chrono::milliseconds deadline, QObject* parent)
    : QObject(parent), m_scrape(std::move(scrape)), m_timeoutPage(std::move(timeoutPage)), m_deadline(deadline)
{
    m_readerThread = new QThread;
    m_reader = new QObject;
    m_reader->moveToThread(m_readerThread);
    connect(m_readerThread, &QThread::finished, m_reader, &QObject::deleteLater);
    m_readerThread->setObjectName(QStringLiteral("metrics-reader"));
    m_readerThread->start();
    m_waiters.setMaxThreadCount(16);
    m_checkers.setMaxThreadCount(2);
}

MetricsServer::~MetricsServer()
{
    stop();
    if (!m_readerLeft)
        delete m_readerThread;
}

void MetricsServer::setWebConfig(const WebConfig& config)
{
    m_tls = config.tls;
    m_requireClientCertificate = config.requireClientCertificate;
    m_auth = config.users.isEmpty() ? nullptr : std::make_shared<BasicAuth>(config.users);
}

Result<quint16> MetricsServer::listen(const QHostAddress& address, quint16 port)
{
    auto* tcp = new Listener([this](qintptr d) { accept(d); }, this);
    if (!tcp->listen(address, port)) {
        const FwError e{static_cast<int>(tcp->serverError()), tcp->errorString()};
        delete tcp;
        return e;
    }
    m_listener = tcp;
    return tcp->serverPort();
}

void MetricsServer::accept(qintptr descriptor)
{
    const int fd = static_cast<int>(descriptor);
    if (m_draining || m_connections.size() >= m_limits.maxConnections) {
        // Refused at once: waiting for a free place would let idle clients starve the scrapes.
        static const char busy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        if (!m_tls)
            (void)::send(fd, busy, sizeof busy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        ::close(fd);
        return;
    }
    QTcpSocket* socket = nullptr;
    if (m_tls) {
        auto* ssl = new QSslSocket;
        ssl->setSslConfiguration(*m_tls);
        if (m_requireClientCertificate)
            connect(ssl, &QSslSocket::encrypted, ssl, [ssl] {
                if (ssl->peerCertificate().isNull())
                    ssl->abort();
            });
        socket = ssl;
    } else {
        socket = new QTcpSocket;
    }
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(fd);
        return;
    }
    if (auto* ssl = qobject_cast<QSslSocket*>(socket))
        ssl->startServerEncryption();
    const quint64 id = m_nextId++;
    m_connections.insert(id, new HttpConnection(
                                 socket, id, m_limits, [this](HttpConnection* c, const HttpRequest& r) { onRequest(c, r); },
                                 [this](HttpConnection* c) { onClosed(c); }, this));
}

void MetricsServer::onRequest(HttpConnection* c, const HttpRequest& r)
{
    if (!m_auth) {
        route(c, r, true);
        return;
    }
    // A client sending wrong passwords keeps a checker busy, not the server's thread.
    (void)QtConcurrent::run(&m_checkers, [this, auth = m_auth, id = c->id(), r] {
        const bool allowed = auth->allows(r.authorization);
        QMetaObject::invokeMethod(
            this,
            [this, id, r, allowed] {
                if (HttpConnection* c = m_connections.value(id))
                    route(c, r, allowed);
            },
            Qt::QueuedConnection);
    });
}

void MetricsServer::route(HttpConnection* c, const HttpRequest& r, bool allowed)
{
    if (!allowed) {
        c->respond(401, "text/plain; charset=utf-8", "Unauthorized\n", {{"WWW-Authenticate", "Basic realm=\"ferrowind\""}});
        return;
    }
    if (r.method != "GET" && r.method != "HEAD") {
        c->respond(405, "text/plain; charset=utf-8", "Method Not Allowed\n", {{"Allow", "GET, HEAD"}});
        return;
    }
    if (r.path == "/metrics")
        startScrape(c->id());
    else if (r.path == "/")
        c->respond(200, "text/html; charset=utf-8", kLandingPage);
    else
        c->respond(404, "text/plain; charset=utf-8", "Not Found\n");
}

void MetricsServer::startScrape(quint64 connection)
{
    auto pending = std::make_shared<PendingScrape>();
    const Clock::time_point answerBy = Clock::now() + m_deadline;
    QMetaObject::invokeMethod(
        m_reader,
        [pending, scrape = m_scrape, stopping = m_stopping, answerBy] {
            // A scrape whose deadline passed while it queued, or one after the end was asked for, reads nothing.
            if (pending->answered.load() || stopping->load())
                return;
            pending->deliver(scrape(answerBy));
        },
        Qt::QueuedConnection);
    // Each scrape waits, and does the rest of its work, on a thread of its own pool.
    (void)QtConcurrent::run(&m_waiters, [this, connection, pending, answerBy, timeoutPage = m_timeoutPage] {
        std::optional<Finish> rest;
        {
            std::unique_lock<std::mutex> lock(pending->mutex);
            pending->ready.wait_until(lock, answerBy, [&] { return pending->rest.has_value(); });
            pending->answered.store(true);
            rest = std::move(pending->rest);
        }
        // The rest keeps to the deadline it was given by the read.
        const QByteArray page = rest ? (*rest)() : timeoutPage;
        // The connection may have gone meanwhile: it is looked up again on the server's thread.
        QMetaObject::invokeMethod(
            this,
            [this, connection, page] {
                if (HttpConnection* c = m_connections.value(connection))
                    c->respond(200, kMetricsContentType, page);
            },
            Qt::QueuedConnection);
    });
}

void MetricsServer::onClosed(HttpConnection* c)
{
    m_connections.remove(c->id());
    c->deleteLater();
    checkDrained();
}

void MetricsServer::drain(std::function<void()> done)
{
    m_draining = true;
    m_drained = std::move(done);
    if (m_listener)
        m_listener->close();
    const QList<HttpConnection*> open = m_connections.values();
    for (HttpConnection* c : open)
        c->closeAfterAnswer();
    QTimer::singleShot(m_deadline + std::chrono::seconds(1), this, [this] {
        if (m_drained)
            std::exchange(m_drained, nullptr)();
    });
    checkDrained();
}

void MetricsServer::checkDrained()
{
    if (m_drained && m_connections.isEmpty())
        std::exchange(m_drained, nullptr)();
}

void MetricsServer::atReaderEnd(std::function<void()> f)
{
    connect(m_readerThread, &QThread::finished, m_reader, std::move(f), Qt::DirectConnection);
}

void MetricsServer::stop()
{
    if (m_stopping->exchange(true))
        return;
    if (m_listener)
        m_listener->close();
    const QList<HttpConnection*> open = m_connections.values();
    for (HttpConnection* c : open)
        c->abortNow();
    m_readerThread->quit();
    if (!m_readerThread->wait(static_cast<unsigned long>(m_deadline.count()))) {
        // The read still holds the program's context: the program must not end by destroying it. The thread is
        // never deleted from now on, so that it can be asked whether it has ended.
        m_readerLeft = true;
        LeftThreads::leave([thread = m_readerThread] { return thread->isFinished(); });
    }
    m_checkers.waitForDone(static_cast<int>(m_deadline.count()));
    m_waiters.waitForDone(static_cast<int>(m_deadline.count()));
}

} // namespace fw
