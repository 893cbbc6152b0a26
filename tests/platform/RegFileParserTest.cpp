#include "env/RegistryApi.h"
#include "platform/DebugChannel.h"
#include "platform/RegFileParser.h"
#include "platform/RegistryStore.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {

const QString kTool = QStringLiteral("Software\\Kestrelon\\FerrowindSettingsTool");
constexpr quint32 HKLM = HKEY_LOCAL_MACHINE_HIVE;

struct Parsed {
    RegistryContents store;
    RecordingDebugChannel debug;
    int skipped = 0;
};

std::unique_ptr<Parsed> parse(const QByteArray& text)
{
    auto p = std::make_unique<Parsed>();
    RegFileParser parser(&p->debug);
    p->skipped = parser.parse(text, QStringLiteral("test.reg"), p->store);
    return p;
}

QByteArray utf16le(const QString& s)
{
    QByteArray b("\xFF\xFE", 2);
    for (QChar c : s) {
        b.append(static_cast<char>(c.unicode() & 0xFF));
        b.append(static_cast<char>(c.unicode() >> 8));
    }
    return b;
}

} // namespace

TEST(RegFileParser, ReadsTheValueKindsOfAnExport)
{
    const QString text = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\FerrowindSettingsTool]\r\n"
        "\"Trace\"=dword:0000001f\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\Velmora \\\"A\\\"\"\r\n"
        "@=\"default value\"\r\n"
        "\"Blob\"=hex:01,02,03,\\\r\n"
        "  04,05\r\n"
        "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n");
    auto p = parse(utf16le(text));
    EXPECT_EQ(p->skipped, 0) << p->debug.lines.join('\n').toStdString();

    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "Trace", RegTypeNumber, 0).toInt(), 31);
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "Path", RegTypeText, "").toString(),
              QStringLiteral("C:\\Program Files\\Velmora \"A\""));
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "", RegTypeText, "").toString(), QStringLiteral("default value"));
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "Blob", RegTypeBinary, QByteArray()).toByteArray(),
              QByteArray("\x01\x02\x03\x04\x05", 5));
    // Expandable text stored as UTF-16 reaches an ANSI reader as text with its terminator.
    const auto expand = p->store.value(HKLM, kTool, "Expand");
    ASSERT_TRUE(expand);
    EXPECT_EQ(expand->type, RegExpandSz);
    EXPECT_EQ(expand->data, QByteArray("%A%\0", 4));
}

TEST(RegFileParser, KeysAndNamesIgnoreCaseAndTrailingBackslash)
{
    auto p = parse("Windows Registry Editor Version 5.00\n[HKLM\\Software\\Kestrelon]\n\"Version Number\"=dword:00080000\n");
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, "SOFTWARE\\KESTRELON\\", "version number", RegTypeNumber, 0).toInt(), 0x80000);
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, "software\\kestrelon", "VERSION NUMBER", RegTypeNumber, 0).toInt(), 0x80000);
    // Another hive is another registry.
    EXPECT_EQ(GetRegistryValue(p->store, 0x80000001u, "Software\\Kestrelon", "Version Number", RegTypeNumber, 7).toInt(), 7);
}

TEST(RegFileParser, MalformedLinesAreSkippedWithOneDebugLineEach)
{
    const QByteArray text =
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\n"
        "\"Good\"=dword:00000001\n"
        "\"BadDword\"=dword:xyz\n"
        "\"TooLong\"=dword:123456789\n"
        "\"Unterminated\"=\"abc\n"
        "just some words\n"
        "\"NoEquals\" dword:1\n"
        "\"BadHex\"=hex:01,zz\n"
        "\"Unknown\"=qword:1\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Broken\n"
        "\"AfterBrokenKey\"=dword:00000002\n"
        "[NOT_A_HIVE\\Software]\n"
        "\"AfterBadHive\"=dword:00000003\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\n"
        "\"Good2\"=\"still read\"\n";
    auto p = parse(text);
    EXPECT_EQ(p->skipped, 11);
    EXPECT_EQ(p->debug.lines.size(), 11);
    EXPECT_TRUE(p->debug.lines.first().contains("line 4")) << p->debug.lines.first().toStdString();
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "Good", RegTypeNumber, 0).toInt(), 1);
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "Good2", RegTypeText, "").toString(), QStringLiteral("still read"));
    EXPECT_EQ(GetRegistryValue(p->store, HKLM, kTool, "BadDword", RegTypeNumber, -5).toInt(), -5);
}

TEST(RegFileParser, DeletionsRemoveKeysAndValues)
{
    auto p = parse("Windows Registry Editor Version 5.00\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\n\"x\"=dword:1\n\"y\"=dword:2\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\n\"x\"=-\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\C]\n\"z\"=dword:3\n"
                   "[-HKEY_LOCAL_MACHINE\\Software\\C]\n");
    EXPECT_FALSE(p->store.value(HKLM, "Software\\A\\B", "x"));
    EXPECT_TRUE(p->store.value(HKLM, "Software\\A\\B", "y"));
    EXPECT_FALSE(p->store.keyExists(HKLM, "Software\\C"));
    EXPECT_TRUE(p->store.keyExists(HKLM, "Software\\A")); // parents exist with their children
}

TEST(RegFileStore, MissingFileIsAnEmptyRegistryAndEditsAreSeen)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("velmora.reg");
    RecordingDebugChannel debug;
    RegFileStore store(path, &debug);
    EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), 9);

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + kTool.toUtf8() + "]\r\n\"Trace\"=dword:00000002\r\n");
    f.close();
    EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), 2);

    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + kTool.toUtf8() + "]\r\n\"Trace\"=dword:00000003\r\n\r\n");
    f.close();
    EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), 3);
}
