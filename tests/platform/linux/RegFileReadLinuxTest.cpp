#include "env/RegistryApi.h"
#include "platform/RegistryStore.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fw;

namespace {
const QString kTool = QStringLiteral("Software\\Kestrelon\\FerrowindSettingsTool");
constexpr quint32 HKLM = HKEY_LOCAL_MACHINE_HIVE;
} // namespace

// What never ends or could fill the memory is refused before a byte is read: a pipe with no writer, a device,
// a file larger than any export (sparse here). The registry it would have been reads as empty.
TEST(RegFileStore, APipeADeviceOrAnOversizedFileIsRefusedAtOnce)
{
    QTemporaryDir dir;
    const QByteArray head = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\" + kTool.toUtf8() +
                            "]\r\n\"Trace\"=dword:00000002\r\n";
    auto sparse = [&](const char* name, qint64 size) {
        const QString path = QDir(dir.path()).filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(head) == head.size() && f.resize(size));
        return path;
    };
    const QString fifo = QDir(dir.path()).filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString notRegular = "is not a registry export (it is not a regular file)";
    const QString tooLarge = "is not a registry export (it is larger than 16 MiB)";
    const struct {
        QString path;
        QString problem;
    } cases[] = {
        {fifo, notRegular},
        {"/dev/zero", notRegular},
        {sparse("over.reg", 16 * 1024 * 1024 + 1), tooLarge},
        {sparse("limit.reg", 16 * 1024 * 1024), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RegFileStore::problemWith(c.path), c.problem) << c.path.toStdString();
        RecordingDebugChannel debug;
        const RegFileStore store(c.path, &debug);
        EXPECT_EQ(GetRegistryValue(store, HKLM, kTool, "Trace", RegTypeNumber, 9).toInt(), c.problem.isEmpty() ? 2 : 9)
            << c.path.toStdString();
        if (!c.problem.isEmpty()) {
            EXPECT_EQ(debug.lines, QStringList{"Registry file " + c.path + " " + c.problem + "; it is not read"});
        }
    }
}
