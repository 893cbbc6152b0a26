#include "env/RegistryApi.h"
#include "platform/RegFileParser.h"
#include "platform/RegFileWriter.h"
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

QString text(const Parsed& p, const QString& name, const QString& key = kTool)
{
    return GetRegistryValue(p.store, HKLM, key, name, RegTypeText, "<missing>").toString();
}

QByteArray bytesOf(const Parsed& p, const QString& name, const QString& key = kTool)
{
    return GetRegistryValue(p.store, HKLM, key, name, RegTypeBinary, "<missing>").toByteArray();
}

int number(const Parsed& p, const QString& name, const QString& key = kTool)
{
    return GetRegistryValue(p.store, HKLM, key, name, RegTypeNumber, -1).toInt();
}

const QByteArray kHead = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\r\n";

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
    const QString exported = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\FerrowindSettingsTool]\r\n"
        "\"Trace\"=dword:0000001f\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\Velmora \\\"A\\\"\"\r\n"
        "@=\"default value\"\r\n"
        "\"Blob\"=hex:01,02,03,\\\r\n"
        "  04,05\r\n"
        "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        "\"Build\"=hex(4):55,00,\\\r\n  00,00\r\n");
    auto p = parse(utf16le(exported));
    EXPECT_EQ(p->skipped, 0) << p->debug.lines.join('\n').toStdString();

    EXPECT_EQ(number(*p, "Trace"), 31);
    EXPECT_EQ(number(*p, "Build"), 0x55);
    EXPECT_EQ(text(*p, "Path"), "C:\\Program Files\\Velmora \"A\"");
    EXPECT_EQ(text(*p, ""), "default value");
    EXPECT_EQ(bytesOf(*p, "Blob"), QByteArray("\x01\x02\x03\x04\x05", 5));
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
    const QByteArray file =
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
    auto p = parse(file);
    EXPECT_EQ(p->skipped, 11);
    EXPECT_EQ(p->debug.lines.size(), 11);
    EXPECT_TRUE(p->debug.lines.first().contains("line 4")) << p->debug.lines.first().toStdString();
    EXPECT_EQ(number(*p, "Good"), 1);
    EXPECT_EQ(text(*p, "Good2"), "still read");
    EXPECT_FALSE(p->store.value(HKLM, kTool, "BadDword"));
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

TEST(RegFileParserHandEdited, ACommentAfterTheDataKeepsTheValue)
{
    auto p = parse(kHead + R"(
"Trace"=dword:00000001 ;debug on
"Site"="x;y#z" ;note
"Bin"=hex:01,02 ;c
"Hash"=dword:2# after a hash
@="default"	; after a tab
"Gone"="there"
"Gone"=- ;c
)");
    EXPECT_EQ(p->skipped, 0) << p->debug.lines.join('\n').toStdString();
    EXPECT_EQ(number(*p, "Trace"), 1);
    EXPECT_EQ(text(*p, "Site"), "x;y#z"); // inside quotes it is data
    EXPECT_EQ(bytesOf(*p, "Bin"), QByteArray("\x01\x02", 2));
    EXPECT_EQ(number(*p, "Hash"), 2);
    EXPECT_EQ(text(*p, "@"), "default");
    EXPECT_FALSE(p->store.value(HKLM, kTool, "Gone"));

    // Text after the data that is not a comment is still refused.
    auto bad = parse(kHead + "\"S\"=\"x\" y\n\"D\"=dword:1 2\n\"G\"=- x\n");
    EXPECT_EQ(bad->skipped, 3);
}

