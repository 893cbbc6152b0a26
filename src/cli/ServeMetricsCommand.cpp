#include "cli/CliSupport.h"
#include "cli/FleetCli.h"
#include "cli/MetricsServer.h"
#include "cli/ScrapePage.h"
#include "cli/ServerLog.h"
#include "cli/TerminationSignal.h"
#include "cli/WebConfig.h"
#include "context/AppContext.h"
#include "db/DatabaseSession.h"
#include "monitor/FleetState.h"
#include "monitor/MetricsText.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace fw {
namespace {

constexpr auto kScrapeDeadline = std::chrono::milliseconds(5500); // answers within 6 s, with room for the network
constexpr auto kPageMargin = std::chrono::milliseconds(500);      // what a probe leaves the page of the scrape's time
const QString kDefaultListen = QStringLiteral("127.0.0.1:9731");

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};

// "ADDRESS:PORT" with an IPv4 or IPv6 literal ("[::1]:9731") or "localhost"; ":PORT" for every address of the
// machine, IPv4 and IPv6.
std::optional<ListenAddress> parseListen(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]]*)):(\\d{1,5})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QString host = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    ListenAddress a;
    if (host.isEmpty())
        a.address = QHostAddress(QHostAddress::Any);
    else if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        a.address = QHostAddress(QHostAddress::LocalHost);
    else if (!a.address.setAddress(host))
        return std::nullopt;
    const uint port = m.captured(3).toUInt();
    if (port > 65535)
        return std::nullopt;
    a.port = static_cast<quint16>(port);
    return a;
}

} // namespace

