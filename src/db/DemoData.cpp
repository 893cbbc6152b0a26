#include "db/DemoData.h"

#include "db/Database.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>
#include <optional>

namespace fw {

namespace {

struct DomainSeed {
    const char* id;
    const char* name;
    const char* dcs[2];
};

const DomainSeed kDomains[] = {
    {"{6B1F0C2A-4D1E-4A8B-9C3D-1E2F3A4B5C6D}", "corp.example.com", {"dc01.corp.example.com", "dc02.corp.example.com"}},
    {"{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}",
     "sales.corp.example.com",
     {"dc01.sales.corp.example.com", "dc02.sales.corp.example.com"}},
    {"{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}", "emea.example.org", {"emeadc1.emea.example.org", "emeadc2.emea.example.org"}},
};

const char* const kDcObjectTypes[] = {"MailUsers", "ScopeDLs", "Locations"};
const char* const kGcObjectTypes[] = {"MailUsers", "Servers", "Mailstores", "PDLs", "Locations"};

QString ts(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Prepared statements run with their values until the first one fails; that failure is kept.
class Inserts {
public:
    void exec(QSqlQuery& q, const QVariantList& values)
    {
        if (failed())
            return;
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, Database::bindable(values[i]));
        if (!q.exec())
            m_failure = Database::fromSqlError(q.lastError());
    }
    void fail(const FwError& failure)
    {
        if (!failed())
            m_failure = failure;
    }
    bool failed() const { return m_failure.isError(); }
    const FwError& failure() const { return m_failure; }

private:
    FwError m_failure;
};

// The rows of one table, as fast as the engine takes them. SQLite reuses its one-row statement. SQL Server takes them
// as one JSON text a statement (INSERT ... SELECT FROM OPENJSON), thousands of rows with a single value: a row's
// values bound one by one cost Babelfish a millisecond or more each, and a million runs would take hours. A server
// without OPENJSON (before SQL Server 2016) takes several rows to a statement, their values bound.
class RowBatch {
public:
    enum class Mode { OneRow, BoundRows, Json };

    // `columns`: "Name type, Name type, ..." as the table declares them.
    RowBatch(Database& db, Inserts& inserts, Mode mode, const char* table, const char* columns)
        : m_db(db), m_inserts(inserts), m_mode(mode)
    {
        QStringList names;
        QStringList with;
        QStringList select;
        const QStringList declared = QString::fromLatin1(columns).split(QStringLiteral(", "));
        for (int i = 0; i < declared.size(); ++i) {
            const QString type = declared[i].section(QLatin1Char(' '), 1);
            const bool dateTime = type == QLatin1String("datetime");
            names << declared[i].section(QLatin1Char(' '), 0, 0);
            // A date goes as its seconds after the statement's first one: a server converts a text to a date about
            // three times slower than it adds a number to one.
            with << QStringLiteral("c%1 %2 '$[%1]'").arg(i).arg(dateTime ? QStringLiteral("int") : type);
            select << (dateTime ? QStringLiteral("DATEADD(second, c%1, @base)").arg(i) : QStringLiteral("c%1").arg(i));
            m_dateTime << dateTime;
        }
        m_columns = static_cast<int>(names.size());
        const QString head = QStringLiteral("INSERT INTO %1 (%2) ").arg(QLatin1String(table), names.join(QStringLiteral(", ")));
        if (mode == Mode::Json) {
            // The base date converted once: a conversion in the select list runs again for every row.
            m_json = QStringLiteral("DECLARE @base datetime = CAST(? AS datetime);\n") + head +
                     QStringLiteral("SELECT %1 FROM OPENJSON(?) WITH (%2)")
                         .arg(select.join(QStringLiteral(", ")), with.join(QStringLiteral(", ")));
            m_rowsPerStatement = 5000;
        } else {
            m_head = head + QStringLiteral("VALUES ");
            // SQL Server takes at most 2100 parameters a statement, but a T-SQL server's time for one grows faster
            // than its parameters: on Babelfish 2,000 took about twice as long a row as 100 to 200.
            m_rowsPerStatement = mode == Mode::OneRow ? 1 : std::max(1, 180 / m_columns);
        }
    }