TEST(RegFileParserHandEdited, CommentsAndBlankLinesInsideAContinuationAreSkipped)
{
    auto p = parse(kHead + R"(
"Bin"=hex:01,02,\
;comment
  03,04
"Expand"=hex(2):4c,00,69,00,6e,00,65,00,20,00,\
  63,00,6f,00,6e,00,\

  63,00,61,00,74,00,\
    	
# hash comment
  65,00,6e,00,61,00,74,00,69,00,6f,00,6e,00,00,00
"Multi"=hex(7):4c,00,69,00,6e,00,65,00,20,00,\;comment
  63,00,6f,00,6e,00,\ # another
  63,00,61,00,74,00,00,00,00,00
"Empty"=hex:\
  05
)");
    EXPECT_EQ(p->skipped, 0) << p->debug.lines.join('\n').toStdString();
    EXPECT_EQ(bytesOf(*p, "Bin"), QByteArray("\x01\x02\x03\x04", 4));
    EXPECT_EQ(text(*p, "Expand"), "Line concatenation");
    EXPECT_EQ(p->store.value(HKLM, kTool, "Multi")->data, QByteArray("Line concat\0\0", 13));
    EXPECT_EQ(bytesOf(*p, "Empty"), QByteArray("\x05", 1));
}

TEST(RegFileParserHandEdited, AnUnfinishedContinuationEndsAtTheNextValueKeyOrComment)
{
    // No comma before the backslash: the value is dropped, its data lines with it, and the next line is read.
    auto p = parse(kHead + R"(
"A"=hex:01,02\
  03,04
"B"="x"
"C"=hex:01,02 \
; the comment ends it
"D"=hex:01,\
  02\
[HKEY_LOCAL_MACHINE\Software\Kestrelon\Other]
"E"="under other"
)");
    EXPECT_EQ(p->skipped, 3) << p->debug.lines.join('\n').toStdString();
    ASSERT_EQ(p->debug.lines.size(), 3);
    EXPECT_EQ(p->debug.lines[0],
              "Registry file test.reg line 5 skipped (continuation without a comma before the backslash): "
              "\"A\"=hex:01,02\\");
    EXPECT_TRUE(p->debug.lines[1].contains("line 8 skipped")) << p->debug.lines[1].toStdString();
    EXPECT_TRUE(p->debug.lines[2].contains("line 10 skipped")) << p->debug.lines[2].toStdString();
    EXPECT_FALSE(p->store.value(HKLM, kTool, "A"));
    EXPECT_EQ(text(*p, "B"), "x");
    EXPECT_FALSE(p->store.value(HKLM, kTool, "C"));
    EXPECT_FALSE(p->store.value(HKLM, kTool, "D"));
    EXPECT_EQ(text(*p, "E", "Software\\Kestrelon\\Other"), "under other");
    EXPECT_FALSE(p->store.value(HKLM, kTool, "E"));

    // After ",\" a value or key line ends the value unfinished; the end of the file keeps what was read.
    auto q = parse(kHead + "\"A\"=hex:01,02,\\\n\"B\"=\"y\"\n\"Last\"=hex:0a,0b,\\\n");
    EXPECT_EQ(q->skipped, 1);
    EXPECT_EQ(q->debug.lines.value(0),
              "Registry file test.reg line 4 skipped (continuation ended by line 5): \"A\"=hex:01,02,\\");
    EXPECT_FALSE(q->store.value(HKLM, kTool, "A"));
    EXPECT_EQ(text(*q, "B"), "y");
    EXPECT_EQ(bytesOf(*q, "Last"), QByteArray("\x0a\x0b", 2));
}

TEST(RegFileParserHandEdited, AnUnrecognisedEscapeIsKeptAndNamedAndBackslashZeroRejectsTheLine)
{
    auto p = parse(kHead + R"("Path"="C:\Temp\new"
"Quote"="say \"hi\" \\ back"
"Value1"="Value1\0"
"Name\q"="n"
)");
    EXPECT_EQ(text(*p, "Path"), R"(C:\Temp\new)");
    EXPECT_EQ(text(*p, "Quote"), R"(say "hi" \ back)");
    EXPECT_FALSE(p->store.value(HKLM, kTool, "Value1"));
    EXPECT_EQ(text(*p, R"(Name\q)"), "n");
    EXPECT_EQ(p->skipped, 1);
    EXPECT_EQ(p->debug.lines,
              QStringList({R"(Registry file test.reg line 4: unrecognised escape sequence \T kept as written)",
                           R"(Registry file test.reg line 4: unrecognised escape sequence \n kept as written)",
                           R"(Registry file test.reg line 6 skipped (\0 in a string): "Value1"="Value1\0")",
                           R"(Registry file test.reg line 7: unrecognised escape sequence \q kept as written)"}));
}

