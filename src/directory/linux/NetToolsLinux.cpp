#include "directory/NetTools.h"
#include "directory/linux/LinuxSockets.h"

#include "directory/Deadline.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <cstring>
#include <arpa/nameser.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw::net {
namespace {

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

Result<int> openBound(int type, const QHostAddress& addr, const QHostAddress& source)
{
    sockaddr_storage ss;
    toSockaddr(addr, 0, ss);
    const int fd = ::socket(ss.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return FwError{0, QString::fromLocal8Bit(std::strerror(errno))};
    if (!source.isNull()) {
        sockaddr_storage src;
        const socklen_t len = toSockaddr(source, 0, src);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&src), len) != 0) {
            const FwError e{0, QStringLiteral("cannot use source address %1: %2")
                                   .arg(source.toString(), QString::fromLocal8Bit(std::strerror(errno)))};
            ::close(fd);
            return e;
        }
    }
    return fd;
}

} // namespace

Result<QList<SrvTarget>> lookupSrv(const QString& name, const Deadline& deadline, bool* notFound, const NameServer& server)
{
    if (notFound)
        *notFound = false;
    struct Answer {
        int herr = 0;
        QList<SrvTarget> records;
        bool malformed = false;
    };
    const QByteArray qname = name.toUtf8();
    const int seconds = std::max(1, (deadline.remainingMs() + 999) / 1000);
    bool v4 = false;
    const quint32 serverV4 = server.address.toIPv4Address(&v4);
    if (!server.address.isNull() && !v4)
        return FwError{0, QStringLiteral("DNS server %1 is not an IPv4 address").arg(server.address.toString())};
    const auto answer = runWithin<Answer>(deadline, [qname, seconds, v4, serverV4, port = server.port] {
        Answer a;
        struct __res_state st;
        std::memset(&st, 0, sizeof st);
        if (res_ninit(&st) != 0) {
            a.herr = NO_RECOVERY;
            return a;
        }
        if (v4) {
            st.nscount = 1;
            st.nsaddr_list[0].sin_family = AF_INET;
            st.nsaddr_list[0].sin_port = htons(port);
            st.nsaddr_list[0].sin_addr.s_addr = htonl(serverV4);
        }
        // The resolver's own retries must not outlast the deadline; the deadline abandons it anyway.
        st.retrans = seconds;
        st.retry = 1;
        std::vector<unsigned char> buf(65536);
        const int n = res_nquery(&st, qname.constData(), ns_c_in, ns_t_srv, buf.data(), static_cast<int>(buf.size()));
        if (n < 0) {
            a.herr = st.res_h_errno;
            res_nclose(&st);
            return a;
        }
        res_nclose(&st);
        ns_msg msg;
        if (ns_initparse(buf.data(), n, &msg) != 0) {
            a.malformed = true;
            return a;
        }
        for (int i = 0; i < ns_msg_count(msg, ns_s_an); ++i) {
            ns_rr rr;
            if (ns_parserr(&msg, ns_s_an, i, &rr) != 0 || ns_rr_type(rr) != ns_t_srv || ns_rr_rdlen(rr) < 7)
                continue;
            const unsigned char* rd = ns_rr_rdata(rr);
            char target[NS_MAXDNAME];
            if (dn_expand(ns_msg_base(msg), ns_msg_end(msg), rd + 6, target, sizeof target) < 0)
                continue;
            SrvTarget t;
            t.priority = ns_get16(rd);
            t.weight = ns_get16(rd + 2);
            t.port = ns_get16(rd + 4);
            t.host = QString::fromUtf8(target);
            a.records.append(t);
        }
        return a;
    });
    if (!answer)
        return FwError{0, Deadline::cutShort(QStringLiteral("DNS SRV lookup"), name)};
    if (answer->herr != 0 || answer->malformed) {
        if (notFound)
            *notFound = answer->herr == HOST_NOT_FOUND || answer->herr == NO_DATA;
        return FwError{0,
                       answer->malformed
                           ? QStringLiteral("DNS lookup of %1: malformed answer").arg(name)
                           : QStringLiteral("DNS lookup of %1: %2").arg(name, QString::fromLocal8Bit(hstrerror(answer->herr)))};
    }
    return usableSrvTargets(answer->records, name);
}

