#include "directory/linux/LinuxDcLocator.h"

#include "directory/LdapSession.h"
#include "directory/NetTools.h"
#include "directory/linux/LinuxSockets.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {
namespace {

constexpr quint32 kNtVersion = ntver::V5 | ntver::V5Ex | ntver::V5ExWithIp;

struct Flight {
    int index = 0;
    int fd = -1;
    int messageId = 0;
    QByteArray request;
    qint64 sentAt = 0;
    bool resent = false;
};

void addDetail(QString* detail, const QString& line)
{
    if (!detail || line.isEmpty())
        return;
    if (!detail->isEmpty())
        detail->append(QStringLiteral("; "));
    detail->append(line);
}

QString lower(const QString& s)
{
    QString out = s.toLower();
    if (out.endsWith(QLatin1Char('.')))
        out.chop(1);
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------

std::optional<PingAnswer> NetlogonPinger::ping(const QList<Target>& targets, const QString& domain, const Accept& accept,
                                               const Deadline& deadline, QString* detail, int* declined)
{
    if (declined)
        *declined = 0;
    if (targets.isEmpty())
        return std::nullopt;
    QList<int> silent;
    if (auto a = pingUdp(targets, domain, accept, deadline, silent, detail, declined))
        return a;
    // Connectionless LDAP may be filtered; ask the silent ones over TCP within what is left.
    for (int i : silent) {
        if (deadline.expired()) {
            addDetail(detail, Deadline::cutShort(QStringLiteral("netlogon search over TCP"), targets[i].host));
            break;
        }
        bool no = false;
        // One silent candidate may not take all that is left while others wait.
        const Deadline share(i == silent.last() ? deadline.remainingMs() : deadline.shareMs(m_options.tcpShareMs));
        const Result<NetlogonReply> r = pingTcp(targets[i], domain, share, &no);
        if (!r) {
            addDetail(detail, QStringLiteral("%1 over TCP: %2").arg(targets[i].host, r.error().description));
            if (no && declined)
                ++*declined;
            continue;
        }
        if (accept(*r))
            return PingAnswer{targets[i].host, targets[i].address, *r};
        if (declined)
            ++*declined;
        addDetail(detail, QStringLiteral("%1 answered but does not fit the request").arg(targets[i].host));
    }
    return std::nullopt;
}

std::optional<PingAnswer> NetlogonPinger::pingUdp(const QList<Target>& targets, const QString& domain, const Accept& accept,
                                                  const Deadline& deadline, QList<int>& silent, QString* detail, int* declined)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 deadlineMs = clock.elapsed() + deadline.remainingMs();
    QList<Flight> flying;
    int next = 0;
    qint64 lastStart = -m_options.pingStaggerMs;
    std::optional<PingAnswer> won;
    auto finish = [&](int slot) {
        ::close(flying[slot].fd);
        flying.removeAt(slot);
    };
    while (!won && (next < targets.size() || !flying.isEmpty())) {
        const qint64 now = clock.elapsed();
        if (now >= deadlineMs) {
            for (const Flight& f : flying) {
                silent.append(f.index);
                addDetail(detail, Deadline::cutShort(QStringLiteral("netlogon ping"), targets[f.index].host));
            }
            break;
        }
        // Start the next candidate when its turn has come.
        if (next < targets.size() && flying.size() < m_options.maxPingsInFlight && now - lastStart >= m_options.pingStaggerMs) {
            const Target& t = targets[next];
            const Result<int> connected = net::connectUdp(t.address, m_options.ldapPort, m_options.sourceAddress);
            Flight f;
            f.index = next++;
            lastStart = now;
            if (!connected) {
                addDetail(detail, QStringLiteral("%1: %2").arg(t.host, connected.error().description));
                continue;
            }
            const int fd = *connected;
            f.fd = fd;
            f.messageId = m_nextMessageId++;
            f.request = netlogon::encodePingRequest(f.messageId, domain, kNtVersion);
            f.sentAt = now;
            if (::send(fd, f.request.constData(), static_cast<size_t>(f.request.size()), 0) < 0) {
                addDetail(detail, QStringLiteral("%1: %2").arg(t.host, QString::fromLocal8Bit(std::strerror(errno))));
                ::close(fd);
                continue;
            }
            flying.append(f);
            continue;
        }
        // Candidates whose time is up stay silent; one resend half way.
        for (int i = static_cast<int>(flying.size()) - 1; i >= 0; --i) {
            Flight& f = flying[i];
            if (now - f.sentAt >= m_options.pingTimeoutMs) {
                silent.append(f.index);
                addDetail(detail, QStringLiteral("%1: no netlogon answer within %2 ms")
                                      .arg(targets[f.index].host)
                                      .arg(m_options.pingTimeoutMs));
                finish(i);
            } else if (!f.resent && now - f.sentAt >= m_options.pingTimeoutMs / 2) {
                f.resent = true;
                ::send(f.fd, f.request.constData(), static_cast<size_t>(f.request.size()), 0);
            }
        }
        if (flying.isEmpty() && next >= targets.size())
            break;
        // Wait for an answer, at most until the next thing to do (with nobody in flight, poll only sleeps
        // until the next candidate's turn).
        qint64 wait = deadlineMs - now;
        for (const Flight& f : flying)
            wait = std::min(wait,
                            f.resent ? f.sentAt + m_options.pingTimeoutMs - now : f.sentAt + m_options.pingTimeoutMs / 2 - now);
        if (next < targets.size() && flying.size() < m_options.maxPingsInFlight)
            wait = std::min(wait, lastStart + m_options.pingStaggerMs - now);
        std::vector<pollfd> fds;
        for (const Flight& f : flying)
            fds.push_back({f.fd, POLLIN, 0});
        const int rc = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<qint64>(wait, 1)));
        if (rc <= 0)
            continue;
        for (int i = static_cast<int>(fds.size()) - 1; i >= 0 && !won; --i) {
            if (!(fds[i].revents & (POLLIN | POLLERR)))
                continue;
            Flight& f = flying[i];
            QByteArray buf(65536, '\0');
            const ssize_t n = ::recv(f.fd, buf.data(), static_cast<size_t>(buf.size()), 0);
            if (n < 0) {
                const int e = errno;
                addDetail(detail, QStringLiteral("%1: %2").arg(targets[f.index].host, QString::fromLocal8Bit(std::strerror(e))));
                // Refused over UDP: the TCP search may still get through.
                silent.append(f.index);
                (void)e;
                finish(i);
                continue;
            }
            buf.truncate(n);
            bool no = false;
            const Result<QByteArray> value = netlogon::decodePingReply(buf, f.messageId, &no);
            if (!value) {
                addDetail(detail, QStringLiteral("%1: %2").arg(targets[f.index].host, value.error().description));
                if (no) {
                    // It answered: it serves no such domain. No point asking it again over TCP.
                    if (declined)
                        ++*declined;
                    finish(i);
                }
                continue; // otherwise a stray or malformed datagram; keep waiting for this candidate
            }
            const Result<NetlogonReply> reply = netlogon::parseResponseEx(*value);
            if (!reply) {
                addDetail(detail,
                          QStringLiteral("%1: bad netlogon reply (%2)").arg(targets[f.index].host, reply.error().description));
                finish(i);
                continue;
            }
            if (accept(*reply)) {
                won = PingAnswer{targets[f.index].host, targets[f.index].address, *reply};
            } else {
                if (declined)
                    ++*declined;
                addDetail(detail, QStringLiteral("%1 answered but does not fit the request").arg(targets[f.index].host));
            }
            finish(i);
        }
    }
    for (const Flight& f : flying)
        ::close(f.fd);
    return won;
}

