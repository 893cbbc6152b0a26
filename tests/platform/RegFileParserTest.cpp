#include "env/RegistryApi.h"
#include "platform/RegFileParser.h"
#include "platform/RegFileWriter.h"
#include "platform/RegistryStore.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
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

// The values of a key as stored, "name=kind:data" in name order: texts with each zero shown as |, 32-bit numbers in
// decimal, other data in hex.
QStringList values(const Parsed& p, const QString& key = kTool)
{
    const QString prefix = "HKEY_LOCAL_MACHINE\\" + key + "|";
    const QMap<quint32, QString> kinds{
        {RegSz, "sz"}, {RegExpandSz, "expand"}, {RegBinary, "hex"}, {RegDword, "dword"}, {RegMultiSz, "multi"}};
    QStringList out;
    for (const auto& [path, value] : flatten(p.store.root()).asKeyValueRange()) {
        if (!path.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const auto& [type, data] = value;
        QString shown = QString::fromLatin1(data.toHex(','));
        if (type == RegSz || type == RegExpandSz || type == RegMultiSz)
            shown = QString::fromLatin1(data).replace(QChar(0), QLatin1Char('|'));
        else if (type == RegDword && data.size() == 4)
            shown = QString::number(qFromLittleEndian<quint32>(data.constData()));
        out << path.mid(prefix.size()) + "=" + kinds.value(type, QString::number(type)) + ":" + shown;
    }
    return out;
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
    const QString exported = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
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

    // Expandable text stored as UTF-16 reaches an ANSI reader as text with its terminator.
    EXPECT_EQ(values(*p), (QStringList{"=sz:default value|", "Blob=hex:01,02,03,04,05", "Build=dword:85", "Expand=expand:%A%|",
                                       R"(Path=sz:C:\Program Files\Velmora "A"|)", "Trace=dword:31"}));
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
    const QByteArray file = "Windows Registry Editor Version 5.00\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\n"
                            "\"Good\"=dword:00000001\n"
                            "\"BadDword\"=dword:xyz\n"
                            "\"TooLong\"=dword:123456789\n"
                            "\"ConnectionString\"=\"Driver={FreeTDS};UID=sa;PWD=Hunter2Secret\n"
                            "just some words\n"
                            "\"NoEquals\" dword:1\n"
                            "\"BadHex\"=hex:01,zz\n"
                            "\"Unknown\"=qword:1\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Broken\n"
                            "\"AfterBrokenKey\"=dword:00000002\n"
                            "[NOT_A_HIVE\\Software]\n"
                            "\"AfterBadHive\"=dword:00000003\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\n"
                            "\"Good2\"=\"still read\"\n"
                            "@=dword:zz\n";
    auto p = parse(file);
    EXPECT_EQ(p->skipped, 12);
    // By line and value name: the data of a line that could not be read may be a password.
    EXPECT_EQ(p->debug.lines,
              QStringList({
                  R"(Registry file test.reg line 4 skipped (bad dword): value "BadDword")",
                  R"(Registry file test.reg line 5 skipped (bad dword): value "TooLong")",
                  R"(Registry file test.reg line 6 skipped (bad string): value "ConnectionString")",
                  R"(Registry file test.reg line 7 skipped (not a value line))",
                  R"(Registry file test.reg line 8 skipped (missing '='): value "NoEquals")",
                  R"(Registry file test.reg line 9 skipped (bad hex bytes): value "BadHex")",
                  R"(Registry file test.reg line 10 skipped (unknown value type): value "Unknown")",
                  R"(Registry file test.reg line 11 skipped (unterminated key))",
                  R"(Registry file test.reg line 12 skipped (value under a key that was not read): value "AfterBrokenKey")",
                  R"(Registry file test.reg line 13 skipped (unknown root key))",
                  R"(Registry file test.reg line 14 skipped (value under a key that was not read): value "AfterBadHive")",
                  R"(Registry file test.reg line 17 skipped (bad dword): value @)",
              }));
    EXPECT_EQ(values(*p), (QStringList{"Good=dword:1", "Good2=sz:still read|"}));
}

TEST(RegFileParser, DeletionsRemoveKeysAndValues)
{
    auto p = parse("Windows Registry Editor Version 5.00\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\n\"x\"=dword:1\n\"y\"=dword:2\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\n\"x\"=-\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\C]\n\"z\"=dword:3\n"
                   "[-HKEY_LOCAL_MACHINE\\Software\\C]\n");
    EXPECT_EQ(values(*p, "Software\\A\\B"), QStringList{"y=dword:2"});
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
    f.write("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + kTool.toUtf8() +
            "]\r\n\"Trace\"=dword:00000002\r\n");
    f.close();
    EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), 2);

    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + kTool.toUtf8() +
            "]\r\n\"Trace\"=dword:00000003\r\n\r\n");
    f.close();
    EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), 3);
}

