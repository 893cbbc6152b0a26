#include "BenchDatabases.h"

#include "db/Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlRecord>
#include <QThread>
#include <QTextStream>
#include <QRegularExpression>
#include <QSqlError>
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
    Result<void> made = Result<void>::success();
    {
        Result<std::unique_ptr<Database>> db = Database::createSqlite(tmp);
        if (!db) {
            made = db.error();
        } else {
            QSqlQuery((*db)->handle()).exec(QStringLiteral("PRAGMA journal_mode = OFF"));
            QSqlQuery((*db)->handle()).exec(QStringLiteral("PRAGMA synchronous = OFF"));
            made = DemoData::createSchema(**db);
            if (made)
                made = DemoData::populate(**db, o);
        }
    }
    if (!made || !QFile::rename(tmp, path)) {
        *error = !made ? made.error().description : QStringLiteral("cannot rename ") + tmp;
        return {};
    }
    return QStringLiteral("sqlite:") + path;
}

// Babelfish: the rows of the SQLite database `lite` copied into database `name` through PostgreSQL's own port (the
// tables are PostgreSQL's in schema NAME_dbo, names in lower case), far faster than INSERT statements over TDS.
FwError copyThroughPostgres(Database& lite, const QString& name)
{
    const QString psql = qEnvironmentVariable("FERROWIND_BENCH_PSQL");
    const QString conninfo = qEnvironmentVariable("FERROWIND_BENCH_PG");
    const QString csv = QDir(benchDir()).filePath(QStringLiteral("copy-%1.csv").arg(QCoreApplication::applicationPid()));
    if (csv.contains(QLatin1Char('\'')))
        return {2, QStringLiteral("the benchmark folder's path holds a quote")};
    for (const char* table :
         {"ADDomain", "Configuration", "SyncHistoryDC", "SyncHistoryGC", "SyncHistoryDCDomain", "SyncHistoryObject"}) {
        QStringList columns;
        {
            QFile f(csv);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return {2, QStringLiteral("cannot write ") + csv};
            QTextStream out(&f);
            QSqlQuery q(lite.handle());
            q.setForwardOnly(true);
            if (!q.exec(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(table))))
                return Database::fromSqlError(q.lastError());
            for (int i = 0; i < q.record().count(); ++i)
                columns << q.record().fieldName(i).toLower();
            while (q.next()) {
                for (int i = 0; i < columns.size(); ++i) {
                    if (i)
                        out << ',';
                    const QVariant v = q.value(i);
                    if (v.isNull())
                        continue; // an empty field is a null; no value is an empty text
                    QString text = v.toString();
                    if (v.typeId() == QMetaType::QString)
                        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
                    out << text;
                }
                out << '\n';
            }
        }
        const QString copy = QStringLiteral("\\copy %1_dbo.%2 (%3) FROM '%4' WITH (FORMAT csv)")
                                 .arg(name, QString::fromLatin1(table).toLower(), columns.join(QLatin1Char(',')), csv);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(psql, {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                       conninfo, QStringLiteral("-c"), copy, QStringLiteral("-c"),
                       QStringLiteral("ANALYZE %1_dbo.%2").arg(name, QString::fromLatin1(table).toLower())});
        if (!p.waitForFinished(-1))
            return {2, psql + QStringLiteral(": ") + p.errorString()};
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return {2, QStringLiteral("psql: ") + QString::fromLocal8Bit(p.readAll())};
    }
    QFile::remove(csv);
    return {};
}

// `name` is made of fixed text and numbers only. With FERROWIND_BENCH_PSQL and FERROWIND_BENCH_PG (Babelfish's
// PostgreSQL, as scripts/tsql-test-server sets them) the rows of the SQLite database made for the same options
// are copied in; otherwise DemoData writes them over the connection.
QString serverDatabase(const QString& name, const DemoDataOptions& o, QString* error)
{
    const QString dbName = QStringLiteral("fwbench_") + name;
    const QString cs = withDatabase(sqlServerConnection(), dbName);
    const auto failed = [&](const FwError& e) {
        *error = e.description;
        return QString();
    };
    Result<std::unique_ptr<Database>> server = Database::open(sqlServerConnection());
    if (!server)
        return failed(server.error());
    Result<QSqlQuery> exists = (*server)->run(QStringLiteral("SELECT DB_ID(?)"), {dbName});
    if (!exists)
        return failed(exists.error());
    if (exists->next() && !exists->value(0).isNull()) {
        // Complete once the mark is there; a database that cannot be asked is left alone.
        FwError asked;
        {
            Result<std::unique_ptr<Database>> db = Database::open(cs);
            if (!db) {
                asked = db.error();
            } else if (Result<QSqlQuery> mark = (*db)->run(QStringLiteral("SELECT Runs FROM FerrowindBenchComplete")); !mark) {
                asked = mark.error();
            }
        }
        if (!asked.isError())
            return cs;
        if (!asked.description.contains(QLatin1String("does not exist")) &&
            !asked.description.contains(QLatin1String("Invalid object name")))
            return failed(asked);
        // A load that did not complete. The session just closed may still hold the database for a moment.
        Result<QSqlQuery> dropped = FwError::unknown();
        for (int attempt = 0; attempt < 20; ++attempt) {
            dropped = (*server)->run(QStringLiteral("DROP DATABASE %1").arg(dbName));
            if (dropped || !dropped.error().description.contains(QLatin1String("in use")))
                break;
            QThread::msleep(500);
        }
        if (!dropped)
            return failed(dropped.error());
    }
    const bool copy = !qEnvironmentVariable("FERROWIND_BENCH_PG").isEmpty();
    QString lite;
    if (copy) {
        lite = sqliteDatabase(name, o, error);
        if (lite.isEmpty())
            return {};
    }
    std::fprintf(stderr, "loading %s on the T-SQL server...\n", qPrintable(dbName));
    QElapsedTimer took;
    took.start();
    if (Result<QSqlQuery> created = (*server)->run(QStringLiteral("CREATE DATABASE %1").arg(dbName)); !created)
        return failed(created.error());
    Result<std::unique_ptr<Database>> db = Database::open(cs);
    if (!db)
        return failed(db.error());
    if (Result<void> schema = DemoData::createSchema(**db); !schema)
        return failed(schema.error());
    if (copy) {
        Result<std::unique_ptr<Database>> source = Database::open(lite);
        if (!source)
            return failed(source.error());
        if (const FwError copied = copyThroughPostgres(**source, dbName); copied.isError())
            return failed(copied);
    } else if (Result<void> filled = DemoData::populate(**db, o); !filled) { // one transaction
        return failed(filled.error());
    }
    if (Result<QSqlQuery> mark = (*db)->run(QStringLiteral("CREATE TABLE FerrowindBenchComplete (Runs int NOT NULL)")); !mark)
        return failed(mark.error());
    std::fprintf(stderr, "loaded %s in %.0f s\n", qPrintable(dbName), took.elapsed() / 1000.0);
    return cs;
}

} // namespace

QString demoDatabase(Engine engine, const QString& name, const DemoDataOptions& o, QString* error)
{
    if (engine == Engine::Sqlite)
        return sqliteDatabase(name, o, error);
    // A server just started, or busy, may take longer than a statement's share of 5 s to answer the first questions.
    QString cs;
    for (int attempt = 0; attempt < 3 && cs.isEmpty(); ++attempt) {
        error->clear();
        cs = serverDatabase(name, o, error);
        if (!error->contains(QLatin1String("did not answer")))
            break;
    }
    return cs;
}

} // namespace fw::bench
