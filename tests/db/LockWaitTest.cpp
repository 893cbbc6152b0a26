#include "db/Database.h"
#include "support/Must.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <thread>

// Another writer holds the database. The statements of one connection wait for it 5 s in all, not 5 s each; a new
// connection waits afresh, and a lock that goes while it waits lets its statement through.
TEST(SqliteLockWait, TheStatementsOfOneConnectionShareOneWait)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("velmora.sqlite");
    {
        const std::unique_ptr<fw::Database> setup = fw::test::must(fw::Database::createSqlite(path));
        ASSERT_TRUE(setup);
        fw::test::must(setup->run("CREATE TABLE t (x INTEGER)"));
        fw::test::must(setup->run("INSERT INTO t VALUES (1)"));
    }
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    const std::unique_ptr<fw::Database> reader = fw::test::must(fw::Database::open("sqlite:" + path));
    ASSERT_TRUE(reader);
    QElapsedTimer clock;
    clock.start();
    fw::FwError err = reader->run("SELECT x FROM t").error();
    const qint64 first = clock.restart();
    EXPECT_EQ(err.number, 5);
    EXPECT_TRUE(err.description.startsWith("database is locked")) << err.description.toStdString();
    EXPECT_GE(first, 4900);
    EXPECT_LT(first, 6000);
    err = reader->run("SELECT x FROM t").error();
    EXPECT_LT(clock.restart(), 500) << "the second statement waited again";
    EXPECT_EQ(err.number, 5);

    const std::unique_ptr<fw::Database> later = fw::test::must(fw::Database::open("sqlite:" + path));
    ASSERT_TRUE(later);
    std::thread release([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
    });
    fw::Result<QSqlQuery> q = later->run("SELECT x FROM t");
    release.join();
    ASSERT_TRUE(q) << q.error().description.toStdString();
    EXPECT_TRUE(q->next());
    EXPECT_EQ(q->value(0).toInt(), 1);
    sqlite3_close(writer);
}

// The shared wait uses the busy handler of the library this program links, on the handle of Qt's plugin: only when
// the plugin runs on that same library; otherwise each statement keeps Qt's own wait, and the debugger hears why.
TEST(SqliteLockWait, SharedOnlyWhenQtsPluginRunsOnTheLinkedLibrary)
{
    EXPECT_EQ(fw::Database::sqliteLibraryMismatch("3.40.1", "3.40.1"), "");
    EXPECT_EQ(fw::Database::sqliteLibraryMismatch("3.46.0", "3.40.1"),
              "Qt's SQLite plugin runs on SQLite 3.46.0, this program links 3.40.1: each statement waits up to 5 seconds "
              "for another writer's lock instead of the connection's statements sharing one wait");
    EXPECT_EQ(fw::Database::sqliteLibraryMismatch("", "3.40.1"),
              "Qt's SQLite plugin runs on SQLite (unknown), this program links 3.40.1: each statement waits up to 5 "
              "seconds for another writer's lock instead of the connection's statements sharing one wait");
}
