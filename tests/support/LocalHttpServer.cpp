#include "LocalHttpServer.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace fw::test {

namespace {

QByteArray reasonOf(int status)
{
    return status == 200 ? "OK" : status == 302 ? "Found" : status == 404 ? "Not Found" : "Status";
}

class Worker : public QObject {
public:
    explicit Worker(LocalHttpServer& owner) : m_owner(owner) {}

    quint16 listen()
    {
        m_server = new QTcpServer(this);
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            return 0;
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server->nextPendingConnection()) {
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        return m_server->serverPort();
    }

    void shutdown()
    {
        if (m_server)
            m_server->close();
        for (QTcpSocket* s : findChildren<QTcpSocket*>())
            s->abort();
    }

private:
    void onRead(QTcpSocket* s)
    {
        // The request so far is kept on the socket until its headers are complete.
        const QByteArray buf = s->property("request").toByteArray() + s->readAll();
        s->setProperty("request", buf);
        const qsizetype end = buf.indexOf("\r\n\r\n");
        if (end < 0 || s->property("answered").toBool())
            return;
        s->setProperty("answered", true);
        const QList<QByteArray> lines = buf.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        const QString path = QString::fromLatin1(requestLine.value(1));
        QByteArray agent;
        for (const QByteArray& l : lines)
            if (l.toLower().startsWith("user-agent:"))
                agent = l.mid(11).trimmed();
        m_owner.noteRequest(path, agent);

        LocalHttpServer::Route notFound;
        notFound.status = 404;
        notFound.body = "<html><body>Not Found</body></html>";
        const LocalHttpServer::Route r = m_owner.route(path).value_or(notFound);
        if (r.silent)
            return;
        QPointer<QTcpSocket> ps(s);
        QTimer::singleShot(r.delayMs, this, [this, ps, r] {
            if (ps)
                answer(ps, r);
        });
    }

    void answer(QTcpSocket* s, const LocalHttpServer::Route& r)
    {
        QByteArray head = "HTTP/1.0 " + QByteArray::number(r.status) + ' ' + reasonOf(r.status) + "\r\n";
        head += "Content-Type: text/xml\r\nConnection: close\r\n" + r.extraHeaders;
        if (r.withLength)
            head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        head += "\r\n";
        s->write(head);
        if (r.dripIntervalMs > 0) {
            auto* t = new QTimer(s);
            auto sent = std::make_shared<qsizetype>(0);
            QPointer<QTcpSocket> ps(s);
            connect(t, &QTimer::timeout, s, [ps, t, sent, r] {
                if (!ps || *sent >= r.body.size() || *sent >= 600) { // bounded: at most 600 bytes
                    t->stop();
                    if (ps)
                        ps->disconnectFromHost();
                    return;
                }
                ps->write(r.body.mid((*sent)++, 1));
            });
            t->start(r.dripIntervalMs);
            return;
        }
        s->write(r.body);
        s->disconnectFromHost();
    }

    LocalHttpServer& m_owner;
    QTcpServer* m_server = nullptr;
};

} // namespace

LocalHttpServer::LocalHttpServer() = default;

LocalHttpServer::~LocalHttpServer()
{
    if (!m_thread.isRunning())
        return;
    auto* w = static_cast<Worker*>(m_worker);
    QMetaObject::invokeMethod(
        w, [w] { w->shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void LocalHttpServer::setRoute(const QString& path, const Route& route)
{
    QMutexLocker lock(&m_mutex);
    m_routes.insert(path, route);
}

std::optional<LocalHttpServer::Route> LocalHttpServer::route(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    return m_routes.contains(path) ? std::optional(m_routes.value(path)) : std::nullopt;
}

void LocalHttpServer::noteRequest(const QString& path, const QByteArray& userAgent)
{
    QMutexLocker lock(&m_mutex);
    ++m_requests[path];
    m_userAgent = userAgent;
}

int LocalHttpServer::requests(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    return m_requests.value(path);
}

QByteArray LocalHttpServer::lastUserAgent() const
{
    QMutexLocker lock(&m_mutex);
    return m_userAgent;
}

bool LocalHttpServer::start()
{
    auto* w = new Worker(*this);
    m_worker = w;
    w->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, w, &QObject::deleteLater);
    m_thread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        w, [w, &port] { port = w->listen(); }, Qt::BlockingQueuedConnection);
    m_port = port;
    return port != 0;
}

QString LocalHttpServer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

quint16 closedLoopbackPort()
{
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 1;
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

} // namespace fw::test
