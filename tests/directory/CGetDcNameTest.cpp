#include "directory/CGetDcName.h"
#include "directory/NetlogonPacket.h"
#include "FakeLocator.h"

#include <gtest/gtest.h>

using namespace fw;
using fw::test::FakeLocator;

TEST(CGetDcName, CreationLocatesTheLocalDomainAndKeepsItsName)
{
    auto loc = std::make_shared<FakeLocator>();
    loc->answers = {FakeLocator::found("dc1.corp.example.com", "corp.example.com", 0x13fd)};
    CGetDcName dc(loc);
    ASSERT_EQ(loc->requests.size(), 1);
    EXPECT_TRUE(loc->requests[0].computerName.isEmpty());
    EXPECT_TRUE(loc->requests[0].domainName.isEmpty());
    EXPECT_EQ(loc->requests[0].flags, 0u);
    EXPECT_EQ(dc.DomainName(), "corp.example.com");
    EXPECT_EQ(dc.DomainGuid(), "{33221100-5544-7766-8899-AABBCCDDEEFF}"); // the first three groups little-endian
    EXPECT_EQ(dc.LastError(), 0);

    // Setting only the computer name asks that computer for the domain the first lookup returned.
    dc.setComputerName(QStringLiteral("dc2.corp.example.com"));
    dc.Refresh();
    ASSERT_EQ(loc->requests.size(), 2);
    EXPECT_EQ(loc->requests[1].computerName, "dc2.corp.example.com");
    EXPECT_EQ(loc->requests[1].domainName, "corp.example.com");
}

TEST(CGetDcName, FlagsInSetsAndClearsOnlyTheGivenBits)
{
    auto loc = std::make_shared<FakeLocator>();
    CGetDcName dc(loc, CGetDcName::NoInitialLookup::Tag);
    dc.setFlagsIn(0x1000, true);
    dc.setFlagsIn(0x40000000, true);
    dc.setFlagsIn(0x100, true);
    EXPECT_TRUE(dc.FlagsIn(0x100));
    dc.setFlagsIn(0x100, false);
    EXPECT_FALSE(dc.FlagsIn(0x100));
    EXPECT_EQ(dc.requestFlags(), 0x40001000u);
    // Partly set: true.
    EXPECT_TRUE(dc.FlagsIn(0x1100));
    EXPECT_FALSE(dc.FlagsIn(0x3));
    dc.setFlagsIn(0x40001000, false);
    EXPECT_EQ(dc.requestFlags(), 0u);
    dc.setFlagsIn(0x80000000, true);
    dc.Refresh();
    ASSERT_EQ(loc->requests.size(), 1);
    EXPECT_EQ(loc->requests[0].flags, 0x80000000u);
}

TEST(CGetDcName, FailedLookupChangesOnlyLastError)
{
    auto loc = std::make_shared<FakeLocator>();
    loc->answers = {FakeLocator::found("dc1.corp.example.com", "corp.example.com", 0x13fd, "Site-A", "Site-B"),
                    FakeLocator::failed(1722)};
    CGetDcName dc(loc);
    dc.setDomainName(QStringLiteral("other.example.com"));
    dc.Refresh();
    EXPECT_EQ(dc.LastError(), 1722);
    EXPECT_EQ(dc.LastErrorText(), "");
    EXPECT_EQ(dc.FlagsOut(), 0x13fd);
    EXPECT_EQ(dc.DcSiteName(), "Site-A");
    EXPECT_EQ(dc.ClientSiteName(), "Site-B");
    EXPECT_EQ(dc.DomainName(), "other.example.com"); // the input stays as set

    // With no successful lookup at all, the results are empty and 0.
    auto none = std::make_shared<FakeLocator>();
    none->answers = {FakeLocator::failed(1355)};
    CGetDcName empty(none);
    EXPECT_EQ(empty.LastError(), 1355);
    EXPECT_EQ(empty.FlagsOut(), 0);
    EXPECT_EQ(empty.DomainControllerName(), "");
    EXPECT_EQ(empty.DomainGuid(), "{00000000-0000-0000-0000-000000000000}");
}

TEST(CGetDcName, ErrorTexts)
{
    EXPECT_EQ(CGetDcName::errorText(0), "No error.");
    EXPECT_EQ(CGetDcName::errorText(8), "Insufficient memory is available.");
    EXPECT_EQ(CGetDcName::errorText(1004), "The Flags parameter has conflicting or superfluous bits set.");
    EXPECT_EQ(CGetDcName::errorText(1212), "The format of the "
                                           "specified DomainName is invalid.");
    EXPECT_EQ(CGetDcName::errorText(1355), "No DC is available for the "
                                           "specified domain or the domain does not exist.");
    EXPECT_EQ(CGetDcName::errorText(1722), "");
    EXPECT_EQ(CGetDcName::errorText(-1), "");
}

TEST(CGetDcName, WithoutALocatorNothingIsLookedUp)
{
    auto loc = std::make_shared<FakeLocator>();
    loc->isAvailable = false;
    loc->answers = {FakeLocator::failed(1355)};
    CGetDcName dc(loc);
    dc.Refresh();
    EXPECT_TRUE(loc->requests.isEmpty());
    EXPECT_EQ(dc.LastError(), 0);
    CGetDcName none(nullptr);
    none.Refresh();
    EXPECT_EQ(none.LastError(), 0);
}

// Refused on every platform before any lookup, in the same words.
TEST(DcLookupRequest, ConflictingFlagsAndBadNamesAreRefused)
{
    using namespace dcreq;
    for (quint32 conflicting : {IsFlatName | IsDnsName, ReturnDnsName | ReturnFlatName, GcServerRequired | PdcRequired,
                                DirectoryServiceRequired | DirectoryServicePreferred, ForceRediscovery | BackgroundOnly}) {
        const std::optional<DcLookupResult> r = refusedLookup({{}, QStringLiteral("corp.example.com"), conflicting});
        ASSERT_TRUE(r) << conflicting;
        EXPECT_EQ(r->error, dcerr::InvalidFlags) << conflicting;
    }
    EXPECT_EQ(refusedLookup({{}, {}, GcServerRequired | KdcRequired})->detail, "conflicting request flags 0x440");
    for (const QString& bad :
         {QStringLiteral("corp..example.com"), QStringLiteral(".corp"), QStringLiteral("corp example.com"),
          QStringLiteral("corp/example"), QStringLiteral("a*b.com"), QString(64, QLatin1Char('a')) + ".com"}) {
        const std::optional<DcLookupResult> r = refusedLookup({{}, bad, 0});
        ASSERT_TRUE(r) << bad.toStdString();
        EXPECT_EQ(r->error, dcerr::InvalidDomainName) << bad.toStdString();
    }
    EXPECT_EQ(refusedLookup({{}, QStringLiteral("bad..name"), 0})->detail, "'bad..name' is not a valid domain name");
    // The computer's own domain, a flat name and the usual requests go on to the lookup.
    for (const QString& good :
         {QString(), QStringLiteral("CORP"), QStringLiteral("corp.example.com."), QStringLiteral("_msdcs.corp")})
        EXPECT_FALSE(refusedLookup({{}, good, DirectoryServiceRequired | ReturnDnsName | GcServerRequired}))
            << good.toStdString();
}
