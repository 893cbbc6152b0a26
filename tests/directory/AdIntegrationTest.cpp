// Locator, binds, server tests and the command line against a real Samba AD forest:
//   dc1 writable DC + GC in Default-First-Site-Name, dc2 read-only DC + GC in Branch.
#include "AdForest.h"
#include "ServerTexts.h"
#include "support/CliProcess.h"
#include "support/TestContext.h"

#include "directory/CGetDcName.h"
#include "directory/LdapDirectory.h"
#include "directory/LdapSession.h"
#include "directory/linux/LinuxDcLocator.h"
#include "directory/LocateEach.h"
#include "directory/NetlogonPacket.h"
#include "directory/ServerTests.h"
#include "directory/WaitUi.h"
#include "directory/ui/WidgetWaitUi.h"
#include "env/WorkStationInfo.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using namespace fw;
using namespace fw::test;

namespace {

const AdForest* gForest = nullptr;

QString env(const char* key)
{
    return gForest->get(QString::fromLatin1(key));
}

QHostAddress addr(const char* key)
{
    return QHostAddress(env(key));
}

std::shared_ptr<LinuxDcLocator> locatorFrom(const char* clientKey)
{
    LocatorOptions o;
    o.sourceAddress = addr(clientKey);
    const QString domain = gForest->domain();
    return std::make_shared<LinuxDcLocator>(o, [domain] { return domain; });
}

void kdestroy()
{
    QFile::remove(qEnvironmentVariable("KRB5CCNAME").mid(5));
}

bool kinitAdministrator()
{
    QProcess p;
    p.start(QStringLiteral("kinit"), {QStringLiteral("administrator@") + env("FOREST_REALM")});
    if (!p.waitForStarted(5000))
        return false;
    p.write((env("FOREST_ADMINPASS") + QLatin1Char('\n')).toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(15000)) {
        p.kill();
        return false;
    }
    return p.exitCode() == 0;
}

// A context whose directory and locator are the real ones, reaching the forest from one client address.
class ForestContext {
public:
    explicit ForestContext(const char* clientKey)
    {
        locator = locatorFrom(clientKey);
        DirectoryOptions d;
        d.sourceAddress = addr(clientKey);
        const QString domain = gForest->domain();
        directory = std::make_shared<LdapDirectory>(d, locator, [domain] { return domain; });
        t.ctx().seams().locator = locator;
        t.ctx().seams().directory = directory;
        t.workstation().computer->domain = domain;
        t.ctx().workstation().Refresh();
    }
    TestContext t;
    std::shared_ptr<LinuxDcLocator> locator;
    std::shared_ptr<LdapDirectory> directory;
    // As in the window: binds and lookups run on a worker thread while events are processed.
    QWidget window;
    WidgetWaitUi wait{&window};
};

} // namespace

TEST(AdLocator, LocatesTheDomainsDcInTheClientsSiteWithItsFlags)
{
    auto loc = locatorFrom("FOREST_CLIENT1_IP");
    CGetDcName dc(loc); // creation looks up this computer's domain
    ASSERT_EQ(dc.LastError(), 0) << dc.LastErrorDetail().toStdString();
    EXPECT_EQ(dc.DomainControllerName(), "\\\\" + env("FOREST_DC1"));
    EXPECT_EQ(dc.DomainControllerAddress(), "\\\\" + env("FOREST_DC1_IP"));
    EXPECT_EQ(dc.DomainControllerAddressType(), 1);
    EXPECT_EQ(dc.DomainName(), gForest->domain());
    EXPECT_EQ(dc.DnsForestName(), gForest->domain());
    EXPECT_NE(dc.DomainGuid(), "{00000000-0000-0000-0000-000000000000}");
    const quint32 f = static_cast<quint32>(dc.FlagsOut());
    const quint32 expected = dsflag::Writable | dsflag::Pdc | dsflag::Gc | dsflag::Kdc | dsflag::DnsController;
    EXPECT_EQ(f & expected, expected);
    EXPECT_EQ(dc.DcSiteName(), env("FOREST_SITE1"));
    EXPECT_EQ(dc.ClientSiteName(), env("FOREST_SITE1"));

    // From the branch site the read-only DC there answers.
    auto branch = locatorFrom("FOREST_CLIENT2_IP");
    CGetDcName ro(branch, CGetDcName::NoInitialLookup::Tag);
    ro.setDomainName(gForest->domain());
    ro.Refresh();
    ASSERT_EQ(ro.LastError(), 0) << ro.LastErrorDetail().toStdString();
    EXPECT_EQ(ro.DomainControllerName(), "\\\\" + env("FOREST_DC2"));
    EXPECT_FALSE(static_cast<quint32>(ro.FlagsOut()) & dsflag::Writable);
    EXPECT_TRUE(static_cast<quint32>(ro.FlagsOut()) & dsflag::SelectSecretDomain6);
    EXPECT_EQ(ro.DcSiteName(), env("FOREST_SITE2"));
    EXPECT_EQ(ro.ClientSiteName(), env("FOREST_SITE2"));

    // Asking for a writable DC from there finds dc1 in the other site.
    ro.setFlagsIn(dcreq::WritableRequired, true);
    ro.Refresh();
    ASSERT_EQ(ro.LastError(), 0);
    EXPECT_EQ(ro.DomainControllerName(), "\\\\" + env("FOREST_DC1"));
    EXPECT_EQ(ro.DcSiteName(), env("FOREST_SITE1"));
    EXPECT_EQ(ro.ClientSiteName(), env("FOREST_SITE2"));
}