    void add(const QVariantList& values)
    {
        Q_ASSERT(values.size() == m_columns);
        if (m_inserts.failed())
            return;
        m_pending += values;
        if (m_pending.size() == m_columns * m_rowsPerStatement)
            flush();
    }

    // Sends what is pending.
    void flush()
    {
        if (m_inserts.failed())
            return;
        const int rows = static_cast<int>(m_pending.size() / m_columns);
        if (rows == 0)
            return;
        if (m_mode == Mode::Json) {
            flushJson();
            return;
        }
        std::optional<QSqlQuery>& q = rows == m_rowsPerStatement ? m_full : m_last;
        if (!q || &q == &m_last) {
            q = m_db.statement();
            const QStringList all(rows, QLatin1Char('(') + QStringLiteral("?,").repeated(m_columns - 1) + QStringLiteral("?)"));
            if (!q->prepare(m_head + all.join(QLatin1Char(',')))) {
                m_inserts.fail(Database::fromSqlError(q->lastError()));
                return;
            }
        }
        m_inserts.exec(*q, m_pending);
        m_pending.clear();
    }

private:
    void flushJson()
    {
        QDateTime base;
        for (int k = 0; k < m_pending.size(); ++k)
            if (m_dateTime[k % m_columns] && !m_pending[k].isNull()) {
                const QDateTime t = wallTime(m_pending[k]);
                if (!base.isValid() || t < base)
                    base = t;
            }
        QJsonArray rows;
        for (int k = 0; k < m_pending.size(); k += m_columns) {
            QJsonArray row;
            for (int i = 0; i < m_columns; ++i) {
                const QVariant& v = m_pending[k + i];
                if (v.isNull())
                    row.append(QJsonValue::Null);
                else if (m_dateTime[i])
                    row.append(base.secsTo(wallTime(v)));
                else if (v.typeId() == QMetaType::QString)
                    row.append(v.toString());
                else
                    row.append(v.toLongLong());
            }
            rows.append(row);
        }
        m_pending.clear();
        const QVariantList binds{base.isValid() ? QVariant(base.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))) : QVariant(),
                                 QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact))};
        // Each statement is an operation of its own: a load of millions of rows is no verdict within one wait.
        m_db.startOperation();
        if (Result<QSqlQuery> done = m_db.run(m_json, binds); !done)
            m_inserts.fail(done.error());
    }

    // A date as generated, read as wall time without a zone: its seconds to another are the clock's, never a
    // daylight-saving change's.
    static QDateTime wallTime(const QVariant& v)
    {
        const QString text = v.toString();
        return QDateTime(QDate::fromString(text.left(10), Qt::ISODate), QTime::fromString(text.mid(11), Qt::ISODate), Qt::UTC);
    }

    Database& m_db;
    Inserts& m_inserts;
    Mode m_mode;
    int m_columns = 0;
    int m_rowsPerStatement = 1;
    QList<bool> m_dateTime;
    QString m_head;
    QString m_json;
    QVariantList m_pending;
    std::optional<QSqlQuery> m_full; // prepared once
    std::optional<QSqlQuery> m_last; // the rest at the end
};

// How this server takes many rows; asked before the load's transaction, where a refused statement would end it.
RowBatch::Mode batchMode(Database& db, bool rowsAsJson)
{
    if (db.dialect().engine() == SqlDialect::Engine::Sqlite)
        return RowBatch::Mode::OneRow;
    if (!rowsAsJson)
        return RowBatch::Mode::BoundRows;
    const Result<QSqlQuery> json = db.run(QStringLiteral("SELECT COUNT(*) FROM OPENJSON(?)"), {QStringLiteral("[1]")});
    return json ? RowBatch::Mode::Json : RowBatch::Mode::BoundRows;
}

const char* const kObjectColumns = "SyncId bigint, Domain nvarchar(255), IsActive bit, ObjectType nvarchar(64), "
                                   "IsDeleted bit, Count int, Remaining int, Elasped int, LastSync datetime";

struct Phase {
    int usnIncrement;
    int interval;
};

