#include "BenchDatabases.h"

#include "db/Database.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <cstdio>

namespace fw::bench {

QString benchDir()
{
    const QString d = qEnvironmentVariable("FERROWIND_BENCH_DIR", QStringLiteral("/tmp/ferrowind-bench"));
    QDir().mkpath(d);
    return d;
}

int benchRuns()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("FERROWIND_BENCH_RUNS", &ok);
    return ok && n > 0 ? n : 1000000;
}

QString sqlServerConnection()
{
    const QString own = qEnvironmentVariable("FERROWIND_BENCH_SQLSERVER").trimmed();
    return own.isEmpty() ? qEnvironmentVariable("FERROWIND_TEST_SQLSERVER").trimmed() : own;
}

const char* engineName(Engine engine)
{
    return engine == Engine::Sqlite ? "sqlite" : "sqlserver";
}

namespace {

// The server's connection string naming database `name` instead of its own.
QString withDatabase(const QString& connectionString, const QString& name)
{
    QString cs = connectionString;
    cs.remove(QRegularExpression(QStringLiteral("(^|;)\\s*Database\\s*=[^;]*"), QRegularExpression::CaseInsensitiveOption));
    while (cs.startsWith(QLatin1Char(';')))
        cs.remove(0, 1);
    if (!cs.isEmpty() && !cs.endsWith(QLatin1Char(';')))
        cs += QLatin1Char(';');
    return cs + QStringLiteral("Database=") + name;
}

QString sqliteDatabase(const QString& name, const DemoDataOptions& o, QString* error)
{
    const QString path = QDir(benchDir()).filePath(name + QStringLiteral(".sqlite"));
    if (QFile::exists(path))
        return QStringLiteral("sqlite:") + path;
    const QString tmp = path + QStringLiteral(".part");
    QFile::remove(tmp);
    FwError err;
    {
        auto db = Database::createSqlite(tmp, &err);
        if (db) {
            QSqlQuery(db->handle()).exec(QStringLiteral("PRAGMA journal_mode = OFF"));
            QSqlQuery(db->handle()).exec(QStringLiteral("PRAGMA synchronous = OFF"));
            err = DemoData::createSchema(*db);
            if (!err)
                err = DemoData::populate(*db, o);
        }
    }
    if (err || !QFile::rename(tmp, path)) {
        *error = err ? err.description : QStringLiteral("cannot rename ") + tmp;
        return {};
    }
    return QStringLiteral("sqlite:") + path;
}

// `name` is made of fixed text and numbers only.
QString serverDatabase(const QString& name, const DemoDataOptions& o, QString* error)
{
    const QString cs = withDatabase(sqlServerConnection(), name);
    FwError err;
    auto server = Database::open(sqlServerConnection(), &err);
    if (!server) {
        *error = err.description;
        return {};
    }
    QSqlQuery exists = server->run(QStringLiteral("SELECT DB_ID(?)"), {name}, &err);
    const bool present = !err && exists.next() && !exists.value(0).isNull();
    if (present) {
        auto db = Database::open(cs, &err);
        if (db && db->handle().tables().contains(QStringLiteral("FerrowindBenchComplete"), Qt::CaseInsensitive))
            return cs;
        db.reset();
        server->run(QStringLiteral("DROP DATABASE %1").arg(name), {}, &err); // a load that did not complete
        if (err) {
            *error = err.description;
            return {};
        }
    }
    std::fprintf(stderr, "loading %s on the T-SQL server...\n", qPrintable(name));
    QElapsedTimer took;
    took.start();
    server->run(QStringLiteral("CREATE DATABASE %1").arg(name), {}, &err);
    std::unique_ptr<Database> db;
    if (!err)
        db = Database::open(cs, &err);
    if (db)
        err = DemoData::createSchema(*db);
    if (db && !err)
        err = DemoData::populate(*db, o); // one transaction
    if (db && !err)
        db->run(QStringLiteral("CREATE TABLE FerrowindBenchComplete (Runs int NOT NULL)"), {}, &err);
    if (err) {
        *error = err.description;
        return {};
    }
    std::fprintf(stderr, "loaded %s in %.0f s\n", qPrintable(name), took.elapsed() / 1000.0);
    return cs;
}

} // namespace

QString demoDatabase(Engine engine, const QString& name, const DemoDataOptions& o, QString* error)
{
    return engine == Engine::Sqlite ? sqliteDatabase(name, o, error) : serverDatabase(name, o, error);
}

} // namespace fw::bench
