#pragma once
#include "cli/HttpConnection.h"
#include "cli/ServerLog.h"
#include "cli/WebConfig.h"
#include "log/Result.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpServer;

namespace fw {

struct SharedRead;

// Serves the metrics page at /metrics (or the path set), a landing page at /, /-/healthy and /-/ready; other
// paths get 404, methods other than GET and HEAD 405. A scrape has two parts. The read runs on the reader thread, one at a time (the
// program's context and its database connection are not shared between threads), and returns the rest of
// the work; scrapes that come while a read runs wait for that read rather than queue their own. The rest
// (locating domain controllers, rendering the page) runs on each scrape's own thread, so scrapes at the same
// time do it side by side and a slow one does not use up the others' time. A scrape that has no page when
// its deadline passes gets `timeoutPage` instead; the deadline is shortened to what the scraper says it waits
// (X-Prometheus-Scrape-Timeout-Seconds, less a margin). The page is sent gzipped to scrapers that take it.
// Each client is held to the limits. A web configuration read from a file is read again for a new connection
// when one of its files has changed; one that cannot be used leaves the one before in use.
class MetricsServer : public QObject {
public:
    using Clock = std::chrono::steady_clock;
    // Told when its scrape came, so that the time the page reports includes any wait for the read.
    using Finish = std::function<QByteArray(Clock::time_point arrived)>;
    // Told by when the scrape must be answered.
    using Scrape = std::function<Finish(Clock::time_point answerBy)>;
    MetricsServer(Scrape scrape, QByteArray timeoutPage, std::chrono::milliseconds deadline, QObject* parent = nullptr);
    ~MetricsServer() override;

    // What a scrape's deadline keeps back of the time the scraper waits (a quarter of it when less).
    static constexpr std::chrono::milliseconds kScraperMargin{500};
    // A scrape's deadline: `bound`, or sooner when the scraper waits less (its wait less the margin).
    static std::chrono::milliseconds scrapeDeadline(std::chrono::milliseconds bound,
                                                    std::optional<std::chrono::milliseconds> scraperWaits);

    // Before listen(): the limits, and TLS and basic authentication.
    void setLimits(const HttpLimits& limits) { m_limits = limits; }
    void setWebConfig(const WebConfig& config, BasicAuth::Verify verify = bcryptMatches);
    // Where the server tells what happens (default: nowhere).
    void setLog(std::shared_ptr<const ServerLog> log) { m_log = std::move(log); }
    // Where the page is served (default /metrics).
    void setTelemetryPath(const QByteArray& path) { m_telemetryPath = path; }
    // Whether the page gets the server's own families: its answers by status and the process's resources.
    void setOwnMetrics(bool on) { m_ownMetrics = on; }

    // The port listened on (useful when 0 was asked for); may be called for several addresses.
    Result<quint16> listen(const QHostAddress& address, quint16 port);
    // Stops accepting and closes idle connections; `done` is called once every answer in progress has been
    // handed over, at most one deadline later.
    void drain(std::function<void()> done);
    // Stops accepting, drops scrapes not yet started and waits for the one running, at most one deadline.
    void stop();
    // Runs on the reader's thread as it ends: what the scrapes keep there (their connection) goes there.
    void atReaderEnd(std::function<void()> f);

    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    // Scrapes between their request and their answer.
    int scrapesInProgress() const { return m_scrapesInProgress; }

private:
    void accept(qintptr descriptor);
    void onRequest(HttpConnection* c, const HttpRequest& r);
    void route(HttpConnection* c, const HttpRequest& r, bool allowed);
    void startScrape(quint64 connection, const HttpRequest& r);
    void applyWebConfig(const WebConfig& config);
    void rereadWebConfig();
    void onClosed(HttpConnection* c);
    void checkDrained();

    Scrape m_scrape;
    QByteArray m_timeoutPage;
    std::chrono::milliseconds m_deadline;
    HttpLimits m_limits;
    std::optional<QSslConfiguration> m_tls;
    bool m_requireClientCertificate = false;
    std::shared_ptr<BasicAuth> m_auth;
    WebConfig m_web; // in use
    BasicAuth::Verify m_verify;
    QList<WebConfigFile> m_watched; // the files of the last reading, used or not
    QThreadPool m_rereader;         // where it is read again
    std::shared_ptr<const ServerLog> m_log = std::make_shared<ServerLog>();
    QThreadPool m_waiters;
    QThreadPool m_checkers; // bcrypt takes its time: off the server's thread, and apart from the scrapes
    int m_authChecks = 0;   // running or queued on m_checkers
    QList<QTcpServer*> m_listeners;
    QByteArray m_telemetryPath = "/metrics";
    bool m_ownMetrics = false;
    QHash<quint64, HttpConnection*> m_connections;
    quint64 m_nextId = 1;
    bool m_draining = false;
    std::function<void()> m_drained;
    QThread* m_readerThread = nullptr; // left to the process's end if a read outlives stop()
    bool m_readerLeft = false;
    QObject* m_reader = nullptr;            // lives on m_readerThread
    std::shared_ptr<SharedRead> m_openRead; // the latest read; joined while it has not delivered
    int m_scrapesInProgress = 0;
    QMap<int, quint64> m_answers; // status -> answers sent
    std::shared_ptr<std::atomic_bool> m_stopping = std::make_shared<std::atomic_bool>(false);
};

} // namespace fw
