#include "cli/MetricsServer.h"

#include "cli/Gzip.h"
#include "cli/ScrapePage.h"
#include "cli/ServerSockets.h"
#include "cli/WebConfig.h"
#include "monitor/MetricsText.h"
#include "platform/LeftThreads.h"

#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <condition_variable>
#include <mutex>

namespace fw {

// One read and the scrapes waiting for it, each until its own deadline.
struct SharedRead {
    std::mutex mutex;
    std::condition_variable ready;
    std::optional<MetricsServer::Finish> rest;
    int waiting = 0;
    bool delivered = false; // or given up: no scrape joins it any more

    void deliver(std::optional<MetricsServer::Finish> f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        rest = std::move(f);
        delivered = true;
        ready.notify_all();
    }
};

namespace {

// Hands each accepted socket over as it is, so that TLS and the connection cap are the server's to decide.
class Listener final : public QTcpServer {
public:
    Listener(std::function<void(qintptr)> accept, QObject* parent) : QTcpServer(parent), m_accept(std::move(accept)) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_accept(descriptor); }

private:
    std::function<void(qintptr)> m_accept;
};

QByteArray landingPage(const QByteArray& telemetryPath)
{
    return "<!DOCTYPE html>\n<html><head><title>Ferrowind exporter</title></head>\n<body><h1>Ferrowind exporter</h1><p><a href=\"" +
           QString::fromUtf8(telemetryPath).toHtmlEscaped().toUtf8() + "\">Metrics</a></p></body></html>\n";
}

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
    m_rereader.setMaxThreadCount(1);
}

MetricsServer::~MetricsServer()
{
    stop();
    if (!m_readerLeft)
        delete m_readerThread;
}

void MetricsServer::setWebConfig(const WebConfig& config, BasicAuth::Verify verify)
{
    m_verify = std::move(verify);
    m_auth = nullptr;
    applyWebConfig(config);
    m_watched = config.files;
}

void MetricsServer::applyWebConfig(const WebConfig& config)
{
    m_tls = config.tls;
    m_requireClientCertificate = config.requireClientCertificate;
    // Credentials found right stay known while the users stay the same.
    if (!m_auth || config.users != m_web.users)
        m_auth = config.users.isEmpty() ? nullptr : std::make_shared<BasicAuth>(config.users, m_verify);
    m_web = config;
}

void MetricsServer::rereadWebConfig()
{
    if (m_web.path.isEmpty() || !filesChanged(m_watched))
        return;
    // Read on a thread of its own, this one waiting: the check of the certificate runs a TLS handshake, whose
    // events must not run this server's handlers in the middle of an accept.
    std::optional<WebConfigAttempt> read;
    QtConcurrent::run(&m_rereader, [&read, path = m_web.path] { read.emplace(WebConfig::attempt(path)); }).waitForFinished();
    m_watched = read->files;
    const QString kept = QStringLiteral("; the configuration read before stays in use");
    if (!read->config) {
        m_log->warn(read->config.error().description + kept);
        return;
    }
    if (read->config->tls.has_value() != m_web.tls.has_value()) {
        m_log->warn(QStringLiteral("the web configuration ") + m_web.path +
                    (m_web.tls ? QStringLiteral(" no longer asks for TLS") : QStringLiteral(" now asks for TLS")) +
                    QStringLiteral(", which takes a restart") + kept);
        return;
    }
    applyWebConfig(*read->config);
    m_log->info(QStringLiteral("the web configuration ") + m_web.path +
                QStringLiteral(" was read again: new connections use it"));
}

Result<quint16> MetricsServer::listen(const QHostAddress& address, quint16 port)
{
    auto* tcp = new Listener([this](qintptr d) { accept(d); }, this);
    if (!tcp->listen(address, port)) {
        const FwError e{static_cast<int>(tcp->serverError()), tcp->errorString()};
        delete tcp;
        return e;
    }
    m_listeners.append(tcp);
    return tcp->serverPort();
}

void MetricsServer::accept(qintptr descriptor)
{
    if (!m_draining && m_connections.size() >= m_limits.maxConnections) {
        // Idle clients must not keep a scrape out: the one that has waited longest without a request in
        // progress (idle, sending slowly, or in its handshake) makes room.
        HttpConnection* oldest = nullptr;
        for (HttpConnection* c : std::as_const(m_connections))
            if (c->waitingForRequest() && (!oldest || c->id() < oldest->id()))
                oldest = c;
        if (oldest) {
            if (m_log->wants(LogLevel::Debug))
                m_log->debug(oldest->peer() +
                             QStringLiteral(" closed to make room for a new connection (%1 open)").arg(m_limits.maxConnections));
            oldest->abortNow();
        }
    }
    if (m_draining || m_connections.size() >= m_limits.maxConnections) {
        // Every place is taken by a request being answered: refused at once rather than queued.
        if (!m_draining)
            m_log->debug(QStringLiteral("a connection refused: all %1 are being answered").arg(m_limits.maxConnections));
        QByteArray busy;
        if (!m_tls)
            busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nDate: " + httpDate() +
                   "\r\nConnection: close\r\n\r\n";
        if (refuseSocket(descriptor, busy))
            ++m_answers[503];
        return;
    }
    rereadWebConfig();
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
        refuseSocket(descriptor, QByteArray());
        return;
    }
    const quint64 id = m_nextId++;
    auto* connection = new HttpConnection(
        socket, id, m_limits, [this](HttpConnection* c, const HttpRequest& r) { onRequest(c, r); },
        [this](HttpConnection* c) { onClosed(c); }, this);
    connection->setAnswerCounter([this](int status) { ++m_answers[status]; });
    if (m_log->wants(LogLevel::Debug))
        connection->setLog(m_log);
    m_connections.insert(id, connection);
}

