#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QHttpServer>
#include <QObject>
#include <QThread>
#include <QThreadPool>
#include <chrono>
#include <functional>

namespace fw {

// Serves the metrics page at /metrics. Each scrape reads afresh on the reader thread (one at a time, each
// with its own database connection); a scrape that has no answer when its deadline passes gets
// `timeoutPage` instead, so no scrape waits longer than the deadline. Other paths get 404.
class MetricsServer : public QObject {
public:
    using Scrape = std::function<QByteArray()>;
    MetricsServer(Scrape scrape, QByteArray timeoutPage, std::chrono::milliseconds deadline, QObject* parent = nullptr);
    ~MetricsServer() override;

    // The port listened on (useful when 0 was asked for), or 0 with *error filled.
    quint16 listen(const QHostAddress& address, quint16 port, QString* error);
    // Stops accepting, drops scrapes not yet started and waits for the one running, at most one deadline.
    void stop();

private:
    QFuture<QHttpServerResponse> answer();

    Scrape m_scrape;
    QByteArray m_timeoutPage;
    std::chrono::milliseconds m_deadline;
    QThreadPool m_waiters;
    QHttpServer m_http;
    QThread* m_readerThread = nullptr; // left to the process's end if a read outlives stop()
    QObject* m_reader = nullptr; // lives on m_readerThread
    std::shared_ptr<std::atomic_bool> m_stopping = std::make_shared<std::atomic_bool>(false);
};

} // namespace fw