int runServeMetrics(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption listen(QStringLiteral("web.listen-address"),
                                    QStringLiteral("Address and port to serve on, again for each further one (default %1, "
                                                   "loopback only; another address must be given explicitly; :PORT for every "
                                                   "address, IPv4 and IPv6; port 0 picks a free one).")
                                        .arg(kDefaultListen),
                                    QStringLiteral("ADDRESS:PORT"));
    // The name of earlier releases, kept for the command lines that use it.
    QCommandLineOption listenAlias(QStringLiteral("listen"), QString(), QStringLiteral("ADDRESS:PORT"));
    listenAlias.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption telemetryPath(QStringLiteral("web.telemetry-path"),
                                           QStringLiteral("The path of the metrics page (default /metrics)."),
                                           QStringLiteral("PATH"), QStringLiteral("/metrics"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the program's version."));
    const QCommandLineOption probe(QStringLiteral("probe"),
                                   QStringLiteral("Also locate a domain controller of each domain on each scrape, all at once "
                                                  "within the scrape's time, and export ferrowind_dc_reachable{domain}."));
    const QCommandLineOption webConfig(QStringLiteral("web.config.file"),
                                       QStringLiteral("Serve over TLS and/or ask for basic authentication as the Prometheus "
                                                      "exporters' web configuration FILE says (tls_server_config with cert_file, "
                                                      "key_file, client_ca_file, client_auth_type, min_version, cipher_suites; "
                                                      "basic_auth_users with bcrypt hashes, refused by the Windows build, which "
                                                      "has no bcrypt). Read again for a new connection when it or a file it "
                                                      "names has changed; one that cannot be used is logged and the one before "
                                                      "kept."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption logLevel(QStringLiteral("log.level"),
                                      QStringLiteral("What to log on standard error: error (scrapes that could not read "
                                                     "the database), warn (also scrapes past their deadline and changed web "
                                                     "configurations that cannot be used), info (also where it serves, web "
                                                     "configurations read again and the stop; the default) or debug (also each "
                                                     "answer, time-out and failed TLS handshake)."),
                                      QStringLiteral("LEVEL"), QStringLiteral("info"));
    p.addOptions({listen, listenAlias, telemetryPath, probe, webConfig, logLevel, version});
    if (int rc = parseCommandLine(p, env, QStringLiteral("serve-metrics"),
                                  QStringLiteral("Serve the page of 'ferrowind metrics' at /metrics over HTTP for Prometheus, "
                                                 "reading the database afresh for each scrape (scrapes during a read share it), "
                                                 "with the server's own answers by status and the process's resources, a "
                                                 "landing page at /, and /-/healthy and /-/ready. A scrape "
                                                 "is answered within 6 seconds (ferrowind_up 0 when the database did not answer "
                                                 "in time); other paths get 404. At most 64 connections, 8 KiB of request "
                                                 "headers, no request body; a request must come within 5 seconds, a kept-alive "
                                                 "connection idle for 10 seconds is closed. A scrape ends by the time the "
                                                 "scraper says it waits (X-Prometheus-Scrape-Timeout-Seconds, less a margin) "
                                                 "when that is sooner; the page is gzipped for a scraper that takes it. On "
                                                 "SIGTERM or SIGINT it stops accepting, lets the scrapes in progress finish "
                                                 "and exits 0; SIGHUP is ignored."));
        rc >= 0)
        return rc;
    if (p.isSet(version)) {
        env.out << "ferrowind serve-metrics " << AppContext::programVersion() << "\n";
        return ExitOk;
    }
    const std::optional<LogLevel> level = logLevelNamed(p.value(logLevel));
    if (!level) {
        env.err << "ferrowind serve-metrics: --log.level takes debug, info, warn or error, not '" << p.value(logLevel) << "'\n";
        return ExitUsage;
    }
    QStringList listenTexts = p.values(listen) + p.values(listenAlias);
    if (listenTexts.isEmpty())
        listenTexts.append(kDefaultListen);
    QList<ListenAddress> wheres;
    for (const QString& text : listenTexts) {
        const std::optional<ListenAddress> where = parseListen(text);
        if (!where) {
            env.err << "ferrowind serve-metrics: --web.listen-address takes ADDRESS:PORT (for example 127.0.0.1:9731, "
                       "[::1]:9731 or :9731), not '"
                    << text << "'\n";
            return ExitUsage;
        }
        wheres.append(*where);
    }
    static const QRegularExpression pathForm(QStringLiteral("^(/[A-Za-z0-9._~-]+)+$"));
    const QString path = p.value(telemetryPath);
    if (!pathForm.match(path).hasMatch() || path.startsWith(QLatin1String("/-/"))) {
        env.err << "ferrowind serve-metrics: --web.telemetry-path takes a path such as /metrics (letters, digits and . _ ~ - "
                   "between slashes, not under /-/), not '"
                << path << "'\n";
        return ExitUsage;
    }

    std::optional<WebConfig> web;
    if (p.isSet(webConfig)) {
        Result<WebConfig> loaded = WebConfig::load(p.value(webConfig));
        if (!loaded) {
            env.err << "ferrowind serve-metrics: " << loaded.error().description << "\n";
            return ExitUsage;
        }
        web = std::move(loaded).value();
    }

    // Watched before anything slow starts, so a stop sent while starting up still ends the server cleanly. The
    // first stop lets the scrapes in progress finish; a second one ends at once.
    bool stopAsked = false;
    std::function<void()> drain;
    TerminationSignal term([&stopAsked, &drain](int) {
        if (stopAsked || !drain) {
            stopAsked = true;
            QCoreApplication::quit();
            return;
        }
        stopAsked = true;
        drain();
    });
    if (!term.isActive()) {
        env.err << "ferrowind serve-metrics: cannot watch for SIGTERM\n";
        return ExitUsage;
    }

    // From here on, what the server tells goes through the log: its lines may come from several threads.
    const auto log = std::make_shared<ServerLog>([&env](const QString& line) { env.err << line << Qt::endl; }, *level);

    // The context is made here and from now on used only by the reader thread.
    AppContext& ctx = env.context();
    bool probing = false;
    if (p.isSet(probe)) {
        if (!ctx.seams().locator) {
            env.err << "ferrowind serve-metrics: no domain controller locator on this system\n";
            return ExitUsage;
        }
        probing = true;
    }
    FleetState late;
    late.failures = {QStringLiteral("deadline")}; // the database did not answer within the scrape's time
    const QByteArray timeoutPage = metricsText(late, {AppContext::programVersion(), AppContext::sourceRevision()},
                                               std::chrono::duration<double>(kScrapeDeadline).count())
                                       .toUtf8();
    MetricsServer server(
        [&ctx, probing, log](MetricsServer::Clock::time_point answerBy) -> MetricsServer::Finish {
            std::optional<Deadline> probeBy;
            if (probing) // the page keeps its time for rendering and the network
                probeBy.emplace(static_cast<int>(std::max<qint64>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(answerBy - MetricsServer::Clock::now() - kPageMargin)
                           .count())));
            return [rest = readForScrape(ctx, probeBy), log](MetricsServer::Clock::time_point arrived) {
                const MetricsScrape scrape = rest();
                if (const QStringList failed = metricsFailures(scrape.state); !failed.isEmpty())
                    log->error(QStringLiteral("a scrape could not read ") + failed.join(QStringLiteral(", ")) +
                               QStringLiteral(": answered with ferrowind_up 0"));
                return withScrapeDuration(scrape.page,
                                          std::chrono::duration<double>(MetricsServer::Clock::now() - arrived).count())
                    .toUtf8();
            };
        },
        timeoutPage, kScrapeDeadline);
    if (web)
        server.setWebConfig(*web);
    server.setLog(log);
    server.setTelemetryPath(path.toUtf8());
    server.setOwnMetrics(true);
    // The scrapes keep one connection between them; it closes on the thread that opened it.
    server.atReaderEnd([&ctx] { ctx.databaseSession().close(); });
    // A terminal closing, or a reload asked of every daemon, does not end the exporter.
    ignoreHangup();

    QCoreApplication::processEvents(); // a stop that came while starting is seen here
    if (stopAsked) {
        log->info(QStringLiteral("stopped"));
        return ExitOk;
    }
    for (qsizetype i = 0; i < wheres.size(); ++i) {
        const ListenAddress& where = wheres[i];
        const Result<quint16> listening = server.listen(where.address, where.port);
        if (!listening) {
            env.err << "ferrowind serve-metrics: cannot listen on " << listenTexts[i] << ": " << listening.error().description
                    << "\n";
            return ExitUsage;
        }
        const QString host = where.address == QHostAddress(QHostAddress::Any) ? QStringLiteral("[::]")
                             : where.address.protocol() == QAbstractSocket::IPv4Protocol
                                 ? where.address.toString()
                                 : QLatin1Char('[') + where.address.toString() + QLatin1Char(']');
        log->info(QStringLiteral("serving ") + (web && web->tls ? QStringLiteral("https://") : QStringLiteral("http://")) + host +
                  QLatin1Char(':') + QString::number(*listening) + path);
    }
    drain = [&server] { server.drain([] { QCoreApplication::quit(); }); };
    QCoreApplication::exec();
    server.stop();
    log->info(QStringLiteral("stopped"));
    return ExitOk;
}
} // namespace fw
