// The commands that only read, on SQLite files their user may not or should not write.
#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "support/CliProcess.h"
#include "support/Must.h"
#include "support/TestContext.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using fw::test::CliRun;

namespace {

const QList<QStringList> kReadingCommands{{"status"},
                                          {"status", "--details", "dc"},
                                          {"status", "--details", "gc"},
                                          {"metrics"},
                                          {"check-sync"},
                                          {"history", "dc"},
                                          {"history", "gc"},
                                          {"settings", "show"}};

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void setMode(const QString& path, QFileDevice::Permissions p)
{
    ASSERT_TRUE(QFile::setPermissions(path, p)) << path.toStdString();
}

constexpr QFileDevice::Permissions kReadable = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
constexpr QFileDevice::Permissions kEnterable = kReadable | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

} // namespace

// A writer stopped with changes still in its write-ahead log: every reading command reads them and leaves the database
// and the log as they were (a reader that folds the log into the file writes the database, whoever runs it).
TEST(ReadOnlyReaders, EveryReadingCommandLeavesAWriteAheadLogAsItFoundIt)
{
    QTemporaryDir dir;
    ASSERT_EQ(fw::test::cli({"demo-env", dir.filePath("live"), "--runs", "5"}).code, 0);
    const QString path = dir.filePath("VelmoraDb.sqlite");
    {
        const QString live = fw::DemoEnvironment::databasePath(dir.filePath("live"));
        const std::unique_ptr<fw::Database> writer = fw::test::must(fw::Database::open("sqlite:" + live));
        ASSERT_TRUE(writer);
        fw::test::must(writer->run("PRAGMA journal_mode = WAL"));
        fw::test::must(writer->run("PRAGMA wal_autocheckpoint = 0"));
        fw::test::must(
            writer->run("UPDATE ADDomain SET CurrentDC = 'walonly.example.com' WHERE DomainName = 'corp.example.com'"));
        // Copied while the writer is open: what a writer that was killed leaves.
        ASSERT_TRUE(QFile::copy(live, path));
        ASSERT_TRUE(QFile::copy(live + "-wal", path + "-wal"));
    }
    const QString reg = fw::DemoEnvironment::registryPath(dir.path());
    fw::test::writeTestFile(reg, fw::DemoEnvironment::registryText("sqlite:" + path).toUtf8());
    const QByteArray file = bytesOf(path);
    const QByteArray log = bytesOf(path + "-wal");
    ASSERT_FALSE(log.isEmpty());
    for (const QStringList& args : kReadingCommands) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun r = fw::test::cli(args, reg);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(bytesOf(path), file) << "the database was written";
        EXPECT_EQ(bytesOf(path + "-wal"), log) << "the write-ahead log was folded in or removed";
    }
    EXPECT_TRUE(fw::test::cli({"settings", "show"}, reg).out.contains("CurrentDC                    walonly.example.com\n"))
        << "the change in the log is read";
}

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

    for (const QStringList& args : kReadingCommands) {
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