Result<NetlogonReply> NetlogonPinger::pingTcp(const Target& t, const QString& domain, const Deadline& deadline, bool* declined)
{
    LdapSession s;
    if (const Result<void> opened = s.open(t.host, t.address, m_options.ldapPort, m_options.sourceAddress, deadline); !opened)
        return opened.error();
    bool empty = false;
    const Result<LdapEntry> entry = s.readBase(QByteArray(), netlogon::pingFilter(domain, kNtVersion),
                                               {QByteArrayLiteral("Netlogon")}, &empty);
    if (!entry) {
        if (declined)
            *declined = empty;
        return entry.error();
    }
    const QList<QByteArray> v = entry->value(QStringLiteral("netlogon"));
    if (v.isEmpty())
        return FwError{0, QStringLiteral("no Netlogon value")};
    Result<NetlogonReply> r = netlogon::parseResponseEx(v.first());
    if (!r)
        return FwError{0, QStringLiteral("bad netlogon reply (%1)").arg(r.error().description)};
    return r;
}

// ---------------------------------------------------------------------------------------------------------

LinuxDcLocator::LinuxDcLocator(LocatorOptions options, std::function<QString()> primaryDomain)
    : m_options(std::move(options)), m_primaryDomain(std::move(primaryDomain))
{
}

