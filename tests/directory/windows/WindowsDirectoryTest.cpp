#include "directory/LdapDirectory.h"
#include "directory/LdapSession.h"
#include "directory/windows/WindowsDcLocator.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <gtest/gtest.h>

using namespace fw;

// The Windows locator answers within the verdict's bound with the system's own error and says it came from
// DsGetDcName. Under Wine, which has no domain to locate in, that is an error, never a controller.
TEST(WindowsDcLocator, AnswersWithinTheBoundWithTheSystemsError)
{
    WindowsDcLocator locator;
    DcLookupRequest request{QString(), QStringLiteral("corp.example.invalid"), 0};
    QElapsedTimer timer;
    timer.start();
    const DcLookupResult r = locator.locate(request);
    EXPECT_LT(timer.elapsed(), 5000 + 1000);
    EXPECT_NE(r.error, dcerr::Ok);
    EXPECT_TRUE(r.detail.startsWith("DsGetDcName: ")) << r.detail.toStdString();
    EXPECT_FALSE(locator.setSourceAddress(QHostAddress("127.0.0.1")));
}

// A directory server that does not answer LDAP is reported with its address, in time (Windows' wldap32 finds out
// when it connects, Wine's at the first search); a chosen source address is refused with the reason, as wldap32
// cannot bind one.
TEST(WindowsLdapSession, AServerThatIsNotThereAndASourceAddressAreSaidPlainly)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close(); // nothing listens there now

    LdapSession session;
    QElapsedTimer timer;
    timer.start();
    const Result<void> r = session.open(QString(), QHostAddress::LocalHost, port, QHostAddress(), Deadline(3000));
    QString said = r ? QString() : r.error().description;
    if (r) {
        const Result<LdapEntry> read = session.readBase(QByteArray(), "(objectClass=*)", {"dnsHostName"});
        ASSERT_FALSE(read);
        said = read.error().description;
    }
    EXPECT_LT(timer.elapsed(), 3000 + 1000);
    EXPECT_TRUE(said.startsWith(QStringLiteral("LDAP connect to 127.0.0.1:%1: ").arg(port)) ||
                said.startsWith(QStringLiteral("search of 127.0.0.1: ")))
        << said.toStdString();

    LdapSession fromSource;
    const Result<void> s = fromSource.open(QString(), QHostAddress::LocalHost, port, QHostAddress("127.0.0.2"), Deadline(3000));
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().description,
              "LDAP session on 127.0.0.1: Windows cannot connect from a chosen source address (127.0.0.2)");
    EXPECT_STREQ(LdapSession::bindMechanism(), "Negotiate");
}

// The site is the third part of a server object's DN, and only under CN=Sites.
TEST(WindowsLdapSession, SiteFromServerDn)
{
    const struct {
        const char* dn;
        const char* site;
    } cases[] = {
        {"CN=DC1,CN=Servers,CN=Hamburg,CN=Sites,CN=Configuration,DC=corp,DC=example,DC=com", "Hamburg"},
        {"CN=DC1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,CN=Configuration,DC=x", "Default-First-Site-Name"},
        {"CN=DC1,CN=Servers,CN=Hamburg,CN=Elsewhere,DC=x", ""},
        {"CN=DC1,CN=Servers", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(siteFromServerDn(QString::fromLatin1(c.dn)), QString::fromLatin1(c.site)) << c.dn;
}