TEST(RegFileParserHandEdited, KeyLinesAreReadAsWritten)
{
    auto p = parse(R"(Windows Registry Editor Version 5.00
[HKEY_LOCAL_MACHINE\Software\Keep]
"v"=dword:1
[ -HKEY_LOCAL_MACHINE\Software\Keep]
"w"=dword:2
[ HKEY_LOCAL_MACHINE\Software\Blank]
[HKEY_LOCAL_MACHINE\Software\Trailing  ] ; a comment after the key
"t"=dword:3
  [hklm\Software\Indented]
"i"=dword:4
)");
    EXPECT_TRUE(p->store.value(HKLM, "Software\\Keep", "v")); // not deleted
    EXPECT_FALSE(p->store.value(HKLM, "Software\\Keep", "w")); // not filed under the previous key
    EXPECT_FALSE(p->store.keyExists(HKLM, "Software\\Blank"));
    EXPECT_TRUE(p->store.value(HKLM, "Software\\Trailing  ", "t"));
    EXPECT_FALSE(p->store.keyExists(HKLM, "Software\\Trailing"));
    EXPECT_TRUE(p->store.value(HKLM, "Software\\Indented", "i"));
    EXPECT_EQ(p->skipped, 3);
    ASSERT_EQ(p->debug.lines.size(), 3);
    EXPECT_EQ(p->debug.lines[0],
              R"(Registry file test.reg line 4 skipped (unknown root key): [ -HKEY_LOCAL_MACHINE\Software\Keep])");
    EXPECT_EQ(p->debug.lines[1], R"(Registry file test.reg line 5 skipped (value under a key that was not read): "w"=dword:2)");
}

TEST(RegFileParserHandEdited, KeysBeyondWindowsLimitsAreRefused)
{
    const auto keyOf = [](int depth, int nameLength) {
        QByteArray k = "HKEY_LOCAL_MACHINE";
        for (int i = 0; i < depth; ++i)
            k += "\\" + QByteArray(nameLength, 'k');
        return k;
    };
    struct Case {
        int depth;
        int nameLength;
        const char* refusal; // nullptr: read
    } cases[] = {{512, 1, nullptr}, {513, 1, "key deeper than 512 levels"},
                 {3, 255, nullptr}, {3, 256, "key name longer than 255 characters"}};
    for (const Case& c : cases) {
        const QByteArray key = keyOf(c.depth, c.nameLength);
        auto p = parse("Windows Registry Editor Version 5.00\n[" + key + "]\n\"v\"=dword:7\n");
        const QString path = QString::fromLatin1(key.mid(sizeof("HKEY_LOCAL_MACHINE")));
        SCOPED_TRACE(testing::Message() << c.depth << " levels of " << c.nameLength);
        if (!c.refusal) {
            EXPECT_EQ(p->skipped, 0);
            EXPECT_EQ(number(*p, "v", path), 7);
        } else {
            EXPECT_EQ(p->skipped, 2); // the key and its value
            EXPECT_TRUE(p->debug.lines.value(0).contains(c.refusal)) << p->debug.lines.value(0).toStdString();
            EXPECT_FALSE(p->store.keyExists(HKLM, path.section(QLatin1Char('\\'), 0, 0)));
        }
    }
}

TEST(RegFileParserHandEdited, TextTerminatorsAreOptional)
{
    auto p = parse(kHead + R"("NoZero"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00
"WithZero"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00
"Sz"=hex(1):41,00
"Multi"=hex(7):61,00,00,00,62,00
"OddByte"=hex(1):41,00,42
)");
    EXPECT_EQ(p->skipped, 0);
    EXPECT_EQ(text(*p, "NoZero"), "%PATH%");
    EXPECT_EQ(text(*p, "WithZero"), "%PATH%");
    EXPECT_EQ(text(*p, "Sz"), "A");
    EXPECT_EQ(p->store.value(HKLM, kTool, "Multi")->data, QByteArray("a\0b\0\0", 5));
    EXPECT_EQ(text(*p, "OddByte"), "AB");

    // REGEDIT4 keeps text data in single bytes.
    auto ansi = parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\n"
                      "\"P\"=hex(2):25,50,25\n");
    EXPECT_EQ(text(*ansi, "P"), "%P%");
}

