#include "env/RegistryApi.h"
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
} // namespace

// What never ends or could fill the memory is refused before a byte is read: a device, a folder, a file larger
// than any export. The registry it would have been reads as empty. The folder's name has a space and a letter
// outside ASCII, as an administrator's profile may.
TEST(RegFileStore, ADeviceAFolderOrAnOversizedFileIsRefusedAtOnce)
{
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("Zo\u00eb\\Velmora Daten"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QByteArray head = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + kTool.toUtf8() +
                            "]\r\n\"Trace\"=dword:00000002\r\n";
    auto file = [&](const char* name, qint64 size) {
        const QString path = QDir(dir).filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(head) == head.size() && f.resize(size));
        return path;
    };
    const struct {
        QString path;
        QString problem;
    } cases[] = {
        {QStringLiteral("NUL"), "is not a registry export (it is not a regular file)"},
        {dir, "is a folder"},
        {QDir(dir).filePath("missing.reg"), "does not exist"},
        {file("over.reg", 16 * 1024 * 1024 + 1), "is not a registry export (it is larger than 16 MiB)"},
        {file("limit.reg", 16 * 1024 * 1024), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RegFileStore::problemWith(c.path), c.problem) << c.path.toStdString();
        RecordingDebugChannel debug;
        const RegFileStore store(c.path, &debug);
        EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), c.problem.isEmpty() ? 2 : 9)
            << c.path.toStdString();
    }
}
