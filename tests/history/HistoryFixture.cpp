#include "HistoryFixture.h"

#include "db/DemoData.h"
#include "support/Must.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <thread>

namespace fw::test {

namespace {
const QString kDomainRow = QStringLiteral(
    "INSERT INTO SyncHistoryDCDomain (SyncId, Domain, Server, IsActive, USNLag, EventFlags, SyncStart) VALUES (?,?,?,?,?,?,?)");
const QString kObjectRow = QStringLiteral(
    "INSERT INTO SyncHistoryObject (SyncId, Domain, IsActive, ObjectType, IsDeleted, Count, "
    "Remaining, Elasped, LastSync) VALUES (?,?,0,'MailUsers',0,?,0,1,?)");

QString ts(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A row of the fixture; one the database refuses fails the case with the driver's words (the history would
// otherwise be built from fewer rows than the case believes).
bool execWith(QSqlQuery& q, const QVariantList& values)
{
    for (const QVariant& v : values)
        q.addBindValue(Database::bindable(v));
    if (q.exec())
        return true;
    ADD_FAILURE() << "a fixture row was refused: " << Database::fromSqlError(q.lastError()).description.toStdString() << " in "
                  << q.lastQuery().toStdString();
    return false;
}

bool prepared(QSqlQuery& q, const QString& sql)
{
    if (q.prepare(sql))
        return true;
    ADD_FAILURE() << "a fixture statement was refused: " << Database::fromSqlError(q.lastError()).description.toStdString()
                  << " in " << sql.toStdString();
    return false;
}
} // namespace

QDateTime baseTime()
{
    return QDateTime(QDate(2005, 3, 14), QTime(9, 0, 0), Qt::UTC);
}

HistoryDb::HistoryDb(const QString& dir, Engine engine) : m_fresh(engine, dir)
{
    if (m_fresh.connectionString().isEmpty())
        return;
    m_db = test::must(openForSetUp(m_fresh.connectionString())); // the fixture's, also handed to the builds
    if (m_db && engine == Engine::Sqlite) {
        // Scratch files only: no need to wait for the disk.
        QSqlQuery(m_db->handle()).exec(QStringLiteral("PRAGMA synchronous = OFF"));
        QSqlQuery(m_db->handle()).exec(QStringLiteral("PRAGMA journal_mode = MEMORY"));
    }
}

void HistoryDb::add(SyncSide side, const QList<RunSpec>& runs)
{
    if (!m_db)
        return; // the database could not be made: the case has failed already, saying why
    const bool dc = side == SyncSide::DC;
    const QString columns = QStringLiteral("SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval");
    test::must(m_db->begin());
    QSqlQuery run = m_db->statement(), dom = m_db->statement(), obj = m_db->statement();
    if (!prepared(run,
                  dc ? "INSERT INTO SyncHistoryDC (" + columns + ") VALUES (?,?,?,?,?,?)"
                     : "INSERT INTO SyncHistoryGC (" + columns + ", Server, USNLag, EventFlags) VALUES (?,?,?,?,?,?,?,?,?)") ||
        !prepared(dom, kDomainRow) || !prepared(obj, kObjectRow)) {
        m_db->rollback();
        return;
    }
    bool ok = true;
    for (const RunSpec& r : runs) {
        if (!ok) {
            m_db->rollback();
            return;
        }
        const QDateTime start = r.start.isValid() ? r.start : baseTime().addSecs(60LL * 15 * r.id);
        const QVariant end = r.nullEnd || r.active ? QVariant() : QVariant(ts(start.addSecs(r.seconds)));
        QVariantList values{r.id, r.active ? 1 : 0, ts(start), end, r.increment, r.interval};
        if (!dc)
            values << r.server << r.lag << r.flags;
        ok = execWith(run, values);
        for (const DomainRowSpec& d : r.domains)
            ok = ok && execWith(dom, {r.id, d.domain, d.server, r.active ? 1 : 0, d.lag, d.flags, ts(start)});
        const QString domain = r.domains.isEmpty() ? QStringLiteral("corp.example.com") : r.domains.first().domain;
        if (ok && (r.objects || r.nullObjects))
            ok = execWith(
                obj, {r.id, dc ? domain : QStringLiteral("GC"), r.nullObjects ? QVariant() : QVariant(*r.objects), ts(start)});
    }
    if (!ok) {
        m_db->rollback();
        return;
    }
    test::must(m_db->commit());
}

void HistoryDb::addObjectRow(qint64 syncId, const QString& domain, qint64 count)
{
    if (!m_db)
        return;
    test::must(m_db->run(kObjectRow, {syncId, domain, count, QVariant()}));
}

void HistoryDb::addDomainRow(qint64 syncId, const DomainRowSpec& d, const QDateTime& start)
{
    if (!m_db)
        return;
    test::must(m_db->run(kDomainRow, {syncId, d.domain, d.server, 0, d.lag, d.flags, ts(start)}));
}

RunSpec dcRun(qint64 id, qint64 lag, qint32 increment, qint32 interval)
{
    return {.id = id,
            .increment = increment,
            .interval = interval,
            .domains = {{QStringLiteral("corp.example.com"), QStringLiteral("dc01.corp.example.com"), lag, 0}},
            .objects = 10};
}

RunSpec gcRun(qint64 id, const QString& server, qint64 lag, qint32 increment, qint32 interval)
{
    return {.id = id, .increment = increment, .interval = interval, .objects = 10, .server = server, .lag = lag};
}

QList<RunSpec> numberedRuns(int n, const std::function<RunSpec(int)>& make)
{
    QList<RunSpec> runs;
    for (int i = 1; i <= n; ++i)
        runs.append(make(i));
    return runs;
}

void generateHistory(const GeneratorSpec& s, SyncSide side, HistoryDb& db)
{
    const bool dc = side == SyncSide::DC;
    QRandomGenerator rng(s.seed);
    const QStringList domains = {QStringLiteral("corp.example.com"), QStringLiteral("emea.example.org"),
                                 QStringLiteral("sales.corp.example.com")};
    const QStringList servers = {QStringLiteral("dc01"), QStringLiteral("dc02"), QStringLiteral("DC01")};
    // Change positions: distinct run indexes, each switching increment, interval or both to a different value.
    QList<int> changeAt;
    for (int c = 0; c < s.changes && s.runs > 1; ++c)
        changeAt.append(1 + static_cast<int>(rng.bounded(s.runs - 1)));
    std::sort(changeAt.begin(), changeAt.end());
    int inc = 0, itv = 0, ci = 0;
    int server[3] = {0, 0, 0};
    QList<RunSpec> runs;
    qint64 id = 1;
    for (int i = 0; i < s.runs; ++i) {
        while (ci < changeAt.size() && changeAt[ci] == i) {
            const int what = static_cast<int>(rng.bounded(3));
            if ((what == 0 || what == 2) && s.distinctIncrements > 1)
                inc = (inc + 1 + static_cast<int>(rng.bounded(s.distinctIncrements - 1))) % s.distinctIncrements;
            else if (s.distinctIntervals > 1)
                itv = (itv + 1 + static_cast<int>(rng.bounded(s.distinctIntervals - 1))) % s.distinctIntervals;
            if (what == 2 && s.distinctIntervals > 1)
                itv = (itv + 1 + static_cast<int>(rng.bounded(s.distinctIntervals - 1))) % s.distinctIntervals;
            ++ci;
        }
        // Gaps in the SyncIds, as deleted runs leave them.
        id += s.oddities && rng.bounded(20) == 0 ? 2 : 1;
        RunSpec r;
        r.id = id;
        r.increment = 100 * (inc + 1);
        r.interval = 5 * (itv + 1);
        r.seconds = static_cast<int>(rng.bounded(300));
        r.start = baseTime().addSecs(60LL * 7 * id + static_cast<int>(rng.bounded(59)));
        r.nullEnd = s.oddities && rng.bounded(200) == 0;
        if (!(s.oddities && rng.bounded(15) == 0))
            r.objects = rng.bounded(500);
        r.nullObjects = !r.objects && s.oddities && rng.bounded(4) == 0;
        if (dc) {
            const int n = s.oddities && rng.bounded(40) == 0 ? 0 : 1 + static_cast<int>(rng.bounded(3));
            for (int d = 0; d < n; ++d) {
                if (rng.bounded(50) == 0)
                    server[d] = static_cast<int>(rng.bounded(3));
                int flags = rng.bounded(12) == 0 ? 1 : 0;
                flags |= rng.bounded(20) == 0 ? 2 : 0;
                flags |= rng.bounded(30) == 0 ? 4 : 0;
                r.domains.append({domains[d], servers[server[d]], static_cast<qint64>(rng.bounded(r.increment * 2)), flags});
            }
        } else {
            if (rng.bounded(40) == 0)
                server[0] = static_cast<int>(rng.bounded(3));
            r.server = servers[server[0]];
            r.lag = rng.bounded(r.increment * 2);
            r.flags = (rng.bounded(12) == 0 ? 1 : 0) | (rng.bounded(20) == 0 ? 2 : 0);
        }
        runs.append(r);
    }
    // A run still going on, and distinct values only it has (the distinct queries count it).
    RunSpec active = dc ? dcRun(id + 1, 5, 9999, 99) : gcRun(id + 1, QStringLiteral("gc01"), 5, 9999, 99);
    active.active = true;
    runs.append(active);
    db.add(side, runs);
    if (s.oddities) {
        // Object totals and domain rows of runs that are not in the run list.
        for (int k = 0; k < 3; ++k) {
            const qint64 orphan = 1 + rng.bounded(static_cast<quint32>(id));
            if (std::none_of(runs.begin(), runs.end(), [&](const RunSpec& r) { return r.id == orphan; })) {
                db.addObjectRow(orphan, dc ? domains[0] : QStringLiteral("GC"), 7);
                if (dc)
                    db.addDomainRow(orphan, {domains[1], servers[0], 3, 1}, baseTime());
            }
        }
        db.addObjectRow(id + 50, dc ? domains[0] : QStringLiteral("GC"), 1); // past the last run: never reached
    }
}

namespace {

// The cursor as opened, counting the rows asked of it on any thread but the one that opened it.
class ThreadCheckedCursor final : public HistoryCursor {
public:
    ThreadCheckedCursor(std::unique_ptr<HistoryCursor> inner, std::atomic<qint64>& elsewhere)
        : m_inner(std::move(inner)), m_elsewhere(elsewhere)
    {
    }
    bool nextRun(HistoryRunRow& r) override { return noted(m_inner->nextRun(r)); }
    bool nextTotal(HistoryTotalRow& r) override { return noted(m_inner->nextTotal(r)); }
    bool nextDomain(HistoryDomainRow& r) override { return noted(m_inner->nextDomain(r)); }
    QList<HistoryQueryFailure> failures() const override { return m_inner->failures(); }

private:
    bool noted(bool read)
    {
        if (std::this_thread::get_id() != m_opener)
            ++m_elsewhere;
        return read;
    }
    std::unique_ptr<HistoryCursor> m_inner;
    std::atomic<qint64>& m_elsewhere;
    const std::thread::id m_opener = std::this_thread::get_id();
};

} // namespace

std::unique_ptr<HistoryCursor> CountingSource::open(QList<CountFailure>& f)
{
    ++m_opened;
    auto cursor = m_inner.open(f);
    if (!cursor)
        return cursor;
    return std::make_unique<ThreadCheckedCursor>(std::move(cursor), m_readsElsewhere);
}

} // namespace fw::test
