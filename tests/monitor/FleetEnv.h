#pragma once
// What the fleet commands' tests share: a demo installation rewritten to each case, a lock that makes readers
// wait, promtool's check of a metrics page.
#include "db/Database.h"
#include "db/DemoData.h"
#include "support/CliProcess.h"
#include "support/Must.h"
#include "support/TestContext.h"
#include "support/TestEngine.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fw::test {

// A demo installation whose history the case rewrites to what it needs, on SQLite unless told.
class FleetEnv {
public:
    explicit FleetEnv(DemoDataOptions o = {}, Engine engine = Engine::Sqlite)
    {
        o.dcRuns = o.gcRuns = 5;
        t.setEngine(engine);
        cs = t.createEmptyDatabase();
        const std::unique_ptr<Database> db = must(openForSetUp(cs));
        if (db)
            must(DemoData::populate(*db, o));
        m_reg = t.writeRegistryFile();
    }
    QString reg() const { return m_reg; }
    QString dbPath() const { return cs.mid(7); } // SQLite
    void exec(const QString& sql, const QVariantList& binds = {}) { sqlValue(cs, sql, binds); }
    // One finished run per side, each ended `ageMinutes` ago with the given SyncInterval; nothing running.
    void finishedRuns(int dcAgeMinutes, int gcAgeMinutes, int interval = 10)
    {
        const QDateTime now = QDateTime::currentDateTime();
        const auto ts = [](const QDateTime& t) { return t.toString("yyyy-MM-dd HH:mm:ss"); };
        exec("DELETE FROM SyncHistoryDC");
        exec("DELETE FROM SyncHistoryGC");
        exec(
            "INSERT INTO SyncHistoryDC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (1, 0, ?, ?, 5, ?)",
            {ts(now.addSecs(-dcAgeMinutes * 60 - 30)), ts(now.addSecs(-dcAgeMinutes * 60)), interval});
        if (gcAgeMinutes >= 0)
            exec(
                "INSERT INTO SyncHistoryGC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (1, 0, ?, ?, 5, ?)",
                {ts(now.addSecs(-gcAgeMinutes * 60 - 30)), ts(now.addSecs(-gcAgeMinutes * 60)), interval});
    }
    CliRun cli(const QStringList& args) const { return runCli(FERROWIND_CLI, args, reg()); }

    TestContext t;
    QTemporaryDir dir;
    QString cs;

private:
    QString m_reg;
};

// Holds an exclusive lock on a SQLite database, so that every reader waits for it.
class DatabaseLock {
public:
    explicit DatabaseLock(const QString& path)
    {
        m_db = must(Database::open("sqlite:" + path));
        if (m_db)
            must(m_db->run("BEGIN EXCLUSIVE"));
    }

private:
    std::unique_ptr<Database> m_db;
};

inline CliRun promtoolCheck(const QByteArray& page)
{
    QProcess p;
    p.start("promtool", {"check", "metrics"});
    p.write(page);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace fw::test