Result<QList<QHostAddress>> resolveHost(const QString& host, const Deadline& deadline)
{
    const QHostAddress literal(host);
    if (!literal.isNull())
        return QList<QHostAddress>{literal};
    if (host.isEmpty())
        return FwError{0, QStringLiteral("no server name")};
    struct Answer {
        int rc = 0;
        QList<QHostAddress> addresses;
    };
    const QByteArray name = host.toUtf8();
    const auto answer = runWithin<Answer>(deadline, [name] {
        Answer a;
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        a.rc = ::getaddrinfo(name.constData(), nullptr, &hints, &res);
        for (addrinfo* i = res; a.rc == 0 && i; i = i->ai_next) {
            QHostAddress addr(i->ai_addr);
            if (!addr.isNull() && !a.addresses.contains(addr))
                a.addresses.append(addr);
        }
        if (res)
            ::freeaddrinfo(res);
        return a;
    });
    if (!answer)
        return FwError{0, Deadline::cutShort(QStringLiteral("address lookup"), host)};
    if (answer->rc != 0 || answer->addresses.isEmpty())
        return FwError{0,
                       QStringLiteral("%1 does not resolve: %2").arg(host, QString::fromLocal8Bit(::gai_strerror(answer->rc)))};
    QList<QHostAddress> v4, v6;
    for (const QHostAddress& a : answer->addresses)
        (a.protocol() == QAbstractSocket::IPv4Protocol ? v4 : v6).append(a);
    return v4 + v6;
}

Result<int> connectTcp(const QHostAddress& addr, quint16 port, const QHostAddress& source, const Deadline& deadline,
                       const QString& server)
{
    // libldap writes to its sockets with write(): a server that drops the connection must make that
    // write fail, not end the program.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { ::signal(SIGPIPE, SIG_IGN); });
    const QString who = server.isEmpty() ? addr.toString() : server;
    if (deadline.expired())
        return FwError{0, Deadline::cutShort(QStringLiteral("TCP connect"), who)};
    const Result<int> opened = openBound(SOCK_STREAM, addr, source);
    if (!opened)
        return opened;
    const int fd = *opened;
    const int fl = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    sockaddr_storage ss;
    const socklen_t len = toSockaddr(addr, port, ss);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&ss), len);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do
            rc = ::poll(&p, 1, deadline.remainingMs());
        while (rc < 0 && errno == EINTR);
        if (rc == 0) {
            ::close(fd);
            return FwError{0, Deadline::cutShort(QStringLiteral("TCP connect to port %1").arg(port), who)};
        }
        int soerr = 0;
        socklen_t sl = sizeof soerr;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &sl);
        if (rc < 0 || soerr != 0) {
            const FwError e{0, QStringLiteral("cannot connect to %1 port %2: %3")
                                   .arg(who)
                                   .arg(port)
                                   .arg(QString::fromLocal8Bit(std::strerror(rc < 0 ? errno : soerr)))};
            ::close(fd);
            return e;
        }
    } else if (rc != 0) {
        const FwError e{0, QStringLiteral("cannot connect to %1 port %2: %3")
                               .arg(who)
                               .arg(port)
                               .arg(QString::fromLocal8Bit(std::strerror(errno)))};
        ::close(fd);
        return e;
    }
    ::fcntl(fd, F_SETFL, fl);
    return fd;
}

Result<int> connectUdp(const QHostAddress& addr, quint16 port, const QHostAddress& source)
{
    const Result<int> opened = openBound(SOCK_DGRAM, addr, source);
    if (!opened)
        return opened;
    const int fd = *opened;
    sockaddr_storage ss;
    const socklen_t len = toSockaddr(addr, port, ss);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        const FwError e{0,
                        QStringLiteral("cannot reach %1: %2").arg(addr.toString(), QString::fromLocal8Bit(std::strerror(errno)))};
        ::close(fd);
        return e;
    }
    return fd;
}

} // namespace fw::net
