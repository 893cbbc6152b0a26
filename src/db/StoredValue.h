#pragma once
#include "db/WallTime.h"
#include "log/Result.h"

#include <QDateTime>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

class QSqlQuery;

namespace fw {

// The first row of a query result, or none. Reading a column when there is no row fails the way a
// recordset at its end does (3021), so callers treat a missing row like any other failed read.
class FirstRow {
public:
    FirstRow() = default;
    // Moves the query to its first row and keeps that row's values.
    static FirstRow from(QSqlQuery& q);
    // None when the statement failed (its caller reports why).
    static FirstRow from(Result<QSqlQuery>& q);

    bool exists() const { return m_exists; }
    // The column's value, possibly null; 3021 when there is no row, 3265 when there is no such column.
    Result<QVariant> value(const QString& column) const;

private:
    bool m_exists = false;
    QSqlRecord m_record;
};

// A column of the Velmora tables as the tools read it: its name for the failure ("SyncHistoryGC.USNLag") and
// the values its type holds. SQLite keeps whatever was written into any column, so the range is checked here.
struct StoredColumn {
    enum class Kind { Bit, Integer, Number, DateTime, Text };
    const char* name;
    Kind kind;
    qint64 min = 0;
    qint64 max = 0;
};

// Every column the tools read, once.
namespace column {
// clang-format off
inline constexpr qint64 kInt32Max = 2147483647;
inline constexpr qint64 kInt64Max = 9223372036854775807LL;
inline constexpr StoredColumn integer(const char* name, qint64 min, qint64 max) { return {name, StoredColumn::Kind::Integer, min, max}; }
inline constexpr StoredColumn bit(const char* name) { return {name, StoredColumn::Kind::Bit, 0, 1}; }
inline constexpr StoredColumn dateTime(const char* name) { return {name, StoredColumn::Kind::DateTime}; }
inline constexpr StoredColumn text(const char* name) { return {name, StoredColumn::Kind::Text}; }
inline constexpr StoredColumn number(const char* name) { return {name, StoredColumn::Kind::Number}; }

// SyncId is a bigint key; increments, intervals, lags and counts are never negative.
inline constexpr StoredColumn dcSyncId = integer("SyncHistoryDC.SyncId", -kInt64Max - 1, kInt64Max);
inline constexpr StoredColumn dcIsActive = bit("SyncHistoryDC.IsActive");
inline constexpr StoredColumn dcSyncStart = dateTime("SyncHistoryDC.SyncStart");
inline constexpr StoredColumn dcSyncEnd = dateTime("SyncHistoryDC.syncEnd");
inline constexpr StoredColumn dcUsnIncrement = integer("SyncHistoryDC.USNIncrement", 0, kInt32Max);
inline constexpr StoredColumn dcSyncInterval = integer("SyncHistoryDC.SyncInterval", 0, kInt32Max);

inline constexpr StoredColumn gcSyncId = integer("SyncHistoryGC.SyncId", -kInt64Max - 1, kInt64Max);
inline constexpr StoredColumn gcServer = text("SyncHistoryGC.Server");
inline constexpr StoredColumn gcIsActive = bit("SyncHistoryGC.IsActive");
inline constexpr StoredColumn gcUsnIncrement = integer("SyncHistoryGC.USNIncrement", 0, kInt32Max);
inline constexpr StoredColumn gcSyncInterval = integer("SyncHistoryGC.SyncInterval", 0, kInt32Max);
inline constexpr StoredColumn gcUsnLag = integer("SyncHistoryGC.USNLag", 0, kInt64Max);
inline constexpr StoredColumn gcSyncStart = dateTime("SyncHistoryGC.SyncStart");
inline constexpr StoredColumn gcSyncEnd = dateTime("SyncHistoryGC.syncEnd");
inline constexpr StoredColumn gcEventFlags = integer("SyncHistoryGC.EventFlags", -32768, 32767);

inline constexpr StoredColumn domainSyncId = integer("SyncHistoryDCDomain.SyncId", -kInt64Max - 1, kInt64Max);
inline constexpr StoredColumn domainDomain = text("SyncHistoryDCDomain.Domain");
inline constexpr StoredColumn domainServer = text("SyncHistoryDCDomain.Server");
inline constexpr StoredColumn domainIsActive = bit("SyncHistoryDCDomain.IsActive");
inline constexpr StoredColumn domainUsnLag = integer("SyncHistoryDCDomain.USNLag", 0, kInt64Max);
inline constexpr StoredColumn domainEventFlags = integer("SyncHistoryDCDomain.EventFlags", -32768, 32767);
inline constexpr StoredColumn domainSyncStart = dateTime("SyncHistoryDCDomain.SyncStart");

inline constexpr StoredColumn objectSyncId = integer("SyncHistoryObject.SyncId", -kInt64Max - 1, kInt64Max);
inline constexpr StoredColumn objectIsActive = bit("SyncHistoryObject.IsActive");
inline constexpr StoredColumn objectType = text("SyncHistoryObject.ObjectType");
inline constexpr StoredColumn objectIsDeleted = bit("SyncHistoryObject.IsDeleted");
inline constexpr StoredColumn objectCount = integer("SyncHistoryObject.Count", 0, kInt32Max);
inline constexpr StoredColumn objectElapsed = integer("SyncHistoryObject.Elasped", 0, kInt32Max);
inline constexpr StoredColumn objectLastSync = dateTime("SyncHistoryObject.LastSync");
// A sum of counts is wider than one count.
inline constexpr StoredColumn objectCountSum = integer("SyncHistoryObject.Count", 0, kInt64Max);
inline constexpr StoredColumn domainUsnLagSum = integer("SyncHistoryDCDomain.USNLag", 0, kInt64Max);

inline constexpr StoredColumn adReconnectEnabled = bit("ADDomain.ReconnectEnabled");
inline constexpr StoredColumn adReconnectAutoFind = bit("ADDomain.ReconnectAutoFind");
inline constexpr StoredColumn adReconnectSearchAllSites = bit("ADDomain.ReconnectSearchAllSites");
inline constexpr StoredColumn adReconnectLastResortAutoFind = bit("ADDomain.ReconnectLastResortAutoFind");
inline constexpr StoredColumn adDoTotalResynchUsesRelative = bit("ADDomain.DoTotalResynchUsesRelative");
inline constexpr StoredColumn adReconnectOnNextSynch = bit("ADDomain.ReconnectOnNextSynch");
inline constexpr StoredColumn adReconnectFailureThreshold = integer("ADDomain.ReconnectFailureThreshold", -kInt32Max - 1, kInt32Max);
inline constexpr StoredColumn adDoTotalResynchAtTime = integer("ADDomain.DoTotalResynchAtTime", -32768, 32767);
inline constexpr StoredColumn adDoTotalResynchAfterMinutes = number("ADDomain.DoTotalResynchAfterMinutes");
inline constexpr StoredColumn adCurrentDC = text("ADDomain.CurrentDC");
inline constexpr StoredColumn adManualDCPrimary = text("ADDomain.ManualDCPrimary");
inline constexpr StoredColumn adManualDCSecondary = text("ADDomain.ManualDCSecondary");
// clang-format on
} // namespace column

// The one reading of a stored value. A null fails with 94, a value of another kind with 13 (a text that is no
// number, NaN, a fraction where a whole number belongs, a blob, an impossible date), a number outside the column's
// range with 6 (infinity among them); each failure names the column. A made-up value is never returned.
namespace stored {
Result<bool> bit(const QVariant& v, const StoredColumn& c);
Result<qint64> integer(const QVariant& v, const StoredColumn& c);
Result<double> number(const QVariant& v, const StoredColumn& c);
Result<WallTime> wallTime(const QVariant& v, const StoredColumn& c);
Result<QDateTime> dateTime(const QVariant& v, const StoredColumn& c);
Result<QString> text(const QVariant& v, const StoredColumn& c);
// Whether the value reads as its column's kind (a null does, in a column that may hold one).
Result<void> check(const QVariant& v, const StoredColumn& c);

// The same for a column read that may have failed (FirstRow::value): its failure is handed on unchanged.
Result<bool> bit(const Result<QVariant>& v, const StoredColumn& c);
Result<qint64> integer(const Result<QVariant>& v, const StoredColumn& c);
Result<double> number(const Result<QVariant>& v, const StoredColumn& c);
Result<QDateTime> dateTime(const Result<QVariant>& v, const StoredColumn& c);
Result<QString> text(const Result<QVariant>& v, const StoredColumn& c);

// A failure of the column's reading, for values a statement checked on the server (a sum of cells that were no
// numbers).
FwError failure(const FwError& kind, const StoredColumn& c);
} // namespace stored

} // namespace fw
