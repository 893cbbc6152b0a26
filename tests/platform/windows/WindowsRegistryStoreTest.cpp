#include "env/RegistryApi.h"
#include "platform/RegistryStore.h"
#include "platform/windows/WindowsRegistryStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <windows.h>

using namespace fw;

namespace {

constexpr quint32 HKLM = HKEY_LOCAL_MACHINE_HIVE;

// One value as the registry holds it: UTF-16 with its terminator for the text types.
struct Case {
    QString key;
    QString name; // "@": the key's default value
    DWORD type;
    QByteArray data;
};

QByteArray utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), (text.size() + 1) * 2);
}

QByteArray little(quint64 v, int bytes)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

// Every value type, on the keys the program reads, with texts outside ASCII and a default value.
QList<Case> cases()
{
    QByteArray multi = utf16(QStringLiteral("dc1.corp.example.com"));
    multi += utf16(QStringLiteral("dc2.r\u00e9seau.example.com"));
    multi += QByteArray(2, '\0');
    return {
        {regkeys::kTool, "ConnectionString", REG_SZ, utf16("Driver={SQL Server};Server=db1;Database=Velmora")},
        {regkeys::kTool, "LogFolder", REG_SZ, utf16(QStringLiteral("C:\\Users\\Zo\u00eb\\Velmora Daten\\"))},
        {regkeys::kTool, "Empty", REG_SZ, utf16(QString())},
        {regkeys::kTool, "@", REG_SZ, utf16("the default value")},
        {regkeys::kTool, "Trace", REG_DWORD, little(2, 4)},
        {regkeys::kTool, "Servers", REG_MULTI_SZ, multi},
        {regkeys::kTool, "Blob", REG_BINARY, QByteArray::fromHex("0001feff7f80")},
        {regkeys::kTool, "Big", REG_QWORD, little(0x0102030405060708ull, 8)},
        {regkeys::kTool, "Nothing", REG_NONE, QByteArray()},
        {regkeys::kSystemParameters, "InstallDir", REG_EXPAND_SZ, utf16("%ProgramFiles%\\Kestrelon\\Velmora")},
        {regkeys::kSystemParameters, "Version", REG_SZ, utf16("8.0(0.85)")},
        {regkeys::kNodeManager, "FailoverMode", REG_DWORD, little(0xFFFFFFFFu, 4)},
    };
}

QString hexList(const QByteArray& b)
{
    QStringList parts;
    for (const char c : b)
        parts << QStringLiteral("%1").arg(static_cast<uchar>(c), 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(','));
}

// The export "reg export" would write for the cases (UTF-16 with its byte order mark).
QByteArray regFile(const QList<Case>& all)
{
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n");
    QString lastKey;
    for (const Case& c : all) {
        if (c.key != lastKey)
            text += QStringLiteral("\r\n[HKEY_LOCAL_MACHINE\\%1]\r\n").arg(c.key);
        lastKey = c.key;
        const QString name = c.name == QLatin1String("@") ? QStringLiteral("@") : QLatin1Char('"') + c.name + QLatin1Char('"');
        QString data;
        if (c.type == REG_SZ) {
            QString s = QString::fromUtf16(reinterpret_cast<const char16_t*>(c.data.constData()), c.data.size() / 2 - 1);
            data = QLatin1Char('"') +
                   s.replace(QLatin1String("\\"), QLatin1String("\\\\")).replace(QLatin1String("\""), QLatin1String("\\\"")) +
                   QLatin1Char('"');
        } else if (c.type == REG_DWORD) {
            data = QStringLiteral("dword:%1").arg(qFromLittleEndian<quint32>(c.data.constData()), 8, 16, QLatin1Char('0'));
        } else if (c.type == REG_BINARY) {
            data = QStringLiteral("hex:") + hexList(c.data);
        } else {
            data = QStringLiteral("hex(%1):").arg(c.type, 0, 16) + hexList(c.data);
        }
        text += name + QLatin1Char('=') + data + QStringLiteral("\r\n");
    }
    text += QStringLiteral("\r\n");
    QByteArray out("\xff\xfe", 2);
    out += QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return out;
}

REGSAM viewFlag(WindowsRegistryStore::View v)
{
    return v == WindowsRegistryStore::View::Bits32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

// Removes HKLM\Software\Kestrelon from one view.
void removeProduct(WindowsRegistryStore::View v)
{
    HKEY software = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | viewFlag(v), &software) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(software, L"Kestrelon");
    RegCloseKey(software);
}

