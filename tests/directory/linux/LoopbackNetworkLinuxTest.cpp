// The locator and the binds against a domain controller's LDAP port on a loopback
// address: answering, late, garbage, silent and refusing. Verdicts only; the upper bounds on elapsed
// time are there to catch a hang, not to measure.
#include "directory/NetlogonResponder.h"

#include "directory/LdapDirectory.h"
#include "directory/LdapSession.h"
#include "directory/linux/LinuxDcLocator.h"
#include "directory/LocateEach.h"
#include "directory/NetTools.h"
#include "directory/NetlogonPacket.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;
using Mode = NetlogonResponder::Mode;

namespace {

const QString kAddress = QStringLiteral("127.0.0.41");

NetlogonResponder::Config peer(Mode udp, Mode tcp, int lateMs = 4900)
{
    NetlogonResponder::Config c;
    c.udp = udp;
    c.tcp = tcp;
    c.lateMs = lateMs;
    return c;
}

LocatorOptions optionsFor(const NetlogonResponder& r)
{
    LocatorOptions o;
    o.ldapPort = r.port();
    return o;
}

DcLookupResult askServer(const NetlogonResponder& r, int deadlineMs)
{
    LinuxDcLocator loc(optionsFor(r), [] { return QString(); });
    DcLookupRequest q{kAddress, NetlogonResponder::domain(), 0};
    q.deadline = Deadline(deadlineMs);
    return loc.locate(q);
}

} // namespace

TEST(LoopbackLocator, TheServerAnswersOverUdpOrElseOverTcp)
{
    NetlogonResponder udp(peer(Mode::Answer, Mode::Answer));
    ASSERT_TRUE(udp.ok()) << udp.error().toStdString();
    DcLookupResult r = askServer(udp, 3000);
    ASSERT_EQ(r.error, 0) << r.detail.toStdString();
    EXPECT_EQ(r.info.domainControllerName, "\\\\dc1.corp.example.com");
    EXPECT_EQ(r.info.domainControllerAddress, "\\\\127.0.0.41");
    EXPECT_TRUE(r.info.flags & dsflag::Writable);
    EXPECT_EQ(r.info.dcSiteName, "Default-First-Site-Name");
    EXPECT_EQ(udp.tcpRequests(), 0);

    // Connectionless LDAP filtered: the same search over TCP.
    NetlogonResponder tcp(peer(Mode::Silent, Mode::Answer));
    ASSERT_TRUE(tcp.ok());
    r = askServer(tcp, 3000);
    ASSERT_EQ(r.error, 0) << r.detail.toStdString();
    EXPECT_GE(tcp.udpRequests(), 2); // sent and resent
    EXPECT_GE(tcp.tcpRequests(), 1);

    // An answer a little late still counts while the deadline allows it.
    NetlogonResponder late(peer(Mode::Late, Mode::Late, 300));
    ASSERT_TRUE(late.ok());
    r = askServer(late, 3000);
    EXPECT_EQ(r.error, 0) << r.detail.toStdString();
}

TEST(LoopbackLocator, FailuresAreUnreachableServersWithTheirReason)
{
    struct Case {
        const char* name;
        Mode udp, tcp;
        int lateMs, deadlineMs;
        const char* reason;
    } cases[] = {
        {"refused", Mode::Refuse, Mode::Refuse, 0, 3000, "Connection refused"},
        {"garbage", Mode::Garbage, Mode::Garbage, 0, 3000, "127.0.0.41"},
        {"silent", Mode::Silent, Mode::Silent, 0, 1500, "cut short at the 5-second deadline"},
        {"too late", Mode::Late, Mode::Late, 2500, 1500, "cut short at the 5-second deadline"},
        {"4 GiB declared", Mode::Silent, Mode::Oversized, 0, 3000, "over TCP: search of 127.0.0.41: Can't contact LDAP server"},
    };
    for (const Case& c : cases) {
        NetlogonResponder r(peer(c.udp, c.tcp, c.lateMs));
        ASSERT_TRUE(r.ok()) << r.error().toStdString();
        QElapsedTimer t;
        t.start();
        const DcLookupResult res = askServer(r, c.deadlineMs);
        EXPECT_EQ(res.error, dcerr::ServerUnavailable) << c.name;
        EXPECT_TRUE(res.detail.contains(QLatin1String(c.reason))) << c.name << ": " << res.detail.toStdString();
        EXPECT_LT(t.elapsed(), c.deadlineMs + 2000) << c.name;
    }
}

