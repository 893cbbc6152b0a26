#include "cli/MetricsServer.h"

#include "monitor/MetricsText.h"

#include <QTcpServer>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

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
    // Listened on here rather than by the HTTP server, which keeps the reason for a failure to itself.
    auto* tcp = new QTcpServer(this);
    if (!tcp->listen(address, port)) {
        if (error)
            *error = tcp->errorString();
        delete tcp;
        return 0;
    }
    m_http.bind(tcp);
    return tcp->serverPort();
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
    m_waiters.waitForDone(static_cast<int>(m_deadline.count()));
}

QFuture<QHttpServerResponse> MetricsServer::answer()
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
    return QtConcurrent::run(&m_waiters, [pending, answerBy, timeoutPage = m_timeoutPage] {
        std::optional<Finish> rest;
        {
            std::unique_lock<std::mutex> lock(pending->mutex);
            pending->ready.wait_until(lock, answerBy, [&] { return pending->rest.has_value(); });
            pending->answered.store(true);
            rest = std::move(pending->rest);
        }
        // The rest keeps to the deadline it was given by the read.
        const QByteArray page = rest ? (*rest)() : timeoutPage;
        return QHttpServerResponse(QByteArray(kMetricsContentType), page);
    });
}

} // namespace fw
