#include "platform/linux/LinuxWorkstationSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {
void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}
} // namespace

TEST(LinuxWorkstationSource, JoinedDomainComesFromTheMachinesConfiguration)
{
    QTemporaryDir root;
    LinuxWorkstationSource src(root.path());
    EXPECT_TRUE(src.joinedDomain().isEmpty());

    write(root.filePath("etc/samba/smb.conf"), "[global]\n   workgroup = SALES\n");
    EXPECT_EQ(src.joinedDomain(), "SALES");

    write(root.filePath("etc/krb5.conf"), "[libdefaults]\n  default_realm = corp.example.com\n[realms]\n");
    EXPECT_EQ(src.joinedDomain(), "CORP.EXAMPLE.COM");

    write(root.filePath("etc/samba/smb.conf"),
          "[global]\n workgroup = CORP\n security = ADS\n realm = ad.example.com\n[homes]\n realm = other\n");
    EXPECT_EQ(src.joinedDomain(), "AD.EXAMPLE.COM");

    write(root.filePath("etc/sssd/sssd.conf"),
          "[sssd]\ndomains = x\n# [domain/commented]\n[domain/Joined.Example.Net]\nid_provider = ad\n");
    EXPECT_EQ(src.joinedDomain(), "JOINED.EXAMPLE.NET");
}

TEST(LinuxWorkstationSource, AnswersForThisMachine)
{
    LinuxWorkstationSource src;
    const auto c = src.queryComputer();
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->computerName.isEmpty());
    EXPECT_FALSE(c->domain.isEmpty());
    const auto u = src.queryUser();
    ASSERT_TRUE(u);
    EXPECT_FALSE(u->userName.isEmpty());
}