bool LinuxDcLocator::meetsRequirements(const NetlogonReply& r, quint32 f)
{
    using namespace dcreq;
    auto need = [&](quint32 req, quint32 have) { return !(f & req) || (r.flags & have); };
    return need(GcServerRequired, dsflag::Gc) && need(PdcRequired, dsflag::Pdc) && need(KdcRequired, dsflag::Kdc) &&
           need(TimeservRequired, dsflag::Timeserv) && need(WritableRequired, dsflag::Writable) &&
           need(DirectoryServiceRequired, dsflag::Ds) && need(WebServiceRequired, dsflag::Ws);
}

DomainControllerInfo LinuxDcLocator::infoFromReply(const PingAnswer& a, quint32 f)
{
    const NetlogonReply& r = a.reply;
    DomainControllerInfo i;
    const bool flat = (f & dcreq::ReturnFlatName) || r.dnsHostName.isEmpty();
    i.domainControllerName = QStringLiteral("\\\\") + (flat ? r.netbiosComputerName : r.dnsHostName);
    const QString addr = a.address.isNull() ? r.dcAddress : a.address.toString();
    i.domainControllerAddress = QStringLiteral("\\\\") + addr;
    i.domainControllerAddressType = kDsInetAddress;
    i.domainGuid = r.domainGuid;
    i.domainName = flat ? r.netbiosDomainName : r.dnsDomainName;
    i.dnsForestName = r.dnsForestName;
    i.flags = r.flags;
    if (!flat)
        i.flags |= dsflag::DnsController | dsflag::DnsDomain | dsflag::DnsForest;
    i.dcSiteName = r.dcSiteName;
    i.clientSiteName = r.clientSiteName;
    return i;
}

DcLookupResult LinuxDcLocator::locate(const DcLookupRequest& request)
{
    if (const std::optional<DcLookupResult> refused = refusedLookup(request))
        return *refused;
    if (!request.computerName.isEmpty())
        return locateByName(request);
    const QString domain = request.domainName.isEmpty() && m_primaryDomain ? m_primaryDomain() : request.domainName;
    if (domain.isEmpty())
        return {dcerr::NoSuchDomain, {}, QStringLiteral("this computer belongs to no domain")};
    if (!net::isValidDnsName(domain))
        return {dcerr::InvalidDomainName, {}, QStringLiteral("'%1' is not a valid domain name").arg(domain)};
    return locateInDomain(domain, request.flags, request.deadline);
}

QString LinuxDcLocator::clientSite(const QString& domain)
{
    std::lock_guard lock(m_siteMutex);
    return m_clientSite.value(domain);
}

DcLookupResult LinuxDcLocator::locateByName(const DcLookupRequest& request)
{
    // The computer named runs the lookup; asked directly, a domain controller answers for itself.
    QString host = request.computerName;
    while (host.startsWith(QLatin1Char('\\')))
        host.remove(0, 1);
    if (QHostAddress(host).isNull() && !net::isValidHostName(host))
        return {dcerr::ServerUnavailable, {}, QStringLiteral("'%1' is not a host name").arg(host)};
    if (request.deadline.expired())
        return {dcerr::ServerUnavailable, {}, Deadline::cutShort(QStringLiteral("netlogon ping"), host)};
    const Result<QList<QHostAddress>> addrs = net::resolveHost(host, request.deadline);
    if (!addrs)
        return {dcerr::ServerUnavailable, {}, addrs.error().description};
    QList<NetlogonPinger::Target> targets;
    for (const QHostAddress& a : *addrs)
        targets.append({host, a});
    NetlogonPinger pinger(m_options);
    // A domain controller answers only for a domain it names: without one, the computer's own DNS domain
    // (the name less its host label), else this computer's domain.
    QString domain = request.domainName;
    if (domain.isEmpty() && QHostAddress(host).isNull() && host.contains(QLatin1Char('.')))
        domain = host.section(QLatin1Char('.'), 1);
    if (domain.isEmpty() && m_primaryDomain)
        domain = m_primaryDomain();
    QString detail;
    int declined = 0;
    const auto a = pinger.ping(
        targets, domain,
        [&](const NetlogonReply& r) {
            if (!domain.isEmpty() && lower(r.dnsDomainName) != lower(domain) &&
                r.netbiosDomainName.compare(domain, Qt::CaseInsensitive) != 0)
                return false;
            return meetsRequirements(r, request.flags);
        },
        request.deadline, &detail, &declined);
    if (a)
        return {dcerr::Ok, infoFromReply(*a, request.flags), {}};
    return {declined > 0 ? dcerr::NoSuchDomain : dcerr::ServerUnavailable, {}, detail};
}

