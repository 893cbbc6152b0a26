#pragma once
#include "log/Result.h"
#include "monitor/SyncSide.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace fw {

class AppContext;
class Database;

// What the Status page shows for one side after a refresh. A text that is nullopt keeps what the
// page showed before (a value that was null or could not be read).
struct SideStatus {
    std::optional<QString> state;   // "Idle" / "In progress"
    std::optional<QString> when;    // "Started ...", "Last done ..." or "No data"
    std::optional<QString> elapsed; // run time so far, or of the finished run
    std::optional<QString> objects; // objects synchronised by the run

    // The state of the side could not be read (no database, the statement failed, IsActive unreadable).
    bool unknown = false;
    // The latest run as read.
    bool hasRun = false;
    bool idRead = false; // syncId is the side's new last SyncId (-1: no run)
    bool active = false;
    qint64 syncId = -1;
    QDateTime start;
    QDateTime end; // invalid while running or when not recorded
    std::optional<qint64> objectTotal;
};

// A part of the refresh that could not be read, with the driver's or the conversion's own code and text.
// Parts: "database" (the open), "<side>.latestRun", "<side>.objectTotal" (the statements) and
// "<side>.<column>" (a value of the latest run), side being "dc" or "gc".
struct ReadFailure {
    QString part;
    FwError error;
};

struct StatusSnapshot {
    SideStatus dc;
    SideStatus gc;
    bool databaseOpened = false;
    // Everything the refresh could not read, in the order met. A null value is not a failure.
    QList<ReadFailure> failures;

    bool readCompletely() const { return databaseOpened && failures.isEmpty(); }
};

// The newest finished run of a side, for age checks.
struct FinishedRun {
    qint64 syncId = -1;
    QDateTime start; // invalid when not recorded
    QDateTime end;
    int syncIntervalMinutes = 0;
};

// The state of the latest DC and GC runs: the refresh behind the Status page and `ferrowind status`.
class StatusSummary {
public:
    explicit StatusSummary(AppContext& ctx) : m_ctx(ctx) {}

    // Reads both sides, sets the context's lastDCSyncId and lastGCSyncId, logs its trace lines and
    // reports failures through its error path. The page shows the result. A command that reads more passes its
    // own connection, so that a locked database costs it one wait for the lock, not one per connection.
    // The same as begin(), read() and finish() one after the other.
    StatusSnapshot PopulateDCGCStatus(Database* connection = nullptr);

    // The refresh in three steps, for a caller that reads on another thread: begin() and finish() on the
    // context's thread, read() anywhere in between. read() touches no context value, log or message box: the
    // failures it meets are kept, in the order met, for finish() to report.
    void begin();
    // `db` is the connection to read on, or the failure to open one.
    static StatusSnapshot read(const Result<Database*>& db, const QDateTime& now);
    void finish(const StatusSnapshot& snap);

    // The number of finished runs of a side.
    static Result<qint64> finishedRunCount(AppContext& ctx, SyncSide side);
    // The newest finished run of a side; nullopt when there is none.
    static Result<std::optional<FinishedRun>> latestFinishedRun(Database& db, SyncSide side);
    static QString latestFinishedRunSql(SyncSide side);

    static QString connectionStringOf(const AppContext& ctx);
    // The connection a command passed (`shared`), or else the one the context keeps (DatabaseSession); the open's
    // failure when it cannot be opened.
    static Result<Database*> connectionFor(AppContext& ctx, Database* shared);

    // The two statements of each refresh: the newest run, and its object total (binds the SyncId).
    static QString latestRunSql(SyncSide side);
    static QString objectTotalSql(SyncSide side);
    // The objects a run synchronised (the sum of its counts); none when it recorded no count.
    static Result<std::optional<qint64>> objectTotal(Database& db, SyncSide side, qint64 syncId);

private:
    static void readSide(Database& db, SyncSide side, const QDateTime& now, SideStatus& out, class StatusReads& reads);

    AppContext& m_ctx;
};

} // namespace fw