TEST(RegFileParserHandEdited, LineEndsAreCrLfOrCrlfInEitherEncoding)
{
    const QString body = QStringLiteral("Windows Registry Editor Version 5.00#[HKEY_LOCAL_MACHINE\\Software\\K]#"
                                        "\"A\"=\"a\"#\"Bin\"=hex:01,\\#  02#\"B\"=dword:2#");
    for (const char* end : {"\n", "\r", "\r\n"}) {
        QString t = body;
        t.replace(QLatin1Char('#'), QString::fromLatin1(end));
        for (bool wide : {false, true}) {
            SCOPED_TRACE(testing::Message() << QByteArray(end).toHex().constData() << (wide ? " UTF-16" : " UTF-8"));
            auto p = parse(wide ? utf16le(t) : t.toUtf8());
            EXPECT_EQ(p->skipped, 0);
            EXPECT_EQ(text(*p, "A", "Software\\K"), "a");
            EXPECT_EQ(bytesOf(*p, "Bin", "Software\\K"), QByteArray("\x01\x02", 2));
            EXPECT_EQ(number(*p, "B", "Software\\K"), 2);
        }
    }
}

namespace {
// Every value with its key path and name as written.
QMap<QString, QPair<quint32, QByteArray>> flatten(const RegistryContents::Key& key, const QString& path = {})
{
    QMap<QString, QPair<quint32, QByteArray>> out;
    for (const auto& [lower, entry] : key.values)
        out.insert(path + "|" + entry.name, {entry.value.type, entry.value.data});
    for (const auto& [lower, sub] : key.subkeys) {
        const QString subPath = path.isEmpty() ? sub->name : path + "\\" + sub->name;
        out.insert(subPath, {});
        out.insert(flatten(*sub, subPath));
    }
    return out;
}
} // namespace

TEST(RegFileWriter, AFileWrittenFromTheStoreReadsBackToTheSameValues)
{
    RegistryContents reg;
    const QString tool = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\FerrowindSettingsTool";
    reg.setString(tool, "ConnectionString", R"(Driver={SQL Server};Server=db\inst;Database="Velmora" # x)");
    reg.setString(tool, "", "default");
    reg.setString(tool, R"(Name "quoted" \ back)", "é ü ✓");
    reg.setString(tool, "Lines", "one\r\ntwo");
    reg.setDword(tool, "Trace", 0xFFFFFFFF);
    reg.setRaw(tool, "Blob", {RegBinary, QByteArray(60, '\xAB')});
    reg.setRaw(tool, "Expand", {RegExpandSz, QByteArray("%SystemRoot%\\x\0", 15)});
    reg.setRaw(tool, "Multi", {RegMultiSz, QByteArray("a\0b\0\0", 5)});
    reg.setRaw(tool, "Qword", {RegQword, QByteArray("\1\2\3\4\5\6\7\x08", 8)});
    reg.setRaw(tool, "Empty", {RegBinary, {}});
    reg.addKey("HKEY_CURRENT_USER\\Software\\Empty Key ");

    const QString written = RegFileWriter::text(reg, "written by a test");
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "UTF-16" : "UTF-8");
        auto p = parse(wide ? utf16le(written) : written.toUtf8());
        EXPECT_EQ(p->skipped, 0) << p->debug.lines.join('\n').toStdString();
        EXPECT_EQ(flatten(p->store.root()), flatten(reg.root())) << written.toStdString();
    }
    EXPECT_TRUE(written.contains("\"Trace\"=dword:ffffffff\r\n"));
    EXPECT_TRUE(written.contains(",\\\r\n  ab,")); // long data wraps as an export does
}
