#include "support/TestEngine.h"

#include "db/DemoData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QThread>

namespace fw::test {

void PrintTo(Engine engine, std::ostream* os)
{
    *os << (engine == Engine::Sqlite ? "Sqlite" : "SqlServer");
}

std::string engineName(const ::testing::TestParamInfo<Engine>& info)
{
    return ::testing::PrintToString(info.param);
}

Result<std::unique_ptr<Database>> openForSetUp(const QString& connectionString)
{
    return Database::open(connectionString, Database::Access::ReadWrite, kSetUpBudget);
}

QString sqlServerTestConnection()
{
    return qEnvironmentVariable("FERROWIND_TEST_SQLSERVER").trimmed();
}

bool engineConfigured(Engine e)
{
    return e == Engine::Sqlite || !sqlServerTestConnection().isEmpty();
}

QString withDatabase(const QString& connectionString, const QString& database)
{
    // Parts end at ';' outside braces ("PWD={a;b}").
    QStringList kept;
    QString part;
    int depth = 0;
    auto flush = [&] {
        const QString key = part.section(QLatin1Char('='), 0, 0).trimmed();
        if (!part.trimmed().isEmpty() && key.compare(QLatin1String("Database"), Qt::CaseInsensitive) != 0)
            kept << part;
        part.clear();
    };
    for (const QChar c : connectionString) {
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && depth > 0)
            --depth;
        if (c == QLatin1Char(';') && depth == 0)
            flush();
        else
            part += c;
    }
    flush();
    kept << QStringLiteral("Database=") + database;
    return kept.join(QLatin1Char(';'));
}

QString refuseUpdatesSql(Engine engine, const QString& table, const QString& message)
{
    if (engine == Engine::Sqlite)
        return QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON %1 BEGIN SELECT RAISE(ABORT, '%2'); END")
            .arg(table, message);
    return QStringLiteral("CREATE TRIGGER refuse ON %1 AFTER UPDATE AS BEGIN RAISERROR('%2', 16, 1); ROLLBACK TRANSACTION; END")
        .arg(table, message);
}

QString renameTableSql(Engine engine, const QString& from, const QString& to)
{
    if (engine == Engine::Sqlite)
        return QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(from, to);
    return QStringLiteral("EXEC sp_rename '%1', '%2', 'OBJECT'").arg(from, to); // Babelfish needs the type named
}

::testing::AssertionResult isMissingTableError(Engine engine, const FwError& error, const QString& table)
{
    const QString& text = error.description;
    bool ok = false;
    if (engine == Engine::Sqlite)
        ok = error.number == 1 && text.contains(QStringLiteral("no such table: ") + table);
    else
        ok = (error.number == 208 && text.contains(QStringLiteral("Invalid object name '%1'").arg(table))) ||
             (error.number == 33557097 && text.contains(QStringLiteral("relation \"%1\" does not exist").arg(table.toLower())));
    if (ok)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not a missing " << table.toStdString() << ": " << error.number << " "
                                         << text.toStdString();
}

namespace {
// CREATE and DROP DATABASE on the server behind FERROWIND_TEST_SQLSERVER. Babelfish refuses such statements that
// run at the same moment in two sessions ("tuple concurrently updated"), as parallel test processes do: tried again.
FwError serverDdl(const QString& statement)
{
    FwError err;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0)
            QThread::msleep(100 + 100 * attempt);
        Result<std::unique_ptr<Database>> server = openForSetUp(sqlServerTestConnection());
        Result<QSqlQuery> done = server ? (*server)->run(statement) : Result<QSqlQuery>(server.error());
        err = done ? FwError{} : done.error();
        if (!err || !err.description.contains(QLatin1String("concurrently")))
            break;
    }
    return err;
}
} // namespace

EngineDatabase::EngineDatabase(Engine engine, const QString& dir) : m_engine(engine)
{
    FwError err;
    Result<std::unique_ptr<Database>> db = FwError::unknown();
    QString cs;
    if (engine == Engine::Sqlite) {
        const QString path = QDir(dir).filePath(QStringLiteral("VelmoraDb.sqlite"));
        QFile::remove(path);
        db = Database::createSqlite(path);
        cs = QStringLiteral("sqlite:") + path;
    } else {
        const QString base = sqlServerTestConnection();
        const QString name = QStringLiteral("fwt_%1_%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        err = serverDdl(QStringLiteral("CREATE DATABASE %1").arg(name));
        if (err) {
            ADD_FAILURE() << "cannot create a test database: " << err.description.toStdString();
            return;
        }
        m_serverDatabase = name;
        cs = withDatabase(base, name);
        db = openForSetUp(cs);
    }
    const Result<void> loaded = db ? DemoData::createSchema(**db) : Result<void>(db.error());
    if (!loaded) {
        ADD_FAILURE() << "cannot load the schema: " << loaded.error().description.toStdString();
        return;
    }
    m_cs = cs;
}

EngineDatabase::~EngineDatabase()
{
    if (m_serverDatabase.isEmpty())
        return;
    const FwError err = serverDdl(QStringLiteral("DROP DATABASE %1").arg(m_serverDatabase));
    if (err)
        ADD_FAILURE() << "cannot drop the test database " << m_serverDatabase.toStdString() << ": "
                      << err.description.toStdString();
}

std::unique_ptr<Database> EngineDatabase::open() const
{
    Result<std::unique_ptr<Database>> db = Database::open(m_cs);
    if (!db) {
        ADD_FAILURE() << db.error().description.toStdString();
        return nullptr;
    }
    return std::move(db).value();
}

} // namespace fw::test
