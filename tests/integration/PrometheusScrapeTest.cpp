// A real Prometheus scrapes serve-metrics on loopback over TLS with basic authentication; the values are
// read back through its query API.
#include "ServeMetricsProcess.h"
#include "support/TestCertificate.h"

#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "support/Must.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace fw;

namespace {

quint16 freeLoopbackPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// The result vector of an instant query: labels and value per series; empty on any failure.
QJsonArray query(const QString& base, const QString& expr)
{
    QNetworkAccessManager nam;
    QUrl url(base + "/api/v1/query");
    url.setQuery(QUrlQuery{{"query", expr}});
    QNetworkReply* r = nam.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const QJsonObject o = QJsonDocument::fromJson(r->readAll()).object();
    r->deleteLater();
    return o["data"].toObject()["result"].toArray();
}

// Unix time the newest finished run of a table ended, the stored wall time read in the local zone.
qint64 newestFinishedEnd(Database& db, const QString& table)
{
    Result<QSqlQuery> q = db.run("SELECT syncEnd FROM " + table + " WHERE SyncId = (SELECT MAX(SyncId) FROM " + table +
                                 " WHERE IsActive = 0)");
    EXPECT_TRUE(q) << q.error().description.toStdString();
    EXPECT_TRUE(q && q->next());
    const QDateTime wall = QDateTime::fromString(q ? q->value(0).toString().left(19) : QString(), "yyyy-MM-dd HH:mm:ss");
    return QDateTime(wall.date(), wall.time(), Qt::LocalTime).toSecsSinceEpoch();
}

} // namespace

TEST(PrometheusScrape, RealPrometheusSeesTheValuesTheDatabaseHolds)
{
    QTemporaryDir dir;
    DemoDataOptions o;
    o.dcRuns = o.gcRuns = 20;
    ASSERT_TRUE(DemoEnvironment::create(dir.filePath("env"), o).ok());

    ASSERT_TRUE(test::makeCertificate(dir.path()));
    const QString web = test::writeFile(dir.path(), "web.yml",
                                        QByteArray("tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n"
                                                   "basic_auth_users:\n  prometheus: '") +
                                            test::kBcryptOfUStarU + "'\n");
    test::ServeMetricsProcess server(DemoEnvironment::registryPath(dir.filePath("env")),
                                     {"--web.config.file", web, "--log.level", "debug"});
    ASSERT_TRUE(server.url.startsWith("https://")) << server.err.toStdString();
    const QString target = QUrl(server.url).authority();

    const quint16 webPort = freeLoopbackPort();
    QFile config(dir.filePath("prometheus.yml"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                "scrape_configs:\n  - job_name: ferrowind\n    scheme: https\n"
                                "    tls_config:\n      ca_file: %2\n"
                                "    basic_auth:\n      username: prometheus\n      password: U*U\n"
                                "    static_configs:\n      - targets: ['%1']\n")
                     .arg(target, dir.filePath("cert.pem"))
                     .toUtf8());
    config.close();
    test::ChildProcess prometheus;
    prometheus.proc.setProcessChannelMode(QProcess::MergedChannels);
    prometheus.proc.start("prometheus", {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("tsdb"),
                                         "--web.listen-address=127.0.0.1:" + QString::number(webPort)});
    ASSERT_TRUE(prometheus.proc.waitForStarted(10000));
    const QString api = "http://127.0.0.1:" + QString::number(webPort);

    // Two scrapes.
    bool scrapedTwice = false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        const QJsonArray r = query(api, "count_over_time(ferrowind_up[1m])");
        if (!r.isEmpty() && r[0].toObject()["value"].toArray()[1].toString().toInt() >= 2) {
            scrapedTwice = true;
            break;
        }
        QThread::msleep(500);
    }
    ASSERT_TRUE(scrapedTwice) << prometheus.proc.readAll().toStdString();

    const QJsonArray up = query(api, "ferrowind_up");
    ASSERT_EQ(up.size(), 1);
    EXPECT_EQ(up[0].toObject()["value"].toArray()[1].toString(), "1");

    const std::unique_ptr<Database> db = test::must(
        Database::open("sqlite:" + DemoEnvironment::databasePath(dir.filePath("env"))));
    ASSERT_TRUE(db);
    const QJsonArray ends = query(api, "ferrowind_sync_last_finished_timestamp_seconds");
    ASSERT_EQ(ends.size(), 2);
    QMap<QString, qint64> bySide;
    for (const QJsonValue& v : ends)
        bySide[v.toObject()["metric"].toObject()["side"].toString()] = v.toObject()["value"].toArray()[1].toString().toLongLong();
    EXPECT_EQ(bySide.value("dc"), newestFinishedEnd(*db, "SyncHistoryDC"));
    EXPECT_EQ(bySide.value("gc"), newestFinishedEnd(*db, "SyncHistoryGC"));

    // The server's own families: its answers to Prometheus (the scrapes before this one), the process's start.
    const QJsonArray answers = query(api, "ferrowind_http_requests_total{code=\"200\"}");
    ASSERT_EQ(answers.size(), 1);
    EXPECT_GE(answers[0].toObject()["value"].toArray()[1].toString().toInt(), 1);
    // What Prometheus asked for and got: the page gzipped, and the build's revision.
    const QString log = server.err + QString::fromUtf8(server.proc.readAllStandardError());
    EXPECT_TRUE(QRegularExpression("\"GET /metrics\" 200, \\d+ bytes, gzip, ").match(log).hasMatch()) << log.toStdString();
    const QJsonArray build = query(api, "ferrowind_build_info");
    ASSERT_EQ(build.size(), 1);
    EXPECT_TRUE(QRegularExpression("^([0-9a-f]{40}|unknown)$")
                    .match(build[0].toObject()["metric"].toObject()["revision"].toString())
                    .hasMatch())
        << QJsonDocument(build[0].toObject()).toJson().toStdString();
    const QJsonArray started = query(api, "process_start_time_seconds{job=\"ferrowind\"}");
    ASSERT_EQ(started.size(), 1);
    const double start = started[0].toObject()["value"].toArray()[1].toString().toDouble();
    EXPECT_LE(start, QDateTime::currentSecsSinceEpoch() + 1.0);
    EXPECT_GT(start, QDateTime::currentSecsSinceEpoch() - 3600.0) << "the server started for this test";
}
