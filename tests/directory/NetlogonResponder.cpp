#include "NetlogonResponder.h"

#include <QStringList>
#include <QtEndian>

#include <chrono>
#include <cstring>
#include <lber.h>
#include <ldap.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fw::test {
namespace {

using Clock = std::chrono::steady_clock;

QByteArray dnsName(const QString& name)
{
    QByteArray out;
    for (const QString& l : name.split(QLatin1Char('.'), Qt::SkipEmptyParts))
        out += static_cast<char>(l.size()) + l.toLatin1();
    return out + '\0';
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// NETLOGON_SAM_LOGON_RESPONSE_EX with the DC's address, names written out in full.
QByteArray netlogonValue(const NetlogonResponder::Config& c)
{
    QByteArray m = QByteArray::fromHex("17000000");
    m += le32(c.writable ? 0x13fd : 0x0afc);
    m += QByteArray::fromHex("cce7aa860200424d9b38a2f0de7b8f1a");
    m += dnsName(NetlogonResponder::domain()) + dnsName(NetlogonResponder::domain()) + dnsName(NetlogonResponder::host());
    m += dnsName(QStringLiteral("CORP")) + dnsName(QStringLiteral("DC1")) + dnsName(QString());
    m += dnsName(c.site) + dnsName(c.site);
    QByteArray sa(16, '\0');
    sa[0] = 2; // AF_INET, little-endian
    qToBigEndian(c.address.toIPv4Address(), sa.data() + 4);
    m += static_cast<char>(16) + sa;
    m += le32(0x0d) + QByteArray::fromHex("ffffffff");
    return m;
}

QByteArray flatten(BerElement* ber)
{
    berval* bv = nullptr;
    QByteArray out;
    if (ber_flatten(ber, &bv) == 0 && bv) {
        out = QByteArray(bv->bv_val, static_cast<qsizetype>(bv->bv_len));
        ber_bvfree(bv);
    }
    ber_free(ber, 1);
    return out;
}

QByteArray entry(int id, const std::vector<std::pair<const char*, QByteArray>>& attrs)
{
    BerElement* ber = ber_alloc_t(LBER_USE_DER);
    ber_printf(ber, "{it{s{", id, LDAP_RES_SEARCH_ENTRY, "");
    for (const auto& [name, value] : attrs) {
        berval v{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.constData())};
        ber_printf(ber, "{s[O]}", name, &v);
    }
    ber_printf(ber, "}}}");
    return flatten(ber);
}

QByteArray result(int id, ber_tag_t op, int code)
{
    BerElement* ber = ber_alloc_t(LBER_USE_DER);
    ber_printf(ber, "{it{ess}}", id, op, code, "", "");
    return flatten(ber);
}

// Length of the first complete BER element in `buf`, 0 when more bytes are needed, -1 when it is not one.
qsizetype elementLength(const QByteArray& buf)
{
    if (buf.size() < 2)
        return 0;
    if (static_cast<quint8>(buf[0]) != 0x30)
        return -1;
    const quint8 first = static_cast<quint8>(buf[1]);
    if (first < 0x80)
        return buf.size() >= 2 + first ? 2 + first : 0;
    const int n = first & 0x7f;
    if (n == 0 || n > 4)
        return -1;
    if (buf.size() < 2 + n)
        return 0;
    qsizetype len = 0;
    for (int i = 0; i < n; ++i)
        len = (len << 8) | static_cast<quint8>(buf[2 + i]);
    return buf.size() >= 2 + n + len ? 2 + n + len : 0;
}

int bindTo(int type, const QHostAddress& a, quint16 port, QString* error)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(a.toIPv4Address());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        *error =
            QStringLiteral("cannot bind %1:%2: %3").arg(a.toString()).arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 boundPort(int fd)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port);
}

} // namespace

NetlogonResponder::NetlogonResponder(Config config) : m_config(std::move(config))
{
    for (int attempt = 0; attempt < 20 && !m_ok; ++attempt) {
        m_tcp = bindTo(SOCK_STREAM, m_config.address, m_config.port, &m_error);
        if (m_tcp < 0)
            return;
        m_port = boundPort(m_tcp);
        m_udp = bindTo(SOCK_DGRAM, m_config.address, m_port, &m_error);
        if (m_udp < 0) {
            ::close(m_tcp);
            if (m_config.port != 0)
                return;
            continue; // the free TCP port is taken on UDP: try another
        }
        m_ok = true;
    }
    if (!m_ok)
        return;
    // A bound socket that does not listen refuses connections; without a UDP socket the port is unreachable.
    if (m_config.tcp != Mode::Refuse)
        ::listen(m_tcp, 8);
    if (m_config.udp == Mode::Refuse) {
        ::close(m_udp);
        m_udp = -1;
    }
    if (m_config.dns) {
        m_dns = bindTo(SOCK_DGRAM, m_config.address, 0, &m_error);
        if (m_dns < 0) {
            m_ok = false;
            return;
        }
        m_dnsPort = boundPort(m_dns);
    }
    if (::pipe(m_wake) != 0) {
        m_ok = false;
        m_error = QStringLiteral("no pipe");
        return;
    }
    m_thread = std::thread([this] { serve(); });
}