// A server asked directly (by name in the server tests below) answers for itself, also when named by its address.
TEST(AdLocator, AServerAskedByAddressAnswersWithItsOwnFlags)
{
    auto loc = locatorFrom("FOREST_CLIENT2_IP");
    CGetDcName dc(loc, CGetDcName::NoInitialLookup::Tag);
    dc.setDomainName(gForest->domain());
    dc.setComputerName(env("FOREST_DC1_IP"));
    dc.Refresh();
    ASSERT_EQ(dc.LastError(), 0) << dc.LastErrorDetail().toStdString();
    EXPECT_TRUE(static_cast<quint32>(dc.FlagsOut()) & dsflag::Writable);
    EXPECT_EQ(dc.DcSiteName(), env("FOREST_SITE1"));
    EXPECT_EQ(dc.ClientSiteName(), env("FOREST_SITE2")); // the site of where we ask from
}

TEST(AdLocator, FailuresAreAnsweredWithinFiveSeconds)
{
    auto loc = locatorFrom("FOREST_CLIENT1_IP");
    struct Case {
        DcLookupRequest request;
        qint32 error;
    };
    const QList<Case> cases = {
        {{QString(), QStringLiteral("nowhere.example.com"), 0}, dcerr::NoSuchDomain},
        {{QString(), QStringLiteral("bad..name"), 0}, dcerr::InvalidDomainName},
        {{QStringLiteral("nothere.") + gForest->domain(), QString(), 0}, dcerr::ServerUnavailable},
        {{env("FOREST_DEAD_IP"), gForest->domain(), 0}, dcerr::ServerUnavailable},
        // An address that exists but where no directory listens.
        {{env("FOREST_CLIENT2_IP"), gForest->domain(), 0}, dcerr::ServerUnavailable},
        // A DC asked for a domain it does not serve.
        {{gForest->dc1(), QStringLiteral("other.example.com"), 0}, dcerr::NoSuchDomain},
    };
    for (const Case& c : cases) {
        QElapsedTimer t;
        t.start();
        const DcLookupResult r = loc->locate(c.request);
        EXPECT_EQ(r.error, c.error) << c.request.computerName.toStdString() << " " << c.request.domainName.toStdString() << ": "
                                    << r.detail.toStdString();
        EXPECT_LT(t.elapsed(), 5000) << c.request.computerName.toStdString();
    }
}

// As the metrics server's probe runs it: every domain at once on one locator (one site cache), one deadline.
TEST(AdLocator, EachDomainLocatedAtOnce)
{
    auto loc = locatorFrom("FOREST_CLIENT2_IP");
    const QList<DcLookupResult> r = locateEach(
        loc, {gForest->domain(), QStringLiteral("nowhere.example.com"), gForest->domain().toUpper()}, Deadline(4500));
    ASSERT_EQ(r.size(), 3);
    for (int i : {0, 2}) {
        EXPECT_EQ(r[i].error, 0) << r[i].detail.toStdString();
        EXPECT_EQ(r[i].info.domainControllerName, "\\\\" + env("FOREST_DC2")) << i;
    }
    EXPECT_EQ(r[1].error, dcerr::NoSuchDomain);
}

