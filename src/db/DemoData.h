#pragma once
#include "db/SqlDialect.h"
#include "log/Result.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace fw {

class Database;

// What the generated VelmoraDb holds. The counts go from 0 to DemoData::kMaxRuns.
struct DemoDataOptions {
    int dcRuns = 3000; // finished DC runs (plus one in progress when dcRunInProgress)
    int gcRuns = 3000; // finished GC runs
    bool dcRunInProgress = true;
    int incrementChanges = 3;        // USNIncrement and SyncInterval changes spread evenly over the history
    bool objectRows = true;          // one SyncHistoryObject row per object type and kind of change
    int objectRowRuns = -1;          // object rows only for the newest N runs of each side; -1: every run
    bool objectRowPerDomain = false; // one object row per domain of a run (per GC run) instead of one per type and kind
    quint32 seed = 20261205;
    // SQL Server: the rows sent as JSON where the server reads it (2016 and later); otherwise several rows to a
    // statement with their values bound, as an older server takes them.
    bool rowsAsJson = true;
    QDateTime lastRunEnd; // end of the newest finished run; invalid: now
};

// Fills an empty database made from the schema with three domains, every DSAD and DSGC node and a
// synchronisation history with increment and interval changes, error, resync and server-change events.
class DemoData {
public:
    // The tables, views (and on SQL Server the procedure) of the database's engine.
    static Result<void> createSchema(Database& db);
    static Result<void> populate(Database& db, const DemoDataOptions& options);
    // The Velmora tables and views the database already holds (schema objects this tool reads or writes).
    static QStringList velmoraObjects(Database& db);
    // Drops what createSchema makes.
    static Result<void> dropSchema(Database& db);

    static QString schemaText(SqlDialect::Engine engine);
    // The most runs of a side, and changes, the generator makes: about 3 GB and a few minutes of SQLite a million runs
    // with their object rows, so ten million is already far beyond a demo or a benchmark; at the longest interval (20
    // minutes) their start times reach back some 380 years, still four-digit years, and every count stays in an int.
    static constexpr int kMaxRuns = 10'000'000;
    static constexpr const char* kDsgcPrefix = "System.DirectoryConnectors.ActiveDirectory.DSGC.";
    static constexpr const char* kDsadPrefix = "System.DirectoryConnectors.ActiveDirectory.DSAD.";
};

} // namespace fw
