#include "directory/NetTools.h"

#include <QCoreApplication>
#include <QDnsLookup>
#include <QEventLoop>
#include <QHostInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw::net {
namespace {

bool haveEventLoop(QString* error)
{
    if (QCoreApplication::instance())
        return true;
    if (error)
        *error = QStringLiteral("no application object to run network lookups");
    return false;
}

// Runs `loop` until `done` or the time is up.
void waitBounded(QEventLoop& loop, int timeoutMs)
{
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::max(1, timeoutMs));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

socklen_t toSockaddr(const QHostAddress& a, quint16 port, sockaddr_storage& ss)
{
    std::memset(&ss, 0, sizeof ss);
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    if (ok) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(port);
        sin->sin_addr.s_addr = htonl(v4);
        return sizeof(sockaddr_in);
    }
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
    sin6->sin6_family = AF_INET6;
    sin6->sin6_port = htons(port);
    const Q_IPV6ADDR v6 = a.toIPv6Address();
    std::memcpy(&sin6->sin6_addr, &v6, 16);
    return sizeof(sockaddr_in6);
}

int openBound(int type, const QHostAddress& addr, const QHostAddress& source, QString* error)
{
    sockaddr_storage ss;
    toSockaddr(addr, 0, ss);
    const int fd = ::socket(ss.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (!source.isNull()) {
        sockaddr_storage src;
        const socklen_t len = toSockaddr(source, 0, src);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&src), len) != 0) {
            if (error)
                *error = QStringLiteral("cannot use source address %1: %2").arg(source.toString(), QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

} // namespace

QList<SrvTarget> lookupSrv(const QString& name, int timeoutMs, QString* error, bool* notFound)
{
    if (notFound)
        *notFound = false;
    if (!haveEventLoop(error))
        return {};
    QDnsLookup lookup(QDnsLookup::SRV, name);
    QEventLoop loop;
    QObject::connect(&lookup, &QDnsLookup::finished, &loop, &QEventLoop::quit);
    lookup.lookup();
    if (!lookup.isFinished())
        waitBounded(loop, timeoutMs);
    if (!lookup.isFinished()) {
        lookup.abort();
        if (error)
            *error = QStringLiteral("DNS did not answer for %1 within %2 ms").arg(name).arg(timeoutMs);
        return {};
    }
    if (lookup.error() != QDnsLookup::NoError) {
        if (notFound)
            *notFound = lookup.error() == QDnsLookup::NotFoundError;
        if (error)
            *error = QStringLiteral("DNS lookup of %1: %2").arg(name, lookup.errorString());
        return {};
    }
    QList<SrvTarget> out;
    for (const QDnsServiceRecord& r : lookup.serviceRecords()) {
        QString host = r.target();
        if (host.endsWith(QLatin1Char('.')))
            host.chop(1);
        if (host.isEmpty())
            continue; // "." means the service is not offered here
        out.append({host, r.port(), r.priority(), r.weight()});
    }
    std::stable_sort(out.begin(), out.end(), [](const SrvTarget& a, const SrvTarget& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.weight > b.weight;
    });
    return out;
}

QList<QHostAddress> resolveHost(const QString& host, int timeoutMs, QString* error)
{
    const QHostAddress literal(host);
    if (!literal.isNull())
        return {literal};
    if (host.isEmpty()) {
        if (error)
            *error = QStringLiteral("no server name");
        return {};
    }
    if (!haveEventLoop(error))
        return {};
    QEventLoop loop;
    bool done = false;
    QHostInfo result;
    QObject context;
    const int id = QHostInfo::lookupHost(host, &context, [&](const QHostInfo& info) {
        result = info;
        done = true;
        loop.quit();
    });
    if (!done)
        waitBounded(loop, timeoutMs);
    if (!done) {
        QHostInfo::abortHostLookup(id);
        if (error)
            *error = QStringLiteral("%1 did not resolve within %2 ms").arg(host).arg(timeoutMs);
        return {};
    }
    if (result.error() != QHostInfo::NoError || result.addresses().isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 does not resolve: %2").arg(host, result.errorString());
        return {};
    }
    QList<QHostAddress> v4, v6;
    for (const QHostAddress& a : result.addresses())
        (a.protocol() == QAbstractSocket::IPv4Protocol ? v4 : v6).append(a);
    return v4 + v6;
}

int connectTcp(const QHostAddress& addr, quint16 port, const QHostAddress& source, int timeoutMs, QString* error)
{
    const int fd = openBound(SOCK_STREAM, addr, source, error);
    if (fd < 0)
        return -1;
    const int fl = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    sockaddr_storage ss;
    const socklen_t len = toSockaddr(addr, port, ss);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&ss), len);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = ::poll(&p, 1, std::max(1, timeoutMs));
        if (rc == 0) {
            if (error)
                *error = QStringLiteral("no answer from %1 port %2 within %3 ms").arg(addr.toString()).arg(port).arg(timeoutMs);
            ::close(fd);
            return -1;
        }
        int soerr = 0;
        socklen_t sl = sizeof soerr;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &sl);
        if (rc < 0 || soerr != 0) {
            if (error)
                *error = QStringLiteral("cannot connect to %1 port %2: %3")
                             .arg(addr.toString()).arg(port).arg(QString::fromLocal8Bit(std::strerror(rc < 0 ? errno : soerr)));
            ::close(fd);
            return -1;
        }
    } else if (rc != 0) {
        if (error)
            *error = QStringLiteral("cannot connect to %1 port %2: %3").arg(addr.toString()).arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, fl);
    return fd;
}

int connectUdp(const QHostAddress& addr, quint16 port, const QHostAddress& source, QString* error)
{
    const int fd = openBound(SOCK_DGRAM, addr, source, error);
    if (fd < 0)
        return -1;
    sockaddr_storage ss;
    const socklen_t len = toSockaddr(addr, port, ss);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        if (error)
            *error = QStringLiteral("cannot reach %1: %2").arg(addr.toString(), QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isValidDnsName(const QString& nameIn)
{
    QString name = nameIn;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name.size() > 255)
        return false;
    for (const QString& label : name.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63)
            return false;
        for (const QChar c : label) {
            const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                            (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('_');
            if (!ok)
                return false;
        }
    }
    return true;
}

} // namespace fw::net