// Writes the cases with the Win32 API into one view.
void writeWithApi(const QList<Case>& all, WindowsRegistryStore::View v)
{
    for (const Case& c : all) {
        HKEY key = nullptr;
        const std::wstring path = c.key.toStdWString();
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | viewFlag(v), nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS)
            << c.key.toStdString();
        const std::wstring name = c.name == QLatin1String("@") ? std::wstring() : c.name.toStdWString();
        EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, c.type, reinterpret_cast<const BYTE*>(c.data.constData()),
                                 static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS)
            << c.name.toStdString();
        RegCloseKey(key);
    }
}

// Each case reads the same through both stores, raw and as the program asks for it.
void expectSameAsFile(const RegistryStore& windows, const RegistryStore& file, const QList<Case>& all)
{
    for (const Case& c : all) {
        SCOPED_TRACE((c.key + QLatin1Char('\\') + c.name).toStdString());
        EXPECT_TRUE(windows.keyExists(HKLM, c.key));
        const auto fromFile = file.value(HKLM, c.key, c.name);
        const auto fromRegistry = windows.value(HKLM, c.key, c.name);
        ASSERT_TRUE(fromFile.has_value());
        ASSERT_TRUE(fromRegistry.has_value());
        EXPECT_EQ(fromRegistry->type, fromFile->type);
        EXPECT_EQ(fromRegistry->data.toHex(), fromFile->data.toHex());
        for (const int code : {RegTypeText, RegTypeBinary, RegTypeNumber})
            EXPECT_EQ(GetRegistryValue(windows, HKLM, c.key, c.name, code, QStringLiteral("default")),
                      GetRegistryValue(file, HKLM, c.key, c.name, code, QStringLiteral("default")))
                << "type code " << code;
    }
    EXPECT_FALSE(windows.value(HKLM, regkeys::kTool, "NoSuchValue").has_value());
    EXPECT_FALSE(windows.keyExists(HKLM, regkeys::kTool + "\\NoSuchKey"));
}

} // namespace

// Wine's registry, written with the Win32 API and imported with regedit, reads through the Windows store exactly as
// the same export reads through the .reg file store; the store takes the 32-bit view where the product's keys are
// and the 64-bit one only when the 32-bit view has none. One case: the registry is shared by every process of the
// prefix.
TEST(WindowsRegistryStore, ReadsWhatTheRegFileStoreReadsInTheViewThatHoldsTheProduct)
{
    using View = WindowsRegistryStore::View;
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("Zo\u00eb Velmora Daten"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString exportPath = QDir(dir).filePath("velmora.reg");
    {
        QFile f(exportPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(regFile(cases()));
    }
    const RegFileStore file(exportPath, nullptr);
    ASSERT_TRUE(RegFileStore::problemWith(exportPath).isEmpty()) << RegFileStore::problemWith(exportPath).toStdString();

    // Written with the Win32 API into the 32-bit view, where a 32-bit installer writes.
    removeProduct(View::Bits32);
    removeProduct(View::Bits64);
    writeWithApi(cases(), View::Bits32);
    const WindowsRegistryStore chosen;
    EXPECT_EQ(chosen.view(), View::Bits32);
    expectSameAsFile(chosen, file, cases());

    // Imported with regedit (a 64-bit program: the 64-bit view); with nothing left in the 32-bit view the store
    // reads the 64-bit one.
    removeProduct(View::Bits32);
    const int rc = QProcess::execute(QStringLiteral("regedit.exe"), {QStringLiteral("/S"), QDir::toNativeSeparators(exportPath)});
    ASSERT_EQ(rc, 0) << "regedit /S did not import the export";
    const WindowsRegistryStore fallback;
    EXPECT_EQ(fallback.view(), View::Bits64);
    expectSameAsFile(fallback, file, cases());

    // With the product in both views, the 32-bit one wins.
    writeWithApi({{regkeys::kTool, "Trace", REG_DWORD, little(7, 4)}}, View::Bits32);
    const WindowsRegistryStore both;
    EXPECT_EQ(both.view(), View::Bits32);
    EXPECT_EQ(GetRegistryValue(both, HKLM, regkeys::kTool, "Trace", RegTypeNumber, 0).toInt(), 7);
    EXPECT_EQ(GetRegistryValue(WindowsRegistryStore(View::Bits64), HKLM, regkeys::kTool, "Trace", RegTypeNumber, 0).toInt(), 2);

    removeProduct(View::Bits32);
    removeProduct(View::Bits64);
}
