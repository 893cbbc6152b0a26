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

// Serves the metrics page at /metrics. A scrape has two parts. The read runs on the reader thread, one at
// a time (the program's context and its database connection are not shared between threads), and returns
// the rest of the work. That rest (locating domain controllers, rendering the page) runs on the scrape's
// own thread, so scrapes at the same time do it side by side and a slow one does not use up the others'
// time. A scrape that has no page when its deadline passes gets `timeoutPage` instead. Other paths get 404.
class MetricsServer : public QObject {
public:
    using Clock = std::chrono::steady_clock;
    using Finish = std::function<QByteArray()>;
    // Told by when the scrape must be answered.
    using Scrape = std::function<Finish(Clock::time_point answerBy)>;
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