// The increment and interval in force for run i of n.
Phase phaseFor(int i, int n, int changes)
{
    static const Phase phases[] = {{500, 15}, {1000, 15}, {1000, 10}, {750, 10}, {750, 20}, {2000, 20}, {500, 5}};
    // More changes than phases cycle through them again; neighbours always differ.
    const int count = changes + 1;
    if (n <= 0 || count <= 1)
        return phases[0];
    const int idx = std::min(count - 1, static_cast<int>(static_cast<long long>(i) * count / n));
    return phases[idx % static_cast<int>(std::size(phases))];
}

const char* const kTables[] = {"ADDomain",      "Configuration",       "SyncHistoryDC",
                               "SyncHistoryGC", "SyncHistoryDCDomain", "SyncHistoryObject"};
const char* const kViews[] = {"vw_ADDomain", "vw_Configuration"};

} // namespace

QString DemoData::schemaText(SqlDialect::Engine engine)
{
    QFile f(engine == SqlDialect::Engine::Sqlite ? QStringLiteral(":/schema/sqlite/schema.sql")
                                                 : QStringLiteral(":/schema/tsql/schema.sql"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

Result<void> DemoData::createSchema(Database& db)
{
    const QString text = schemaText(db.dialect().engine());
    if (text.isEmpty())
        return FwError{-2147467259, QStringLiteral("The built-in database schema is missing")};
    return db.runScript(text);
}

QStringList DemoData::velmoraObjects(Database& db)
{
    QStringList names;
    const QStringList present = db.handle().tables(QSql::AllTables);
    QStringList wanted;
    for (const char* t : kTables)
        wanted << QString::fromLatin1(t);
    for (const char* v : kViews)
        wanted << QString::fromLatin1(v);
    for (const QString& w : wanted)
        if (present.contains(w, Qt::CaseInsensitive))
            names << w;
    return names;
}

Result<void> DemoData::dropSchema(Database& db)
{
    const bool sqlite = db.dialect().engine() == SqlDialect::Engine::Sqlite;
    QStringList drops;
    for (const char* v : kViews)
        drops << QStringLiteral("DROP VIEW IF EXISTS %1").arg(QLatin1String(v));
    if (!sqlite)
        drops << QStringLiteral("DROP PROCEDURE IF EXISTS csp_ConfigurationModify");
    for (const char* t : kTables)
        drops << QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(t));
    for (const QString& sql : drops) {
        if (Result<QSqlQuery> dropped = db.run(sql); !dropped)
            return dropped.error();
    }
    return Result<void>::success();
}

Result<void> DemoData::populate(Database& db, const DemoDataOptions& o)
{
    for (const int count : {o.dcRuns, o.gcRuns, o.incrementChanges})
        if (count < 0 || count > kMaxRuns)
            return FwError{
                5,
                QStringLiteral("The demo history takes 0 to %1 runs of each side and changes, not %2").arg(kMaxRuns).arg(count)};
    const RowBatch::Mode mode = batchMode(db, o.rowsAsJson);
    if (Result<void> begun = db.begin(); !begun)
        return begun;
    Inserts inserts;
    QRandomGenerator rng(o.seed);
    QSqlQuery q = db.statement();

    // Domains with settings that differ from one another.
    q.prepare(
        QStringLiteral("INSERT INTO ADDomain (AdDomainObjectID, DomainName, CurrentDC, ReconnectEnabled, ReconnectAutoFind, "
                       "ReconnectSearchAllSites, ReconnectLastResortAutoFind, ReconnectFailureThreshold, ManualDCPrimary, "
                       "ManualDCSecondary, DoTotalResynchUsesRelative, DoTotalResynchAtTime, DoTotalResynchAfterMinutes, "
                       "ReconnectOnNextSynch) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    const QVariant null;
    inserts.exec(q, {kDomains[0].id, kDomains[0].name, kDomains[0].dcs[0], 1, 1, 0, 0, 15, null, null, 1, 0, 0.0, 0});
    inserts.exec(q, {kDomains[1].id, kDomains[1].name, kDomains[1].dcs[0], 1, 0, 1, 1, 5, kDomains[1].dcs[0], kDomains[1].dcs[1],
                     0, 230, 30.0, 0});
    inserts.exec(q, {kDomains[2].id, kDomains[2].name, kDomains[2].dcs[1], 0, 1, 0, 0, 25,
                     QStringLiteral("emeadc1.emea.example.org"), null, 1, 2305, 45.0, 0});

    // Configuration nodes, with a few unrelated ones around them as in a real tree.
    q.prepare(QStringLiteral("INSERT INTO Configuration (NodeID, FullNodeName, NodeValue) VALUES (?,?,?)"));
    const QString gc = QString::fromLatin1(kDsgcPrefix);
    const QString ad = QString::fromLatin1(kDsadPrefix);
    const QList<std::pair<QString, QVariant>> nodes = {
        {QStringLiteral("System.Telephony.Integration.Name"), QStringLiteral("Default")},
        {ad + QStringLiteral("SynchInterval"), QStringLiteral("15")},
        {ad + QStringLiteral("ReconnectFailureThreshold"), QStringLiteral("15")},
        {gc + QStringLiteral("SynchInterval"), QStringLiteral("10")},
        {gc + QStringLiteral("CurrentGC"), QStringLiteral("gc01.corp.example.com")},
        {gc + QStringLiteral("ReconnectFailureThreshold"), QStringLiteral("3")},
        {gc + QStringLiteral("DoTotalResynchUsesRelative"), QStringLiteral("0")},
        {gc + QStringLiteral("DoTotalResynchAtTime"), QStringLiteral("130")},
        {gc + QStringLiteral("DoTotalResynchAfterMinutes"), QStringLiteral("20")},
        {gc + QStringLiteral("ReconnectEnabled"), QStringLiteral("1")},
        {gc + QStringLiteral("ReconnectLastResortAutoFind"), QStringLiteral("1")},
        {gc + QStringLiteral("ReconnectAutoFind"), QStringLiteral("1")},
        {gc + QStringLiteral("ManualGCPrimary"), null},
        {gc + QStringLiteral("ManualGCSecondary"), null},
        {gc + QStringLiteral("ReconnectOnNextSynch"), QStringLiteral("0")},
        {QStringLiteral("System.Messaging.MaxMessageLength"), QStringLiteral("300")},
    };
    int nodeId = 100;
    for (const auto& [name, value] : nodes)
        inserts.exec(q, {nodeId++, name, value});

    const QDateTime end = o.lastRunEnd.isValid() ? o.lastRunEnd : QDateTime::currentDateTime();

    // DC history: runs oldest first, spaced by the interval in force.
    {
        RowBatch run(db, inserts, mode, "SyncHistoryDC",
                     "SyncId bigint, IsActive bit, SyncStart datetime, syncEnd datetime, USNIncrement int, SyncInterval int");
        RowBatch dom(db, inserts, mode, "SyncHistoryDCDomain",
                     "SyncId bigint, Domain nvarchar(255), Server nvarchar(255), IsActive bit, USNLag bigint, "
                     "EventFlags smallint, SyncStart datetime");
        RowBatch obj(db, inserts, mode, "SyncHistoryObject", kObjectColumns);
        const int total = o.dcRuns + (o.dcRunInProgress ? 1 : 0);
        // Start times are laid out backwards from the end so that the newest run ends at `end`.
        QList<QDateTime> starts(total);
        QDateTime t = end;
        for (int i = total - 1; i >= 0; --i) {
            t = t.addSecs(-60LL * phaseFor(i, total, o.incrementChanges).interval);
            starts[i] = t;
        }
        int serverOf[3] = {0, 0, 0};
        for (int i = 0; i < total && !inserts.failed(); ++i) {
            const bool active = o.dcRunInProgress && i == total - 1;
            const Phase p = phaseFor(i, total, o.incrementChanges);
            const QDateTime start = active ? end.addSecs(-95) : starts[i];
            const int duration = 20 + static_cast<int>(rng.bounded(200));
            const qint64 id = 1 + i;
            run.add({id, active ? 1 : 0, ts(start), active ? QVariant() : QVariant(ts(start.addSecs(duration))), p.usnIncrement,
                     p.interval});
            for (int d = 0; d < 3; ++d) {
                if (rng.bounded(400) == 0)
                    serverOf[d] = 1 - serverOf[d]; // a server change
                int flags = 0;
                if (rng.bounded(150) == 0)
                    flags |= 1; // an error
                if (rng.bounded(300) == 0)
                    flags |= 2; // a total resynchronisation
                const int lag = static_cast<int>(rng.bounded(p.usnIncrement * 2));
                dom.add({id, kDomains[d].name, kDomains[d].dcs[serverOf[d]], active ? 1 : 0, lag, flags, ts(start)});
                if (!o.objectRows || (o.objectRowRuns >= 0 && i < total - o.objectRowRuns))
                    continue;
                if (o.objectRowPerDomain) {
                    obj.add({id, kDomains[d].name, active ? 1 : 0, kDcObjectTypes[0], 0, static_cast<int>(rng.bounded(400)), 0,
                             active ? QVariant() : QVariant(5), ts(start)});
                    continue;
                }
                int spent = 0;
                for (int k = 0; k < 3; ++k) {
                    for (int del = 0; del < 2; ++del) {
                        const bool typeActive = active && d == 0 && k == 1 && del == 0;
                        const bool typeDone = !active || d > 0 || k == 0;
                        const int count = typeDone || typeActive ? static_cast<int>(rng.bounded(del ? 5 : 120)) : 0;
                        const int elapsed = count ? 1 + static_cast<int>(rng.bounded(30)) : 0;
                        spent += elapsed;
                        if (!typeDone && !typeActive)
                            continue; // not reached yet in the running run
                        obj.add({id, kDomains[d].name, typeActive ? 1 : 0, kDcObjectTypes[k], del, count,
                                 typeActive ? QVariant(static_cast<int>(rng.bounded(400))) : QVariant(0),
                                 typeActive ? QVariant() : QVariant(elapsed), ts(start.addSecs(spent))});
                    }
                }
            }
        }
        run.flush();
        dom.flush();
        obj.flush();
    }

    // GC history.
    {
        RowBatch run(db, inserts, mode, "SyncHistoryGC",
                     "SyncId bigint, Server nvarchar(255), IsActive bit, USNIncrement int, SyncInterval int, USNLag bigint, "
                     "SyncStart datetime, syncEnd datetime, EventFlags smallint");
        RowBatch obj(db, inserts, mode, "SyncHistoryObject", kObjectColumns);
        const char* servers[] = {"gc01.corp.example.com", "gc02.corp.example.com", "GC01.corp.example.com"};
        int server = 0;
        QDateTime t = end;
        QList<QDateTime> starts(o.gcRuns);
        for (int i = o.gcRuns - 1; i >= 0; --i) {
            t = t.addSecs(-60LL * phaseFor(i, o.gcRuns, o.incrementChanges).interval);
            starts[i] = t;
        }
        for (int i = 0; i < o.gcRuns && !inserts.failed(); ++i) {
            const Phase p = phaseFor(i, o.gcRuns, o.incrementChanges);
            if (rng.bounded(500) == 0)
                server = (server + 1) % 3; // includes a change of letter case only
            int flags = 0;
            if (rng.bounded(150) == 0)
                flags |= 1;
            if (rng.bounded(300) == 0)
                flags |= 2;
            const QDateTime start = starts[i];
            const int duration = 10 + static_cast<int>(rng.bounded(120));
            const qint64 id = 1 + i;
            run.add({id, servers[server], 0, p.usnIncrement, p.interval, static_cast<int>(rng.bounded(p.usnIncrement * 2)),
                     ts(start), ts(start.addSecs(duration)), flags});
            if (!o.objectRows || (o.objectRowRuns >= 0 && i < o.gcRuns - o.objectRowRuns))
                continue;
            if (o.objectRowPerDomain) {
                obj.add({id, QStringLiteral("GC"), 0, kGcObjectTypes[0], 0, static_cast<int>(rng.bounded(400)), 0, 5, ts(start)});
                continue;
            }
            int spent = 0;
            for (const char* type : kGcObjectTypes) {
                for (int del = 0; del < 2; ++del) {
                    const int count = static_cast<int>(rng.bounded(del ? 4 : 80));
                    const int elapsed = count ? 1 + static_cast<int>(rng.bounded(20)) : 0;
                    spent += elapsed;
                    obj.add({id, QStringLiteral("GC"), 0, type, del, count, 0, elapsed, ts(start.addSecs(spent))});
                }
            }
        }
        run.flush();
        obj.flush();
    }

    if (inserts.failed()) {
        db.rollback();
        return inserts.failure();
    }
    return db.commit();
}

} // namespace fw
