// The commands that only read, run as a user who may read the database but not write its folder (Unix
// permissions, and setpriv to become that user when the suite runs as root).
#include "cli/ReadingCommands.h"

#include "app/DemoEnvironment.h"
#include "support/CliProcess.h"
#include "support/TestContext.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using fw::test::CliRun;

namespace {

void setMode(const QString& path, QFileDevice::Permissions p)
{
    ASSERT_TRUE(QFile::setPermissions(path, p)) << path.toStdString();
}

constexpr QFileDevice::Permissions kReadable = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
constexpr QFileDevice::Permissions kEnterable = kReadable | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

} // namespace

// The metrics service's user: it may read the database but not write its folder. In WAL mode with no writer open,
// SQLite cannot read without making files in that folder, and the message says so.
TEST(ReadOnlyReaders, AUserWhoCannotWriteTheFolderReadsTheDatabaseOrIsToldWhyNot)
{
    // As root permissions do not bite: the commands run as the unprivileged user nobody.
    QString program = FERROWIND_CLI;
    QStringList prefix;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty())
            GTEST_SKIP() << "running as root without setpriv to become an unprivileged user";
        program = setpriv;
        prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", FERROWIND_CLI};
    }
    const auto asReader = [&](const QStringList& args, const QString& reg) {
        return fw::test::runCli(program, prefix + args, reg);
    };
    QTemporaryDir top;
    setMode(top.path(), kEnterable | QFileDevice::WriteOwner);
    const QString demo = top.filePath("demo");
    ASSERT_EQ(fw::test::cli({"demo-env", demo, "--runs", "5"}).code, 0);
    const QString reg = fw::DemoEnvironment::registryPath(demo);
    const QString path = fw::DemoEnvironment::databasePath(demo);
    setMode(path, kReadable);
    setMode(reg, kReadable);
    setMode(demo, kEnterable);
    struct Writable { // so that the temporary folder can go, whatever the test ends with
        QString folder;
        ~Writable() { QFile::setPermissions(folder, kEnterable | QFileDevice::WriteOwner); }
    } restore{demo};

    for (const QStringList& args : fw::test::kReadingCommands) {
        const CliRun r = asReader(args, reg);
        EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
    }

    setMode(demo, kEnterable | QFileDevice::WriteOwner);
    setMode(path, kReadable | QFileDevice::WriteOwner);
    fw::test::sqlValue("sqlite:" + path, "PRAGMA journal_mode = WAL");
    ASSERT_FALSE(QFile::exists(path + "-wal")) << "no writer has the database open";
    setMode(demo, kEnterable);
    const CliRun r = asReader({"settings", "show"}, reg);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.toStdString(), ("ferrowind settings show: attempt to write a readonly database Unable to execute "
                                    "statement (SQLite has to create a file beside the database, in WAL mode its -wal and "
                                    "-shm files, and this user cannot write to the folder " +
                                    demo + ")\n")
                                       .toStdString());
}