TEST(LoopbackLocator, AnExpiredDeadlineSendsNothing)
{
    NetlogonResponder r(peer(Mode::Answer, Mode::Answer));
    ASSERT_TRUE(r.ok());
    const DcLookupResult res = askServer(r, 0);
    EXPECT_EQ(res.error, dcerr::ServerUnavailable);
    EXPECT_EQ(res.detail, "netlogon ping of 127.0.0.41 cut short at the 5-second deadline");
    EXPECT_EQ(r.udpRequests() + r.tcpRequests(), 0);
}

// Domains looked up by their DNS SRV records (the peer is their DNS server too), all at once: the
// answers keep the order of the domains, and silent controllers cost one deadline, not one each.
TEST(LoopbackLocator, EachDomainAtOnceWithinOneDeadline)
{
    auto locatorFor = [](const NetlogonResponder& r) {
        LocatorOptions o = optionsFor(r);
        o.nameServer = {QHostAddress(kAddress), r.dnsPort()};
        return std::make_shared<LinuxDcLocator>(o, [] { return QStringLiteral("corp.example.com"); });
    };
    NetlogonResponder::Config c = peer(Mode::Answer, Mode::Answer);
    c.dns = true;
    NetlogonResponder dc(c);
    ASSERT_TRUE(dc.ok()) << dc.error().toStdString();
    const auto locator = locatorFor(dc);
    QList<DcLookupResult> r = locateEach(locator, {"CORP.example.com", "other.example.com", " ", "corp.example.com"},
                                         Deadline(3000));
    ASSERT_EQ(r.size(), 4);
    EXPECT_EQ(r[0].error, 0) << r[0].detail.toStdString();
    EXPECT_EQ(r[0].info.domainControllerName, "\\\\dc1.corp.example.com");
    EXPECT_EQ(r[1].error, dcerr::NoSuchDomain);
    EXPECT_TRUE(r[1].detail.contains("_ldap._tcp.dc._msdcs.other.example.com")) << r[1].detail.toStdString();
    EXPECT_EQ(r[2].error, dcerr::NoSuchDomain); // no name: not this computer's domain either
    EXPECT_EQ(r[3].error, 0) << r[3].detail.toStdString();

    c.udp = c.tcp = Mode::Silent;
    NetlogonResponder silent(c);
    ASSERT_TRUE(silent.ok()) << silent.error().toStdString();
    QElapsedTimer t;
    t.start();
    r = locateEach(locatorFor(silent), {"corp.example.com", "corp.example.com", "corp.example.com"}, Deadline(1500));
    EXPECT_LT(t.elapsed(), 3000); // one after the other would take 4.5 s
    for (const DcLookupResult& one : r)
        EXPECT_TRUE(one.error != 0 && one.detail.contains("cut short")) << one.detail.toStdString();
    EXPECT_GE(silent.udpRequests(), 3);
}

// Very many domains: a bounded number of lookups at a time, every domain answered, in order.
TEST(LocateEach, ManyDomainsAFewAtATime)
{
    struct Counting : DcLocatorBackend {
        std::atomic_int now{0};
        std::atomic_int most{0};
        DcLookupResult locate(const DcLookupRequest& request) override
        {
            const int n = ++now;
            for (int seen = most.load(); n > seen && !most.compare_exchange_weak(seen, n);) {
            }
            QThread::msleep(5);
            --now;
            DcLookupResult found{0, {}, {}};
            found.info.domainControllerName = QStringLiteral("\\\\dc.") + request.domainName;
            return found;
        }
    };
    auto counting = std::make_shared<Counting>();
    QStringList domains;
    for (int i = 0; i < 200; ++i)
        domains.append(QStringLiteral("d%1.example.com").arg(i));
    const QList<DcLookupResult> r = locateEach(counting, domains, Deadline(4000));
    ASSERT_EQ(r.size(), 200);
    EXPECT_EQ(r[137].info.domainControllerName, "\\\\dc.d137.example.com");
    EXPECT_LE(counting->most.load(), 16);
    EXPECT_GT(counting->most.load(), 1);
}

