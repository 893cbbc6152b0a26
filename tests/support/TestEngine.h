#pragma once
// The database engines the database-facing suites run on: SQLite always, a T-SQL server (Babelfish in CI, or a
// real SQL Server) when FERROWIND_TEST_SQLSERVER holds an ODBC connection string to it. The login needs the right
// to create databases: each case gets a database of its own, dropped when the case ends.
#include "db/Database.h"

#include <QString>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>

namespace fw::test {

enum class Engine { Sqlite, SqlServer };

inline const auto kEngines = ::testing::Values(Engine::Sqlite, Engine::SqlServer);
std::string engineName(const ::testing::TestParamInfo<Engine>& info);
// So that ctest and gtest name the engine rather than print its bytes.
void PrintTo(Engine engine, std::ostream* os);

// What a test's own set-up and checks may wait for the server in all, on each of their connections: on a busy machine a
// CREATE DATABASE, an sp_rename or a fixture's inserts take seconds. The program's own connections keep their budget.
inline constexpr std::chrono::milliseconds kSetUpBudget{60000};
// Database::open for a test's own set-up and checks, with that budget.
Result<std::unique_ptr<Database>> openForSetUp(const QString& connectionString);

// FERROWIND_TEST_SQLSERVER, or empty.
QString sqlServerTestConnection();
bool engineConfigured(Engine e);

// The connection string with its Database= replaced by `database`.
QString withDatabase(const QString& connectionString, const QString& database);

// Engine-specific statements the cases use to break a database on purpose.
// An UPDATE of `table` fails with `message`.
QString refuseUpdatesSql(Engine engine, const QString& table, const QString& message);
QString renameTableSql(Engine engine, const QString& from, const QString& to);

// The engine's error for a statement on a table that does not exist: SQLite 1 "no such table: T"; SQL Server 208
// "Invalid object name 'T'"; Babelfish 33557097 "relation \"t\" does not exist".
::testing::AssertionResult isMissingTableError(Engine engine, const FwError& error, const QString& table);

// A fresh database with the engine's schema loaded (SQLite: DIR/VelmoraDb.sqlite), dropped when it goes.
// A database that cannot be made fails the case and leaves connectionString() empty.
class EngineDatabase {
public:
    EngineDatabase(Engine engine, const QString& dir);
    ~EngineDatabase();
    EngineDatabase(const EngineDatabase&) = delete;
    EngineDatabase& operator=(const EngineDatabase&) = delete;

    Engine engine() const { return m_engine; }
    QString connectionString() const { return m_cs; }
    // A connection as the program opens it, on the program's budget (the cases measure its deadlines on it).
    std::unique_ptr<Database> open() const;

private:
    Engine m_engine;
    QString m_cs;
    QString m_serverDatabase; // SQL Server: the database made for the case
};

} // namespace fw::test

// Ends the SetUp of a case whose engine is not configured, reporting it skipped.
#define FW_SKIP_UNLESS_ENGINE(engine)                                                                                            \
    if (!::fw::test::engineConfigured(engine))                                                                                   \
    GTEST_SKIP() << "no T-SQL server to run on: set FERROWIND_TEST_SQLSERVER to an ODBC connection string"
