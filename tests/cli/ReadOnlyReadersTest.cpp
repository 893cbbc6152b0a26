// The commands that only read, on SQLite files their user may not or should not write.
#include "ReadingCommands.h"

#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "support/CliProcess.h"
#include "support/Must.h"
#include "support/TestContext.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using fw::test::CliRun;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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
    for (const QStringList& args : fw::test::kReadingCommands) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun r = fw::test::cli(args, reg);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(bytesOf(path), file) << "the database was written";
        EXPECT_EQ(bytesOf(path + "-wal"), log) << "the write-ahead log was folded in or removed";
    }
    EXPECT_TRUE(fw::test::cli({"settings", "show"}, reg).out.contains("CurrentDC                    walonly.example.com\n"))
        << "the change in the log is read";
}
