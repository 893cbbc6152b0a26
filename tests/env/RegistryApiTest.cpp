#include "env/RegistryApi.h"
#include "platform/RegistryStore.h"

#include <gtest/gtest.h>

using namespace fw;

namespace {
const QString kFull = "HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool";
const QString kKey = "Software\\Kestrelon\\FerrowindSettingsTool";
constexpr quint32 HKLM = HKEY_LOCAL_MACHINE_HIVE;
} // namespace

TEST(GetRegistryValue, TextFitsTheBufferUpTo1023Characters)
{
    RegistryContents r;
    r.setString(kFull, "Exact", QString(1023, 'a'));
    r.setString(kFull, "Long", QString(1024, 'b'));
    r.setString(kFull, "Empty", QString());
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Exact", RegTypeText, "dflt").toString(), QString(1023, 'a'));
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Long", RegTypeText, "dflt").toString(), "dflt");
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Empty", RegTypeText, "dflt").toString(), QString());
}

TEST(GetRegistryValue, BinaryUpTo4096Bytes)
{
    RegistryContents r;
    r.setRaw(kFull, "Fits", {RegBinary, QByteArray(4096, '\x7f')});
    r.setRaw(kFull, "TooBig", {RegBinary, QByteArray(4097, '\x7f')});
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Fits", RegTypeBinary, QByteArray("d")).toByteArray().size(), 4096);
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "TooBig", RegTypeBinary, QByteArray("d")).toByteArray(), QByteArray("d"));
}

TEST(GetRegistryValue, NumbersAreSigned32Bit)
{
    RegistryContents r;
    r.setDword(kFull, "Big", 0xFFFFFFFFu);
    r.setDword(kFull, "Trace", 70000);
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Big", RegTypeNumber, 0).toInt(), -1);
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Trace", RegTypeNumber, 0).toInt(), 70000);
    // A text longer than four bytes does not fit the number's buffer.
    r.setString(kFull, "Text", "12345");
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Text", RegTypeNumber, 42).toInt(), 42);
}

TEST(GetRegistryValue, UnsupportedCodesAndMissingValuesGiveTheDefault)
{
    RegistryContents r;
    r.setString(kFull, "Name", "value");
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Name", RegTypeExpandText, "dflt").toString(), "dflt");
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Name", 7, "dflt").toString(), "dflt");
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Name", 0, "dflt").toString(), "dflt");
    EXPECT_EQ(GetRegistryValue(r, HKLM, kKey, "Other", RegTypeText, "dflt").toString(), "dflt");
    EXPECT_EQ(GetRegistryValue(r, HKLM, "Software\\Nowhere", "Name", RegTypeText, "dflt").toString(), "dflt");
    EXPECT_FALSE(GetRegistryValue(r, HKLM, "Software\\Nowhere", "Name", RegTypeNumber, QVariant()).isValid());
}