TEST(RegFileStore, AFileThatCannotBeAnInstallationsRegistryIsNamedForWhatItIs)
{
    QTemporaryDir dir;
    const QString header = "Windows Registry Editor Version 5.00";
    const struct {
        const char* name;
        QByteArray content; // empty: not written
        QString problem;
    } cases[] = {
        {"missing", {}, "does not exist"},
        {"empty", "\n", "is not a registry export (it does not begin with \"" + header + "\")"},
        {"another file", "ConnectionString=x\n", "is not a registry export (it does not begin with \"" + header + "\")"},
        {"binary",
         QByteArray("\x7f"
                    "ELF\x02\x01\x00\x00\xff\xfe",
                    10),
         "is not a registry export (it does not begin with \"" + header + "\")"},
        {"an export in UTF-16", utf16le("; made by hand\r\n" + header + "\r\n"), ""},
        {"REGEDIT4", "REGEDIT4\n", ""},
        {"key lines only", "[HKEY_LOCAL_MACHINE\\Software]\n", ""},
    };
    for (const auto& c : cases) {
        const QString path = QDir(dir.path()).filePath(c.name);
        if (!c.content.isEmpty()) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.content);
        }
        EXPECT_EQ(RegFileStore::problemWith(path), c.problem) << c.name;
    }
    EXPECT_EQ(RegFileStore::problemWith(dir.path()), "is a folder");
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
    // Inside quotes ; and # are data.
    EXPECT_EQ(values(*p), (QStringList{"=sz:default|", "Bin=hex:01,02", "Hash=dword:2", "Site=sz:x;y#z|", "Trace=dword:1"}));

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
    EXPECT_EQ(values(*p), (QStringList{"Bin=hex:01,02,03,04", "Empty=hex:05", "Expand=expand:Line concatenation|",
                                       "Multi=multi:Line concat||"}));
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
              "Registry file test.reg line 5 skipped (continuation without a comma before the backslash): value \"A\"");
    EXPECT_TRUE(p->debug.lines[1].contains("line 8 skipped")) << p->debug.lines[1].toStdString();
    EXPECT_TRUE(p->debug.lines[2].contains("line 10 skipped")) << p->debug.lines[2].toStdString();
    EXPECT_EQ(values(*p), QStringList{"B=sz:x|"});
    EXPECT_EQ(values(*p, "Software\\Kestrelon\\Other"), QStringList{"E=sz:under other|"});

    // After ",\" a value or key line ends the value unfinished; the end of the file keeps what was read.
    auto q = parse(kHead + "\"A\"=hex:01,02,\\\n\"B\"=\"y\"\n\"Last\"=hex:0a,0b,\\\n");
    EXPECT_EQ(q->skipped, 1);
    EXPECT_EQ(q->debug.lines.value(0), "Registry file test.reg line 4 skipped (continuation ended by line 5): value \"A\"");
    EXPECT_EQ(values(*q), (QStringList{"B=sz:y|", "Last=hex:0a,0b"}));
}

TEST(RegFileParserHandEdited, AnUnrecognisedEscapeIsKeptAndNamedAndBackslashZeroRejectsTheLine)
{
    auto p = parse(kHead + R"("Path"="C:\Temp\new"
"Quote"="say \"hi\" \\ back"
"Value1"="Value1\0"
"Name\q"="n"
)");
    EXPECT_EQ(values(*p), (QStringList{R"(Name\q=sz:n|)", R"(Path=sz:C:\Temp\new|)", R"(Quote=sz:say "hi" \ back|)"}));
    EXPECT_EQ(p->skipped, 1);
    EXPECT_EQ(
        p->debug.lines,
        QStringList({R"(Registry file test.reg line 4: unrecognised escape sequence in the data of value "Path" kept as written)",
                     R"(Registry file test.reg line 6 skipped (\0 in a string): value "Value1")",
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
    EXPECT_EQ(values(*p, "Software\\Keep"), QStringList{"v=dword:1"}); // not deleted, and w not filed under it
    EXPECT_FALSE(p->store.keyExists(HKLM, "Software\\Blank"));
    EXPECT_EQ(values(*p, "Software\\Trailing  "), QStringList{"t=dword:3"});
    EXPECT_FALSE(p->store.keyExists(HKLM, "Software\\Trailing"));
    EXPECT_EQ(values(*p, "Software\\Indented"), QStringList{"i=dword:4"});
    EXPECT_EQ(p->skipped, 3);
    ASSERT_EQ(p->debug.lines.size(), 3);
    EXPECT_EQ(p->debug.lines[0], R"(Registry file test.reg line 4 skipped (unknown root key))");
    EXPECT_EQ(p->debug.lines[1], R"(Registry file test.reg line 5 skipped (value under a key that was not read): value "w")");
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
    } cases[] = {{512, 1, nullptr},
                 {513, 1, "key deeper than 512 levels"},
                 {3, 255, nullptr},
                 {3, 256, "key name longer than 255 characters"}};
    for (const Case& c : cases) {
        const QByteArray key = keyOf(c.depth, c.nameLength);
        auto p = parse("Windows Registry Editor Version 5.00\n[" + key + "]\n\"v\"=dword:7\n");
        const QString path = QString::fromLatin1(key.mid(sizeof("HKEY_LOCAL_MACHINE")));
        SCOPED_TRACE(testing::Message() << c.depth << " levels of " << c.nameLength);
        if (!c.refusal) {
            EXPECT_EQ(p->skipped, 0);
            EXPECT_EQ(values(*p, path), QStringList{"v=dword:7"});
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
    EXPECT_EQ(values(*p), (QStringList{"Multi=multi:a|b||", "NoZero=expand:%PATH%|", "OddByte=sz:AB|", "Sz=sz:A|",
                                       "WithZero=expand:%PATH%|"}));

    // REGEDIT4 keeps text data in single bytes.
    auto ansi = parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\n"
                      "\"P\"=hex(2):25,50,25\n");
    EXPECT_EQ(values(*ansi), QStringList{"P=expand:%P%|"});
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
            EXPECT_EQ(values(*p, "Software\\K"), (QStringList{"A=sz:a|", "B=dword:2", "Bin=hex:01,02"}));
        }
    }
}

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