TEST(AdDirectory, BindsAnonymouslyOrWithAKerberosTicket)
{
    kdestroy();
    ForestContext f("FOREST_CLIENT1_IP");
    Result<RootDse> b = f.directory->bind(QStringLiteral("LDAP://%1:389").arg(gForest->dc1()), Deadline::forVerdict());
    ASSERT_TRUE(b.ok()) << b.error().description.toStdString();
    EXPECT_FALSE(b->authenticated);
    EXPECT_TRUE(b->activeDirectory);
    EXPECT_EQ(siteFromServerDn(b->serverName), env("FOREST_SITE1"));

    // Global catalogs on 3268, both DCs.
    for (const QString& s : {gForest->dc1(), gForest->dc2()}) {
        b = f.directory->bind(QStringLiteral("GC://%1:3268").arg(s), Deadline::forVerdict());
        EXPECT_TRUE(b.ok()) << s.toStdString() << ": " << b.error().description.toStdString();
        EXPECT_TRUE(b->globalCatalogReady);
    }
    EXPECT_EQ(f.directory->siteOfServer(gForest->dc2(), Deadline::forVerdict()).valueOr(QString()), env("FOREST_SITE2"));
    EXPECT_EQ(f.directory->siteOfComputer(QStringLiteral("VELMORA01"), Deadline::forVerdict()).valueOr(QString()),
              env("FOREST_SITE1"));

    ASSERT_TRUE(kinitAdministrator());
    b = f.directory->bind(QStringLiteral("LDAP://%1:389").arg(gForest->dc1()), Deadline::forVerdict());
    ASSERT_TRUE(b.ok()) << b.error().description.toStdString();
    EXPECT_TRUE(b->authenticated);
    b = f.directory->bind(QStringLiteral("GC://%1:3268").arg(gForest->dc1()), Deadline::forVerdict());
    EXPECT_TRUE(b.ok()) << b.error().description.toStdString();
    EXPECT_TRUE(b->authenticated);
    kdestroy();
}

TEST(AdDirectory, UnreachableServersFailWithinFiveSeconds)
{
    ForestContext f("FOREST_CLIENT1_IP");
    const QStringList paths = {
        QStringLiteral("LDAP://nothere.%1:389").arg(gForest->domain()),
        QStringLiteral("LDAP://%1:389").arg(env("FOREST_DEAD_IP")),
        QStringLiteral("LDAP://%1:389").arg(env("FOREST_CLIENT2_IP")), // up, but nothing listens
        QStringLiteral("GC://%1:3268").arg(env("FOREST_CLIENT1_IP")),
        QStringLiteral("LDAP://:389"),
    };
    for (const QString& p : paths) {
        QElapsedTimer t;
        t.start();
        const Result<RootDse> b = f.directory->bind(p, Deadline::forVerdict());
        EXPECT_FALSE(b.ok()) << p.toStdString();
        EXPECT_FALSE(b.error().description.isEmpty());
        EXPECT_LT(t.elapsed(), 5000) << p.toStdString();
    }
}

