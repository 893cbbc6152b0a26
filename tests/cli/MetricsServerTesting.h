#pragma once
// What the metrics server's tests share: scrapes with chosen delays, a raw client over loopback (TLS when asked),
// waiting within the event loop, and the short limits the cases use.
#include "cli/MetricsServer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

namespace fw::test {

using namespace std::chrono_literals;

struct Counters {
    std::atomic_int reads{0};
    std::atomic_int reading{0};
    std::atomic_int mostReading{0};
};

// A scrape whose read takes `readMs` and whose rest takes `restMs`.
inline MetricsServer::Scrape slowScrape(Counters& c, int readMs, int restMs)
{
    return [&c, readMs, restMs](MetricsServer::Clock::time_point) -> MetricsServer::Finish {
        ++c.reads;
        const int now = ++c.reading;
        c.mostReading.store(std::max(c.mostReading.load(), now));
        QThread::msleep(static_cast<unsigned long>(readMs));
        --c.reading;
        return [restMs](MetricsServer::Clock::time_point) {
            QThread::msleep(static_cast<unsigned long>(restMs));
            return QByteArray("page\n");
        };
    };
}

inline QString serve(MetricsServer& server)
{
    const Result<quint16> port = server.listen(QHostAddress::LocalHost, 0);
    EXPECT_TRUE(port) << port.error().description.toStdString();
    return QStringLiteral("http://127.0.0.1:%1/metrics").arg(port.valueOr(0));
}

template <class Cond>
bool waitFor(Cond cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return cond();
}

// A client that writes raw bytes and collects whatever comes back, the server running on the same thread;
// over TLS when given a configuration.
struct RawClient {
    explicit RawClient(quint16 port, const std::optional<QSslConfiguration>& tls = std::nullopt)
    {
        auto* ssl = tls ? new QSslSocket : nullptr;
        socket.reset(ssl ? ssl : new QTcpSocket);
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [this] { got += socket->readAll(); });
        if (ssl) {
            ssl->setSslConfiguration(*tls);
            ssl->connectToHostEncrypted("127.0.0.1", port);
            waitFor([ssl] { return ssl->isEncrypted() || ssl->state() == QAbstractSocket::UnconnectedState; }, 3000);
        } else {
            socket->connectToHost(QHostAddress::LocalHost, port);
            waitFor(
                [this] {
                    return socket->state() != QAbstractSocket::HostLookupState &&
                           socket->state() != QAbstractSocket::ConnectingState;
                },
                2000);
        }
    }
    void send(const QByteArray& bytes) { socket->write(bytes); }
    // True when the server closed the connection within `ms`.
    bool closedWithin(int ms)
    {
        return waitFor([this] { return socket->state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    QList<int> statuses() const
    {
        QList<int> out;
        static const QRegularExpression status("HTTP/1\\.1 (\\d{3}) ");
        for (auto it = status.globalMatch(QString::fromLatin1(got)); it.hasNext();)
            out.append(it.next().captured(1).toInt());
        return out;
    }
    std::unique_ptr<QTcpSocket> socket;
    QByteArray got;
};

inline quint16 listen(MetricsServer& server)
{
    const Result<quint16> port = server.listen(QHostAddress::LocalHost, 0);
    EXPECT_TRUE(port) << port.error().description.toStdString();
    return port.valueOr(0);
}

// Opens a gate when it goes, before the server that waits on it.
struct OpenAtEnd {
    std::shared_ptr<std::atomic_bool> gate;
    ~OpenAtEnd() { gate->store(true); }
};

// Short times, so that the cases about them stay short.
inline HttpLimits quickLimits()
{
    HttpLimits l;
    l.headerTimeout = 400ms;
    l.idleTimeout = 600ms;
    l.writeTimeout = 600ms;
    l.maxConnections = 3;
    return l;
}

inline QByteArray basicRequest(const QByteArray& userAndPassword)
{
    return "GET /metrics HTTP/1.1\r\nAuthorization: Basic " + userAndPassword.toBase64() + "\r\n\r\n";
}

} // namespace fw::test
