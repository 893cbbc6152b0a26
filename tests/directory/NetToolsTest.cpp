#include "directory/LdapDirectory.h"
#include "directory/NetTools.h"

#include <gtest/gtest.h>

using namespace fw;

TEST(DirectoryNames, OnlyHostNamesReachTheNetwork)
{
    for (const char* good : {"dc1.corp.example.com", "DC-1.Corp.Example.com", "10.0.0.1", "dc1.corp.example.com."})
        EXPECT_TRUE(net::isValidHostName(QString::fromLatin1(good))) << good;
    const QString label63(63, QLatin1Char('a'));
    const QString name253 = label63 + QLatin1Char('.') + label63 + QLatin1Char('.') + label63 + QLatin1Char('.') +
                            QString(61, QLatin1Char('b'));
    ASSERT_EQ(name253.size(), 253);
    EXPECT_TRUE(net::isValidHostName(name253));
    EXPECT_FALSE(net::isValidHostName(name253 + QLatin1Char('b')));
    for (const char* bad :
         {"gc1.corp.example.com/x", "dc_1.corp.example.com", "dc1..corp", ".corp", "dc 1.corp", "", "dc1.corp:389"})
        EXPECT_FALSE(net::isValidHostName(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(net::isValidHostName(QString(64, QLatin1Char('a')) + QStringLiteral(".com")));

    auto path = LdapDirectory::parsePath(QStringLiteral("GC://gc1.corp.example.com:3268"));
    EXPECT_TRUE(path.valid && path.gc && path.port == 3268 && path.server == "gc1.corp.example.com");
    path = LdapDirectory::parsePath(QStringLiteral("ldap://10.0.0.1"));
    EXPECT_TRUE(path.valid && !path.gc && path.port == 389);
    for (const char* bad : {"GC://gc1.corp.example.com/x:3268", "GC://gc1.corp.example.com:3268/x", "LDAP://dc_1.corp:389",
                            "LDAP://dc1.corp:0", "LDAP://dc1.corp:70000", "HTTP://dc1.corp"})
        EXPECT_FALSE(LdapDirectory::parsePath(QString::fromLatin1(bad)).valid) << bad;
}

// The order in which a domain's servers are tried, whatever the platform's resolver answered in.
TEST(DirectoryNames, SrvAnswersAreTriedByPriorityThenHeavierWeight)
{
    const QList<net::SrvTarget> answer{
        {"dc3.corp.example.com.", 389, 10, 50}, {"dc1.corp.example.com.", 389, 0, 10},   {".", 389, 0, 100},
        {"dc2.corp.example.com", 389, 0, 60},   {"dc4.corp.example.com.", 3268, 10, 50}, {"dc5.corp.example.com", 389, 5, 0}};
    const Result<QList<net::SrvTarget>> tried = net::usableSrvTargets(answer, QStringLiteral("_ldap._tcp.corp.example.com"));
    ASSERT_TRUE(tried.ok());
    QStringList order;
    for (const net::SrvTarget& t : tried.value())
        order << QStringLiteral("%1:%2").arg(t.host).arg(t.port);
    EXPECT_EQ(order, QStringList({"dc2.corp.example.com:389", "dc1.corp.example.com:389", "dc5.corp.example.com:389",
                                  "dc3.corp.example.com:389", "dc4.corp.example.com:3268"}));

    // "." alone says the service is not offered in the domain: that is no server at all.
    const Result<QList<net::SrvTarget>> none = net::usableSrvTargets({{".", 0, 0, 0}},
                                                                     QStringLiteral("_gc._tcp.corp.example.com"));
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().description, "no SRV records for _gc._tcp.corp.example.com");
    EXPECT_FALSE(net::usableSrvTargets({}, QStringLiteral("x")).ok());
}