TEST(AdServerTests, ButtonsReportFoundSiteAndWritable)
{
    kdestroy();
    ForestContext f("FOREST_CLIENT1_IP");
    ServerTests tests(f.t.ctx(), f.wait);
    QStringList& shown = f.t.prompter().messages;

    tests.cmdDCTestConnection_Click(gForest->dc1());
    EXPECT_EQ(shown.last(), server_texts::kDcFound);
    tests.cmdDCTestConnection_Click(gForest->dc2());
    EXPECT_EQ(shown.last(), server_texts::kDcOtherSite);
    tests.cmdGCTestConnection_Click(gForest->dc1());
    EXPECT_EQ(shown.last(), server_texts::kGcFound);
    tests.cmdGCTestConnection_Click(gForest->dc2());
    EXPECT_EQ(shown.last(), server_texts::kGcOtherSite);

    // Manual primary: the writable dc1 stays; the read-only dc2 gives the site warning, then the
    // not-writable text, and is cleared.
    QString field = gForest->dc1();
    auto o = tests.cmdTestDCManualPrimary_Click(field);
    EXPECT_TRUE(o.writable);
    EXPECT_EQ(field, gForest->dc1());
    shown.clear();
    field = gForest->dc2();
    o = tests.cmdTestDCManualPrimary_Click(field);
    EXPECT_EQ(shown, (QStringList{server_texts::kDcOtherSite, server_texts::kNotWritable}));
    EXPECT_EQ(field, "");

    // Manual secondary that does not exist: the not-found text, then the writable check's second message,
    // the whole within the time bound of each of its steps.
    shown.clear();
    field = QStringLiteral("nothere.") + gForest->domain();
    QElapsedTimer t;
    t.start();
    o = tests.cmdTestDCManualSecondary_Click(field);
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(shown, (QStringList{server_texts::kDcNotFound, server_texts::kNotWritable}));
    EXPECT_EQ(field, "");
}

TEST(AdServerTests, FromTheBranchSiteItsOwnDcIsLocal)
{
    ForestContext f("FOREST_CLIENT2_IP");
    ServerTests tests(f.t.ctx(), f.wait);
    QStringList& shown = f.t.prompter().messages;
    tests.cmdGCTestConnection_Click(gForest->dc2());
    EXPECT_EQ(shown.last(), server_texts::kGcFound);
    tests.cmdDCTestConnection_Click(gForest->dc1());
    EXPECT_EQ(shown.last(), server_texts::kDcOtherSite);
    // The server typed in capitals is the same server in the same site.
    tests.cmdDCTestConnection_Click(gForest->dc2().toUpper());
    EXPECT_EQ(shown.last(), server_texts::kDcFound);
}

// The commands' exit codes and JSON against the real forest; what the lookups find is tested above.
TEST(AdCli, LocateAndTestServer)
{
    auto json = [](const QStringList& args, int* rc) {
        const CliRun r = runCli(QStringLiteral(FERROWIND_CLI), args + QStringList{QStringLiteral("--json")},
                                QStringLiteral("/nonexistent"));
        *rc = r.code;
        return QJsonDocument::fromJson(r.out.toUtf8()).object();
    };
    int rc = 0;
    QJsonObject o = json({QStringLiteral("locate"), gForest->domain(), QStringLiteral("--source"), env("FOREST_CLIENT2_IP")},
                         &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(o.value("DomainControllerName").toString(), "\\\\" + gForest->dc2());
    EXPECT_FALSE(o.value("FlagNames").toString().contains("writable"));

    o = json({QStringLiteral("locate"), QStringLiteral("nowhere.example.com")}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(o.value("LastError").toInt(), 1355);

    const QStringList dcFromSite1 = {QStringLiteral("--dc"), QStringLiteral("--domain"), gForest->domain(),
                                     QStringLiteral("--source"), env("FOREST_CLIENT1_IP")};
    o = json(QStringList{QStringLiteral("test-server"), gForest->dc2()} + dcFromSite1, &rc);
    EXPECT_EQ(rc, 1); // found, but read-only
    EXPECT_TRUE(o.value("found").toBool());
    EXPECT_FALSE(o.value("sameSite").toBool());
    EXPECT_FALSE(o.value("writable").toBool());

    o = json(QStringList{QStringLiteral("test-server"), gForest->dc1()} + dcFromSite1, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(o.value("sameSite").toBool());
    EXPECT_TRUE(o.value("writable").toBool());
}

int main(int argc, char** argv)
{
    const int outer = runInsideForest(argc, argv, QStringLiteral(FW_FOREST_STATE), QStringLiteral(FW_FOREST_SCRIPT));
    if (outer >= 0)
        return outer;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const auto forest = AdForest::load(qEnvironmentVariable("FW_FOREST_STATE"));
    if (!forest) {
        std::fprintf(stderr, "no forest.env in %s\n", qPrintable(qEnvironmentVariable("FW_FOREST_STATE")));
        return 1;
    }
    gForest = &*forest;
    return RUN_ALL_TESTS();
}
