#pragma once
// The databases the benchmarks measure, generated once by DemoData and kept between runs: SQLite files in
// $FERROWIND_BENCH_DIR (default /tmp/ferrowind-bench), and databases on the T-SQL server of
// $FERROWIND_BENCH_SQLSERVER (else $FERROWIND_TEST_SQLSERVER), an ODBC connection string whose login may create
// databases. A server database is reused only when its loading completed (it then holds FerrowindBenchComplete).
#include "db/DemoData.h"

#include <QString>

namespace fw::bench {

enum class Engine { Sqlite, SqlServer };

QString benchDir();
// FERROWIND_BENCH_RUNS, default 1,000,000.
int benchRuns();
// The T-SQL server's connection string, or empty (the SQL Server cases are then not registered).
QString sqlServerConnection();
const char* engineName(Engine engine);

// The connection string of the database holding what DemoData generates for `options` (SQLite: file NAME.sqlite;
// SQL Server: database fwbench_NAME); empty when it could not be made (`error` says why).
QString demoDatabase(Engine engine, const QString& name, const DemoDataOptions& options, QString* error);

} // namespace fw::bench
