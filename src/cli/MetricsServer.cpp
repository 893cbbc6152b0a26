#include "cli/MetricsServer.h"

#include "monitor/MetricsText.h"

#include <QPromise>
#include <QTcpServer>
#include <QTimer>
#include <atomic>

namespace fw {
namespace {

// The one answer of a scrape: whichever comes first, the page or the deadline, is sent; the other is dropped.
struct PendingScrape {
    QPromise<QHttpServerResponse> promise;
    std::atomic_bool answered{false};

    void deliver(const QByteArray& page)
    {
        if (answered.exchange(true))
            return;
        promise.addResult(QHttpServerResponse(QByteArray(kMetricsContentType), page));
        promise.finish();
    }
};

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

    m_http.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this]() { return answer(); });
}

MetricsServer::~MetricsServer()
{
    stop();
    if (m_readerThread->isFinished())
        delete m_readerThread;
}

quint16 MetricsServer::listen(const QHostAddress& address, quint16 port, QString* error)
{
    const quint16 bound = m_http.listen(address, port);
    if (!bound && error) {
        const QList<QTcpServer*> servers = m_http.servers();
        *error = servers.isEmpty() ? QStringLiteral("cannot listen") : servers.last()->errorString();
    }
    return bound;
}

void MetricsServer::stop()
{
    m_stopping->store(true);
    for (QTcpServer* s : m_http.servers())
        s->close();
    if (m_readerThread->isRunning()) {
        m_readerThread->quit();
        m_readerThread->wait(static_cast<unsigned long>(m_deadline.count()));
    }
}

QFuture<QHttpServerResponse> MetricsServer::answer()
{
    auto pending = std::make_shared<PendingScrape>();
    pending->promise.start();
    QFuture<QHttpServerResponse> future = pending->promise.future();
    QTimer::singleShot(m_deadline, this, [pending, page = m_timeoutPage] { pending->deliver(page); });
    QMetaObject::invokeMethod(
        m_reader,
        [pending, scrape = m_scrape, stopping = m_stopping] {
            // A scrape whose deadline passed while it queued, or one after the end was asked for, reads nothing.
            if (pending->answered.load() || stopping->load())
                return;
            pending->deliver(scrape());
        },
        Qt::QueuedConnection);
    return future;
}

} // namespace fw
