#include "directory/NetlogonPacket.h"
#include "directory/linux/LinuxDcLocator.h"

#include <gtest/gtest.h>

using namespace fw;

TEST(LinuxDcLocator, ConflictingFlagsAndBadNamesAreRefusedBeforeAnyNetworkUse)
{
    int primaryAsked = 0;
    LinuxDcLocator loc(LocatorOptions{}, [&] {
        ++primaryAsked;
        return QStringLiteral("corp.example.com");
    });
    EXPECT_EQ(loc.locate({{}, QStringLiteral("corp.example.com"), dcreq::IsFlatName | dcreq::IsDnsName}).error,
              dcerr::InvalidFlags);
    EXPECT_EQ(loc.locate({{}, QStringLiteral("corp..example.com"), 0}).error, dcerr::InvalidDomainName);
    EXPECT_EQ(primaryAsked, 0);

    LinuxDcLocator noDomain(LocatorOptions{}, [] { return QString(); });
    EXPECT_EQ(noDomain.locate({}).error, dcerr::NoSuchDomain);
}

TEST(LinuxDcLocator, RequirementsAndResultFields)
{
    NetlogonReply rodc;
    rodc.flags = dsflag::Gc | dsflag::Ldap | dsflag::Ds | dsflag::Kdc | dsflag::SelectSecretDomain6;
    rodc.dnsHostName = QStringLiteral("dc2.corp.example.com");
    rodc.dnsDomainName = QStringLiteral("corp.example.com");
    rodc.netbiosComputerName = QStringLiteral("DC2");
    rodc.netbiosDomainName = QStringLiteral("CORP");
    using namespace dcreq;
    EXPECT_TRUE(LinuxDcLocator::meetsRequirements(rodc, 0));
    EXPECT_TRUE(LinuxDcLocator::meetsRequirements(rodc, GcServerRequired | KdcRequired));
    EXPECT_FALSE(LinuxDcLocator::meetsRequirements(rodc, WritableRequired));
    EXPECT_FALSE(LinuxDcLocator::meetsRequirements(rodc, PdcRequired));
    EXPECT_FALSE(LinuxDcLocator::meetsRequirements(rodc, TimeservRequired));

    const DomainControllerInfo i = LinuxDcLocator::infoFromReply(
        {QStringLiteral("dc2.corp.example.com"), QHostAddress("10.77.2.1"), rodc}, 0);
    EXPECT_EQ(i.domainControllerName, "\\\\dc2.corp.example.com");
    EXPECT_EQ(i.domainControllerAddress, "\\\\10.77.2.1");
    EXPECT_EQ(i.domainName, "corp.example.com");
    EXPECT_EQ(i.flags, rodc.flags | dsflag::DnsController | dsflag::DnsDomain | dsflag::DnsForest);

    const DomainControllerInfo flat = LinuxDcLocator::infoFromReply({QStringLiteral("dc2"), QHostAddress("10.77.2.1"), rodc},
                                                                    ReturnFlatName);
    EXPECT_EQ(flat.domainControllerName, "\\\\DC2");
    EXPECT_EQ(flat.domainName, "CORP");
    EXPECT_EQ(flat.flags, rodc.flags);
}
