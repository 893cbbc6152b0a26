#pragma once
#include "context/AppContext.h"
#include "support/TestEngine.h"
#include "support/doubles/TestDoubles.h"

#include <QStringList>
#include <QVariant>
#include <QTemporaryDir>
#include <memory>

namespace fw::test {

// Runs one statement on the database behind `connectionString` and answers the first column of its first row
// (an invalid value when there is none). A database that cannot be opened or a refused statement fails the test.
QVariant sqlValue(const QString& connectionString, const QString& statement, const QVariantList& binds = {});

// Writes a new file; one that cannot be written fails the test.
void writeTestFile(const QString& path, const QByteArray& body);

// A program context whose seams are all test doubles, with a fresh temporary folder as program folder
// (the logs go to its "logs" subfolder). The registry holds an installed Velmora 8.0(0.85) by default.
class TestContext {
public:
    TestContext();
    ~TestContext();

    AppContext& ctx() { return *m_ctx; }
    RegistryContents& registry() { return *m_registry; }
    RecordingDebugChannel& debug() { return *m_debug; }
    ScriptedPrompter& prompter() { return *m_prompter; }
    FixedClock& clock() { return *m_clock; }
    RecordingShell& shell() { return *m_shell; }
    InstantSleeper& sleeper() { return *m_sleeper; }
    FakeWorkstationSource& workstation() { return *m_workstation; }
    RecordingEventLoop& eventLoop() { return *m_eventLoop; }
    QString dir() const { return m_dir.path(); }
    QString logsDir() const;

    // Sets "Version Number" and "Build Number" from their hexadecimal forms.
    void setVersion(quint32 versionNumber, quint32 buildNumber);
    // The engine of the databases made from now on (SQLite unless told).
    void setEngine(Engine engine) { m_engine = engine; }
    Engine engine() const { return m_engine; }
    // Makes an empty database (schema only) on the engine and points the connection string (the context's and
    // the registry's) at it; answers the connection string, empty when it could not be made.
    QString createEmptyDatabase();
    // The same, filled with the demo data.
    QString createDemoDatabase(int dcRuns = 50, int gcRuns = 50);
    // A registry file (DIR/velmora.reg) of an installed Velmora 8.0(0.85) pointing at the context's database, for
    // the command line; answers its path.
    QString writeRegistryFile() const;
    // Lines of the current log file (or of the one at `path`), without line ends.
    QStringList logLines() const;
    static QStringList logLines(const QString& path);
    QByteArray logBytes() const;
    // sqlValue on the context's database.
    QVariant sql(const QString& statement, const QVariantList& binds = {}) const;

private:
    QTemporaryDir m_dir;
    RegistryContents* m_registry;
    RecordingDebugChannel* m_debug;
    ScriptedPrompter* m_prompter;
    FixedClock* m_clock;
    RecordingShell* m_shell;
    InstantSleeper* m_sleeper;
    FakeWorkstationSource* m_workstation;
    RecordingEventLoop* m_eventLoop;
    std::unique_ptr<AppContext> m_ctx;
    Engine m_engine = Engine::Sqlite;
    std::unique_ptr<EngineDatabase> m_database;
};

} // namespace fw::test