QList<NetlogonPinger::Target> LinuxDcLocator::candidates(const QString& srvName, QString* detail, bool* notFound,
                                                         const Deadline& deadline)
{
    const Result<QList<net::SrvTarget>> srv = net::lookupSrv(srvName, deadline, notFound, m_options.nameServer);
    if (!srv) {
        addDetail(detail, srv.error().description);
        return {};
    }
    QList<NetlogonPinger::Target> out;
    for (const net::SrvTarget& t : *srv) {
        if (deadline.expired()) {
            addDetail(detail, Deadline::cutShort(QStringLiteral("address lookup"), t.host));
            break;
        }
        const Result<QList<QHostAddress>> addrs = net::resolveHost(t.host, deadline);
        if (!addrs) {
            addDetail(detail, addrs.error().description);
            continue;
        }
        for (const QHostAddress& a : *addrs)
            out.append({t.host, a});
    }
    return out;
}

DcLookupResult LinuxDcLocator::locateInDomain(const QString& domainIn, quint32 flags, const Deadline& deadline)
{
    const QString domain = lower(domainIn);
    if (deadline.expired())
        return {dcerr::NoSuchDomain, {}, Deadline::cutShort(QStringLiteral("DNS SRV lookup"), domain)};
    const QString kind = (flags & dcreq::GcServerRequired) ? QStringLiteral("gc")
                         : (flags & dcreq::PdcRequired)    ? QStringLiteral("pdc")
                                                           : QStringLiteral("dc");
    auto srvName = [&](const QString& site) {
        if (kind == QLatin1String("pdc"))
            return QStringLiteral("_ldap._tcp.pdc._msdcs.%1").arg(domain);
        if (site.isEmpty())
            return QStringLiteral("_ldap._tcp.%1._msdcs.%2").arg(kind, domain);
        return QStringLiteral("_ldap._tcp.%1._sites.%2._msdcs.%3").arg(site, kind, domain);
    };
    auto accept = [&](const NetlogonReply& r) {
        if (kind != QLatin1String("gc") && lower(r.dnsDomainName) != domain)
            return false;
        return meetsRequirements(r, flags);
    };
    auto pingWithin = [&](const QList<NetlogonPinger::Target>& targets, QString* detail) -> std::optional<PingAnswer> {
        NetlogonPinger pinger(m_options);
        return pinger.ping(targets, domain, accept, deadline, detail);
    };

    QString detail;
    std::optional<PingAnswer> answer;
    // The site the DCs placed us in last time: its own DCs first.
    const QString knownSite = (flags & dcreq::ForceRediscovery) ? QString() : clientSite(domain);
    if (!knownSite.isEmpty() && kind != QLatin1String("pdc")) {
        const auto siteTargets = candidates(srvName(knownSite), &detail, nullptr, deadline);
        answer = pingWithin(siteTargets, &detail);
    }
    bool notFound = false;
    if (!answer) {
        const auto all = candidates(srvName(QString()), &detail, &notFound, deadline);
        if (all.isEmpty())
            return {dcerr::NoSuchDomain, {}, detail};
        answer = pingWithin(all, &detail);
        // A DC outside our site answered: prefer one of the site it names as ours.
        if (answer && !answer->reply.clientSiteName.isEmpty() && kind != QLatin1String("pdc") &&
            answer->reply.clientSiteName.compare(answer->reply.dcSiteName, Qt::CaseInsensitive) != 0 &&
            answer->reply.clientSiteName.compare(knownSite, Qt::CaseInsensitive) != 0) {
            QString siteDetail;
            const auto siteTargets = candidates(srvName(answer->reply.clientSiteName), &siteDetail, nullptr, deadline);
            if (auto closer = pingWithin(siteTargets, &siteDetail))
                answer = closer;
        }
    }
    if (!answer)
        return {dcerr::NoSuchDomain, {}, detail};
    if (!answer->reply.clientSiteName.isEmpty()) {
        std::lock_guard lock(m_siteMutex);
        m_clientSite.insert(domain, answer->reply.clientSiteName);
    }
    return {dcerr::Ok, infoFromReply(*answer, flags), {}};
}

} // namespace fw