// A connection that closes before its late reply is due takes the reply with it: the next connection,
// which may get the same socket number in the peer, hears only its own.
TEST(LoopbackPeer, ALateReplyGoesOnlyToTheConnectionThatAsked)
{
    NetlogonResponder r(peer(Mode::Answer, Mode::Late, 300));
    ASSERT_TRUE(r.ok()) << r.error().toStdString();
    const QByteArray search = QByteArray::fromHex("30050201016300"); // message 1, a search request
    QTcpSocket first;
    first.connectToHost(QHostAddress(kAddress), r.port());
    ASSERT_TRUE(first.waitForConnected(2000));
    first.write(search);
    ASSERT_TRUE(first.waitForBytesWritten(2000));
    for (int i = 0; i < 200 && r.tcpRequests() == 0; ++i)
        QThread::msleep(10);
    ASSERT_EQ(r.tcpRequests(), 1);
    first.disconnectFromHost();
    QThread::msleep(100); // the peer closes its end

    QTcpSocket second;
    second.connectToHost(QHostAddress(kAddress), r.port());
    ASSERT_TRUE(second.waitForConnected(2000));
    EXPECT_FALSE(second.waitForReadyRead(800));
    second.write(search);
    ASSERT_TRUE(second.waitForReadyRead(2000));
}

TEST(LoopbackDirectory, BindReadsTheRootDseOrSaysWhyNot)
{
    // The peer's port, which changes from run to run, reads PORT in the error.
    auto bindTo = [](Mode tcp, int deadlineMs) {
        NetlogonResponder r(peer(Mode::Answer, tcp, 2500));
        EXPECT_TRUE(r.ok());
        DirectoryOptions o;
        o.useKerberos = false;
        o.ldapPort = r.port();
        Result<RootDse> b = LdapDirectory(o, nullptr, {}).bind(QStringLiteral("LDAP://127.0.0.41:389"), Deadline(deadlineMs));
        if (b)
            return b;
        FwError e = b.error();
        e.description.replace(QString::number(r.port()), QStringLiteral("PORT"));
        return Result<RootDse>(e);
    };
    Result<RootDse> b = bindTo(Mode::Answer, 3000);
    ASSERT_TRUE(b.ok()) << b.error().description.toStdString();
    EXPECT_EQ(b->dnsHostName, "dc1.corp.example.com");
    EXPECT_EQ(siteFromServerDn(b->serverName), "Default-First-Site-Name");
    EXPECT_FALSE(b->authenticated);

    const QString cutShort = QStringLiteral("LDAP search of 127.0.0.41 cut short at the 5-second deadline");
    b = bindTo(Mode::Silent, 1000);
    EXPECT_FALSE(b.ok());
    EXPECT_EQ(b.error().description, cutShort) << b.error().description.toStdString();
    b = bindTo(Mode::Late, 1000);
    EXPECT_FALSE(b.ok());
    EXPECT_EQ(b.error().description, cutShort) << b.error().description.toStdString();
    b = bindTo(Mode::Refuse, 3000);
    EXPECT_FALSE(b.ok());
    EXPECT_EQ(b.error().description, "cannot connect to 127.0.0.41 port PORT: Connection refused")
        << b.error().description.toStdString();
    b = bindTo(Mode::Garbage, 3000);
    EXPECT_FALSE(b.ok());
    EXPECT_TRUE(b.error().description.startsWith("search of 127.0.0.41: "))
        << b.error().description.toStdString(); // then libldap's reason
    // A reply declaring 4 GiB is refused when its length is read, not awaited until the deadline.
    b = bindTo(Mode::Oversized, 3000);
    EXPECT_FALSE(b.ok());
    EXPECT_EQ(b.error().description, "search of 127.0.0.41: Can't contact LDAP server") << b.error().description.toStdString();
}

// Only a DN under CN=Sites names a site.
TEST(LinuxLdapSession, SiteFromServerDn)
{
    EXPECT_EQ(siteFromServerDn(QStringLiteral("CN=DC1,CN=Servers,CN=Branch,CN=Sites,CN=Configuration,DC=x")), "Branch");
    EXPECT_EQ(siteFromServerDn(QStringLiteral("CN=DC1,CN=Servers,CN=Branch,CN=Other,DC=x")), "");
    EXPECT_EQ(siteFromServerDn(QStringLiteral("not a dn")), "");
}