NetlogonResponder::~NetlogonResponder()
{
    if (m_thread.joinable()) {
        (void)::write(m_wake[1], "x", 1);
        m_thread.join();
    }
    for (int fd : {m_udp, m_tcp, m_dns, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

QByteArray NetlogonResponder::reply(const QByteArray& request, bool datagram) const
{
    const Mode mode = datagram ? m_config.udp : m_config.tcp;
    if (mode == Mode::Garbage)
        return QByteArrayLiteral("\x30\x03\x02\x01\xff garbage");
    if (mode == Mode::Oversized) // a message declaring 4 GiB, then more than the client accepts of it
        return QByteArrayLiteral("\x30\x84\xff\xff\xff\xff") + QByteArray(2 * 1024 * 1024, '\0');
    berval in{static_cast<ber_len_t>(request.size()), const_cast<char*>(request.constData())};
    BerElement* ber = ber_init(&in);
    if (!ber)
        return {};
    ber_int_t id = 0;
    ber_len_t len = 0;
    ber_tag_t op = LBER_ERROR;
    if (ber_scanf(ber, "{i", &id) != LBER_ERROR)
        op = ber_peek_tag(ber, &len);
    ber_free(ber, 1);
    const QString seen = QString::fromLatin1(request).toLower();
    if (op == LDAP_REQ_BIND)
        return result(id, LDAP_RES_BIND, LDAP_AUTH_METHOD_NOT_SUPPORTED);
    if (op != LDAP_REQ_SEARCH)
        return {};
    if (seen.contains(QLatin1String("netlogon")))
        return entry(id, {{"netlogon", netlogonValue(m_config)}}) + result(id, LDAP_RES_SEARCH_RESULT, 0);
    const QString dn =
        QStringLiteral("CN=DC1,CN=Servers,CN=%1,CN=Sites,CN=Configuration,DC=corp,DC=example,DC=com").arg(m_config.site);
    return entry(id, {{"dnsHostName", host().toUtf8()},
                      {"serverName", dn.toUtf8()},
                      {"defaultNamingContext", "DC=corp,DC=example,DC=com"},
                      {"isGlobalCatalogReady", "TRUE"},
                      {"supportedCapabilities", "1.2.840.113556.1.4.800"}}) +
           result(id, LDAP_RES_SEARCH_RESULT, 0);
}

QByteArray NetlogonResponder::dnsReply(const QByteArray& query) const
{
    // Header, then the one question: its name as labels, type and class.
    if (query.size() < 12)
        return {};
    QStringList labels;
    qsizetype at = 12;
    while (at < query.size() && query[at] != '\0') {
        const int len = static_cast<quint8>(query[at]);
        if (len > 63 || at + 1 + len >= query.size())
            return {};
        labels.append(QString::fromLatin1(query.mid(at + 1, len)));
        at += 1 + len;
    }
    if (at + 5 > query.size())
        return {};
    const quint16 type = qFromBigEndian<quint16>(query.constData() + at + 1);
    const QString name = labels.join(QLatin1Char('.')).toLower();
    const bool dcRecord = type == 33 /* SRV */ && name.startsWith(QLatin1String("_ldap._tcp.")) &&
                          name.endsWith(QLatin1String("._msdcs.") + domain());
    QByteArray r = query.left(at + 5);
    r[2] = static_cast<char>(0x84 | (query[2] & 0x01)); // an authoritative answer; recursion as asked
    r[3] = static_cast<char>(dcRecord ? 0x00 : 0x03);   // no error, or no such name
    const char counts[8] = {0, 1, 0, static_cast<char>(dcRecord ? 1 : 0), 0, 0, 0, 0};
    r.replace(4, 8, QByteArray(counts, 8));
    if (dcRecord) {
        QByteArray rdata(6, '\0');
        qToBigEndian<quint16>(0, rdata.data());       // priority
        qToBigEndian<quint16>(100, rdata.data() + 2); // weight
        qToBigEndian<quint16>(m_port, rdata.data() + 4);
        rdata += dnsName(m_config.address.toString());
        QByteArray rr = QByteArray::fromHex("c00c0021000100000258"); // the question's name, SRV, IN, 600 s
        rr += static_cast<char>(rdata.size() >> 8);
        rr += static_cast<char>(rdata.size() & 0xff);
        r += rr + rdata;
    }
    return r;
}

void NetlogonResponder::serve()
{
    // A late reply belongs to the connection that asked: once that closes, its socket number may be
    // reused by the next connection, which must not receive it.
    struct Client {
        quint64 id;
        QByteArray pending; // bytes not yet a whole message
    };
    struct Due {
        Clock::time_point at;
        int fd;
        quint64 client; // 0 for a datagram
        QByteArray bytes;
        sockaddr_in to;
    };
    std::vector<Due> due;
    std::map<int, Client> clients; // by socket
    quint64 lastClient = 0;
    for (;;) {
        std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}};
        if (m_udp >= 0)
            fds.push_back({m_udp, POLLIN, 0});
        if (m_config.tcp != Mode::Refuse)
            fds.push_back({m_tcp, POLLIN, 0});
        if (m_dns >= 0)
            fds.push_back({m_dns, POLLIN, 0});
        for (const auto& [fd, client] : clients)
            fds.push_back({fd, POLLIN, 0});
        int wait = -1;
        const auto now = Clock::now();
        for (const Due& d : due) {
            const int ms = std::max<int>(
                0, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(d.at - now).count()) + 1);
            wait = wait < 0 ? ms : std::min(wait, ms);
        }
        ::poll(fds.data(), fds.size(), wait);
        for (auto it = due.begin(); it != due.end();) {
            if (it->at > Clock::now()) {
                ++it;
                continue;
            }
            const auto client = clients.find(it->fd);
            if (it->client == 0)
                ::sendto(it->fd, it->bytes.constData(), it->bytes.size(), 0, reinterpret_cast<sockaddr*>(&it->to), sizeof it->to);
            else if (client != clients.end() && client->second.id == it->client)
                (void)::send(it->fd, it->bytes.constData(), it->bytes.size(), MSG_NOSIGNAL);
            it = due.erase(it);
        }
        auto answer = [&](int fd, quint64 client, const QByteArray& request, const sockaddr_in& from) {
            const bool datagram = client == 0;
            const Mode mode = datagram ? m_config.udp : m_config.tcp;
            if (mode == Mode::Silent)
                return;
            const QByteArray bytes = reply(request, datagram);
            if (bytes.isEmpty())
                return;
            const int delay = mode == Mode::Late ? m_config.lateMs : 0;
            due.push_back({Clock::now() + std::chrono::milliseconds(delay), fd, client, bytes, from});
        };
        for (const pollfd& p : fds) {
            if (!p.revents)
                continue;
            if (p.fd == m_wake[0]) {
                for (const auto& [fd, client] : clients)
                    ::close(fd);
                return;
            }
            if (p.fd == m_udp) {
                QByteArray buf(65536, '\0');
                sockaddr_in from{};
                socklen_t fl = sizeof from;
                const ssize_t n = ::recvfrom(m_udp, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fl);
                if (n > 0) {
                    ++m_udpSeen;
                    answer(m_udp, 0, buf.left(n), from);
                }
            } else if (p.fd == m_dns) {
                QByteArray buf(4096, '\0');
                sockaddr_in from{};
                socklen_t fl = sizeof from;
                const ssize_t n = ::recvfrom(m_dns, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fl);
                const QByteArray answer = n > 0 ? dnsReply(buf.left(n)) : QByteArray();
                if (!answer.isEmpty())
                    ::sendto(m_dns, answer.constData(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fl);
            } else if (p.fd == m_tcp) {
                const int c = ::accept4(m_tcp, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0)
                    clients[c] = Client{++lastClient, {}};
            } else {
                char chunk[4096];
                const ssize_t n = ::recv(p.fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    ::close(p.fd);
                    clients.erase(p.fd);
                    continue;
                }
                Client& client = clients[p.fd];
                client.pending.append(chunk, n);
                for (qsizetype len; (len = elementLength(client.pending)) > 0;) {
                    ++m_tcpSeen;
                    answer(p.fd, client.id, client.pending.left(len), {});
                    client.pending.remove(0, len);
                }
            }
        }
    }
}

} // namespace fw::test