void MetricsServer::onRequest(HttpConnection* c, const HttpRequest& r)
{
    if (!m_auth) {
        route(c, r, true);
        return;
    }
    std::optional<BasicAuth::Credentials> offered = m_auth->parse(r.authorization);
    if (!offered || m_auth->known(*offered)) {
        route(c, r, offered.has_value());
        return;
    }
    // Clients sending wrong passwords keep the checkers busy, not the server's thread, and beyond the cap
    // they are turned away rather than queued before the others.
    if (m_authChecks >= m_limits.maxAuthChecks) {
        c->respond(429, "text/plain; charset=utf-8", "Too Many Requests\n", {{"Retry-After", "1"}});
        return;
    }
    ++m_authChecks;
    (void)QtConcurrent::run(&m_checkers, [this, auth = m_auth, id = c->id(), r, offered = std::move(*offered)] {
        const bool allowed = auth->check(offered);
        QMetaObject::invokeMethod(
            this,
            [this, id, r, allowed] {
                --m_authChecks;
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
    if (r.path == m_telemetryPath)
        startScrape(c->id(), r);
    else if (r.path == "/")
        c->respond(200, "text/html; charset=utf-8", landingPage(m_telemetryPath));
    else if (r.path == "/-/healthy")
        c->respond(200, "text/plain; charset=utf-8", "Healthy\n");
    else if (r.path == "/-/ready") // listening is all it takes: each scrape reads afresh
        c->respond(200, "text/plain; charset=utf-8", "Ready\n");
    else
        c->respond(404, "text/plain; charset=utf-8", "Not Found\n");
}

std::chrono::milliseconds MetricsServer::scrapeDeadline(std::chrono::milliseconds bound,
                                                        std::optional<std::chrono::milliseconds> scraperWaits)
{
    // The scraper gives up then: an answer after it would be wasted, a page before it is still of use.
    if (!scraperWaits)
        return bound;
    return std::min(bound, *scraperWaits - std::min(kScraperMargin, *scraperWaits / 4));
}

void MetricsServer::startScrape(quint64 connection, const HttpRequest& r)
{
    const Clock::time_point arrived = Clock::now();
    const std::chrono::milliseconds deadline = scrapeDeadline(m_deadline, r.scrapeTimeout);
    const Clock::time_point answerBy = arrived + deadline;
    std::shared_ptr<SharedRead> read = m_openRead;
    bool joined = false;
    if (read) {
        std::lock_guard<std::mutex> lock(read->mutex);
        joined = !read->delivered;
        if (joined)
            ++read->waiting;
    }
    if (!joined) {
        read = std::make_shared<SharedRead>();
        read->waiting = 1;
        m_openRead = read;
        QMetaObject::invokeMethod(
            m_reader,
            [read, scrape = m_scrape, stopping = m_stopping, answerBy] {
                bool wanted = false;
                {
                    std::lock_guard<std::mutex> lock(read->mutex);
                    wanted = read->waiting > 0 && !stopping->load();
                }
                // Read nothing for scrapes that have all had their deadline, nor after the end was asked for.
                read->deliver(wanted ? std::optional<Finish>(scrape(answerBy)) : std::nullopt);
            },
            Qt::QueuedConnection);
    }
    ++m_scrapesInProgress;
    // The server's own families as they stand now: the page is completed, and compressed, off this thread.
    std::optional<QMap<int, quint64>> answers;
    if (m_ownMetrics)
        answers = m_answers;
    // Each scrape waits, and does the rest of its work, on a thread of its own pool.
    (void)QtConcurrent::run(&m_waiters, [this, connection, read, arrived, answerBy, deadline, answers, log = m_log,
                                         gzip = r.acceptsGzip, timeoutPage = m_timeoutPage] {
        std::optional<Finish> rest;
        {
            std::unique_lock<std::mutex> lock(read->mutex);
            read->ready.wait_until(lock, answerBy, [&] { return read->delivered; });
            --read->waiting;
            rest = read->rest; // each scrape renders its own page, with its own time
        }
        QByteArray page;
        if (rest && *rest) {
            page = (*rest)(arrived); // it keeps to the deadline it was given by the read
        } else {
            const double took = std::chrono::duration<double>(Clock::now() - arrived).count();
            page = withScrapeDuration(QString::fromUtf8(timeoutPage), took).toUtf8();
            log->warn(QStringLiteral("a scrape had no page within its %1 s: answered with ferrowind_up 0")
                          .arg(std::chrono::duration<double>(deadline).count()));
        }
        if (answers)
            page += serverFamilies(*answers).toUtf8();
        HttpHeaders headers;
        if (gzipAvailable()) // the answer depends on what the scraper takes
            headers.append(qMakePair(QByteArray("Vary"), QByteArray("Accept-Encoding")));
        if (std::optional<QByteArray> packed = gzip ? gzipped(page) : std::nullopt) {
            page = std::move(*packed);
            headers.prepend(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        }
        // The connection may have gone meanwhile: it is looked up again on the server's thread.
        QMetaObject::invokeMethod(
            this,
            [this, connection, page, headers] {
                --m_scrapesInProgress;
                if (HttpConnection* c = m_connections.value(connection))
                    c->respond(200, kMetricsContentType, page, headers);
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
    for (QTcpServer* l : std::as_const(m_listeners))
        l->close();
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
    for (QTcpServer* l : std::as_const(m_listeners))
        l->close();
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
