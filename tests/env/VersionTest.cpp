#include "env/VelmoraVersion.h"
#include "platform/RegistryStore.h"

#include <gtest/gtest.h>

using namespace fw;

namespace {
VersionInfo decode(quint32 version, quint32 build)
{
    return VersionInfo::fromRegistryNumbers(static_cast<qint32>(version), static_cast<qint32>(build));
}
} // namespace

TEST(VelmoraVersion, DecodesTheRegistryNumbers)
{
    // Digits 1-4 and 5-8 are read as decimal digits up to the first non-digit; the build's second group is
    // hexadecimal in 16 bits, so 8000-FFFF are negative.
    const struct {
        quint32 version, build;
        const char* text;
    } cases[] = {{0x00040000, 0x00030064, "4.0(3.100)"}, {0x00080000, 0x00000055, "8.0(0.85)"}, {0x000A0000, 0, "0.0(0.0)"},
                 {0x00120034, 0, "12.34(0.0)"},          {0x0012003B, 0, "12.3(0.0)"},          {0, 0x0001FFFF, "0.0(1.-1)"},
                 {0, 0x00018000, "0.0(1.-32768)"}};
    for (const auto& c : cases)
        EXPECT_EQ(decode(c.version, c.build).Text, c.text) << c.text;
}

TEST(VelmoraVersion, MissingValuesGiveZeroVersion)
{
    RegistryContents r;
    const VersionInfo v = getVersion(r);
    EXPECT_EQ(v.Text, "0.0(0.0)");
    EXPECT_FALSE(bIsVersionGreaterThanOrEqualTo(v, 4, 0, 3, 100));
}

TEST(VelmoraVersion, GateBoundaries)
{
    EXPECT_FALSE(bIsVersionGreaterThanOrEqualTo(decode(0x00040000, 0x00030063), 4, 0, 3, 100)); // 4.0(3.99)
    EXPECT_TRUE(bIsVersionGreaterThanOrEqualTo(decode(0x00040000, 0x00030064), 4, 0, 3, 100));  // 4.0(3.100)
    EXPECT_TRUE(bIsVersionGreaterThanOrEqualTo(decode(0x00040000, 0x00040000), 4, 0, 3, 100));  // 4.0(4.0)
    EXPECT_FALSE(bIsVersionGreaterThanOrEqualTo(decode(0x00030009, 0x09990999), 4, 0, 3, 100)); // major decides
    EXPECT_TRUE(bIsVersion8OrLater(decode(0x00080000, 0x00000055)));
    EXPECT_FALSE(bIsVersion8OrLater(decode(0x00080000, 0x00000054)));
    EXPECT_TRUE(bIsVersion8OrLater(decode(0x00080001, 0x00000000)));
    // A negative build minor is smaller than any positive one.
    EXPECT_FALSE(bIsVersion8OrLater(decode(0x00080000, 0x0000FFFF)));
}

TEST(VelmoraVersion, ReadsTheRegistry)
{
    RegistryContents r;
    r.setDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRELON", "Version Number", 0x00070000);
    r.setDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRELON", "Build Number", 0x00020010);
    EXPECT_EQ(getVersion(r).Text, "7.0(2.16)");
}
