#include "support/TestContext.h"

#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "db/DatabaseSession.h"
#include "db/DemoData.h"
#include "log/ActivityLog.h"
#include "platform/RegistryFileExposure.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace fw::test {

QVariant sqlValue(const QString& connectionString, const QString& statement, const QVariantList& binds)
{
    Result<std::unique_ptr<Database>> db = openForSetUp(connectionString);
    if (!db) {
        ADD_FAILURE() << db.error().description.toStdString();
        return {};
    }
    Result<QSqlQuery> q = (*db)->run(statement, binds);
    if (!q) {
        ADD_FAILURE() << q.error().description.toStdString() << " in " << statement.toStdString();
        return {};
    }
    return q->next() ? q->value(0) : QVariant();
}

void writeTestFile(const QString& path, const QByteArray& body)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(body);
}

QVariant TestContext::sql(const QString& statement, const QVariantList& binds) const
{
    return sqlValue(m_ctx->connectionString, statement, binds);
}

TestContext::TestContext()
{
    AppSeams s = doubleSeams();
    m_registry = static_cast<RegistryContents*>(s.registry.get());
    m_debug = static_cast<RecordingDebugChannel*>(s.debug.get());
    m_prompter = static_cast<ScriptedPrompter*>(s.prompter.get());
    m_clock = static_cast<FixedClock*>(s.clock.get());
    m_shell = static_cast<RecordingShell*>(s.shell.get());
    m_sleeper = static_cast<InstantSleeper*>(s.sleeper.get());
    m_workstation = static_cast<FakeWorkstationSource*>(s.workstation.get());
    m_eventLoop = static_cast<RecordingEventLoop*>(s.eventLoop.get());
    m_workstation->computer = ComputerFacts{QStringLiteral("VELMORA01"), QStringLiteral("CORP"), {}, 1, 500, 10, 0};
    m_workstation->user = UserFacts{QStringLiteral("admin"), QStringLiteral("CORP"), {}, QStringLiteral("DC01")};
    m_ctx = std::make_unique<AppContext>(std::move(s), QStringLiteral("FerrowindSettingsTool"), m_dir.path(), logsDir());
    setVersion(0x00080000, 0x00000055);
    m_registry->setString(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\SystemParameters\\1.0"),
                          QStringLiteral("IDCProgID"), QStringLiteral("KSDSAD.KSDSAD.1"));
}

QString TestContext::logsDir() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("logs"));
}

void TestContext::setVersion(quint32 versionNumber, quint32 buildNumber)
{
    const QString key = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon");
    m_registry->setDword(key, QStringLiteral("Version Number"), versionNumber);
    m_registry->setDword(key, QStringLiteral("Build Number"), buildNumber);
}

TestContext::~TestContext()
{
    // The context keeps its connection to the database (DatabaseSession): it goes before the database is dropped.
    m_ctx->databaseSession().close();
}

QString TestContext::createEmptyDatabase()
{
    m_ctx->databaseSession().close(); // the context's connection to the database made before
    m_database.reset();               // one at a time: SQLite's file has one name
    m_database = std::make_unique<EngineDatabase>(m_engine, m_dir.path());
    const QString cs = m_database->connectionString();
    if (cs.isEmpty())
        return {};
    m_registry->setString(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool"),
                          QStringLiteral("ConnectionString"), cs);
    m_ctx->connectionString = cs;
    return cs;
}

QString TestContext::createDemoDatabase(int dcRuns, int gcRuns)
{
    const QString cs = createEmptyDatabase();
    if (cs.isEmpty())
        return {};
    Result<std::unique_ptr<Database>> db = openForSetUp(cs);
    Result<void> filled = db ? DemoData::populate(**db, {.dcRuns = dcRuns, .gcRuns = gcRuns, .lastRunEnd = m_clock->now()})
                             : Result<void>(db.error());
    if (!filled) {
        ADD_FAILURE() << "cannot fill the demo database: " << filled.error().description.toStdString();
        return {};
    }
    return cs;
}

QString TestContext::writeRegistryFile() const
{
    const QString path = QDir(m_dir.path()).filePath(QStringLiteral("velmora.reg"));
    writeTestFile(path, DemoEnvironment::registryText(m_ctx->connectionString).toUtf8());
    // It may hold the T-SQL server's password, and the tools warn about such a file that others can read.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !keepToOwner(file))
        ADD_FAILURE() << path.toStdString() << " could not be made its owner's alone";
    return path;
}

QByteArray TestContext::logBytes() const
{
    QFile f(m_ctx->log().logPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList TestContext::logLines() const
{
    return logLines(m_ctx->log().logPath());
}

QStringList TestContext::logLines(const QString& path)
{
    QFile f(path);
    QString text = f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    return text.split(QStringLiteral("\r\n"));
}

} // namespace fw::test
