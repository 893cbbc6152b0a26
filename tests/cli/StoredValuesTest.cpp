// Every column the reading commands read, poisoned in turn with the values a hostile hand (or a bad day) leaves in
// a database, against every reading command: each answers as on the clean database, or fails non-zero naming the
// column. Commands run in-process on one database; each value is written over the clean one and put back.
#include "cli/CommandTable.h"
#include "db/StoredValue.h"
#include "support/TestContext.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace fw;

namespace {

struct Answer {
    int code = -1;
    QString text; // standard output, standard error and the message boxes, in that order
    bool operator==(const Answer& o) const { return code == o.code && text == o.text; }
};

// Runs the command on a context of its own over the database `cs` (a command may change its context's seams).
Answer run(const QString& cs, const QStringList& words)
{
    test::TestContext tc;
    tc.registry().setString(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool"),
                            QStringLiteral("ConnectionString"), cs);
    tc.ctx().connectionString = cs;
    const CliCommand* command = nullptr;
    int used = 0;
    for (const CliCommand& c : commandTable()) {
        const QStringList parts = c.name.split(QLatin1Char(' '));
        if (words.mid(0, parts.size()) == parts && parts.size() > used) {
            command = &c;
            used = static_cast<int>(parts.size());
        }
    }
    if (!command)
        return {-1, QStringLiteral("no command ") + words.join(' ')};
    QString out, err;
    QTextStream o(&out), e(&err);
    bool yes = false;
    CliEnv env{words.mid(used), o, e, [&]() -> AppContext& { return tc.ctx(); }, &yes};
    Answer a;
    a.code = command->run(env);
    o.flush();
    e.flush();
    // The time a scrape took is no answer about the database.
    static const QRegularExpression duration(QStringLiteral("(?m)^ferrowind_scrape_duration_seconds .*$"));
    out.replace(duration, QString());
    a.text = out + QStringLiteral("\n--- stderr\n") + err + QStringLiteral("\n--- boxes\n") + tc.prompter().messages.join('\n');
    return a;
}

// A cell of one row: the table, the column and which row (a WHERE clause on the table's key).
struct Cell {
    const char* table;
    const char* column;
    const char* row;
    StoredColumn kind; // what the column holds
};

// The rows the commands read: the newest run of each side (the Status tab), the newest finished one (the fleet
// readings), any run (the history), the domain and object rows of the newest DC run, a domain's settings.
const char* const kNewestDc = "SyncId = (SELECT MAX(SyncId) FROM SyncHistoryDC)";
const char* const kFinishedDc = "SyncId = (SELECT MAX(SyncId) FROM SyncHistoryDC WHERE IsActive = 0)";
const char* const kNewestGc = "SyncId = (SELECT MAX(SyncId) FROM SyncHistoryGC)";
const char* const kFinishedGc = "SyncId = (SELECT MAX(SyncId) FROM SyncHistoryGC WHERE IsActive = 0)";
#define FW_ONE_OBJECT " AND ObjectType = 'MailUsers' AND IsDeleted = 0"
#define FW_FIRST_DOMAIN(id) " AND Domain = (SELECT MIN(Domain) FROM SyncHistoryDCDomain WHERE SyncId = " id ")"
#define FW_NEWEST_DC "(SELECT MAX(SyncId) FROM SyncHistoryDC)"
#define FW_FINISHED_DC "(SELECT MAX(SyncId) FROM SyncHistoryDC WHERE IsActive = 0)"
const char* const kDcObjects = "SyncId = " FW_NEWEST_DC FW_FIRST_DOMAIN(FW_NEWEST_DC) FW_ONE_OBJECT;
const char* const kGcObjects = "SyncId = (SELECT MAX(SyncId) FROM SyncHistoryGC) AND Domain = 'GC'" FW_ONE_OBJECT;
const char* const kDomains = "SyncId = " FW_NEWEST_DC FW_FIRST_DOMAIN(FW_NEWEST_DC);
const char* const kFinishedDomains = "SyncId = " FW_FINISHED_DC FW_FIRST_DOMAIN(FW_FINISHED_DC);
const char* const kOneDomain = "AdDomainObjectID = (SELECT MIN(AdDomainObjectID) FROM ADDomain)";

const Cell kCells[] = {
    {"SyncHistoryDC", "IsActive", kNewestDc, column::dcIsActive},
    {"SyncHistoryDC", "SyncStart", kNewestDc, column::dcSyncStart},
    {"SyncHistoryDC", "SyncStart", kFinishedDc, column::dcSyncStart},
    {"SyncHistoryDC", "syncEnd", kFinishedDc, column::dcSyncEnd},
    {"SyncHistoryDC", "USNIncrement", kFinishedDc, column::dcUsnIncrement},
    {"SyncHistoryDC", "SyncInterval", kFinishedDc, column::dcSyncInterval},
    {"SyncHistoryGC", "IsActive", kNewestGc, column::gcIsActive},
    {"SyncHistoryGC", "SyncStart", kFinishedGc, column::gcSyncStart},
    {"SyncHistoryGC", "syncEnd", kFinishedGc, column::gcSyncEnd},
    {"SyncHistoryGC", "USNIncrement", kFinishedGc, column::gcUsnIncrement},
    {"SyncHistoryGC", "SyncInterval", kFinishedGc, column::gcSyncInterval},
    {"SyncHistoryGC", "USNLag", kFinishedGc, column::gcUsnLag},
    {"SyncHistoryGC", "USNLag", kNewestGc, column::gcUsnLag},
    {"SyncHistoryGC", "EventFlags", kFinishedGc, column::gcEventFlags},
    {"SyncHistoryDCDomain", "USNLag", kFinishedDomains, column::domainUsnLag},
    {"SyncHistoryDCDomain", "USNLag", kDomains, column::domainUsnLag},
    {"SyncHistoryDCDomain", "EventFlags", kFinishedDomains, column::domainEventFlags},
    {"SyncHistoryDCDomain", "IsActive", kDomains, column::domainIsActive},
    {"SyncHistoryObject", "Count", kDcObjects, column::objectCount},
    {"SyncHistoryObject", "Count", kGcObjects, column::objectCount},
    {"SyncHistoryObject", "Elasped", kDcObjects, column::objectElapsed},
    {"SyncHistoryObject", "Elasped", kGcObjects, column::objectElapsed},
    {"SyncHistoryObject", "LastSync", kDcObjects, column::objectLastSync},
    {"SyncHistoryObject", "LastSync", kGcObjects, column::objectLastSync},
    {"ADDomain", "ReconnectEnabled", kOneDomain, column::adReconnectEnabled},
    {"ADDomain", "ReconnectAutoFind", kOneDomain, column::adReconnectAutoFind},
    {"ADDomain", "ReconnectFailureThreshold", kOneDomain, column::adReconnectFailureThreshold},
    {"ADDomain", "DoTotalResynchAtTime", kOneDomain, column::adDoTotalResynchAtTime},
    {"ADDomain", "DoTotalResynchAfterMinutes", kOneDomain, column::adDoTotalResynchAfterMinutes},
};

// The poisoned values, as SQL literals (a blob has no bound form both engines take).
const char* const kPoison[] = {"1e300",
                               "-0.0",
                               "'NaN'",
                               "9223372036854775808",
                               "X'00FF'",
                               "-1",
                               "2147483648",
                               "'12abc'",
                               "''",
                               "1.5",
                               "'2099-01-01 00:00:00'",
                               "'2026-02-30 10:00:00'",
                               "4294967306"};

const QStringList kCommands[] = {
    {"status"},
    {"status", "--details", "dc"},
    {"status", "--details", "gc"},
    {"history", "dc"},
    {"history", "gc"},
    {"metrics"},
    {"check-sync"},
    {"settings", "show"},
};

// The cells in three shares, each a case of its own, so that a slow server's share fits a case's time.
constexpr int kShares = 3;
using Share = std::tuple<test::Engine, int>;

class StoredValues : public ::testing::TestWithParam<Share> {
protected:
    test::Engine engine() const { return std::get<0>(GetParam()); }
    int share() const { return std::get<1>(GetParam()); }
};

TEST_P(StoredValues, EveryReaderAnswersAsOnTheCleanDatabaseOrFailsNamingTheColumn)
{
    FW_SKIP_UNLESS_ENGINE(engine());
    test::TestContext tc;
    tc.setEngine(engine());
    const QString cs = tc.createDemoDatabase(20, 20);
    ASSERT_FALSE(cs.isEmpty());
    // check-sync reads the registry file before its context.
    qputenv("FERROWIND_REGISTRY", tc.writeRegistryFile().toLocal8Bit());
    Result<std::unique_ptr<Database>> opened = test::openForSetUp(cs);
    ASSERT_TRUE(opened) << opened.error().description.toStdString();
    Database& db = **opened;

    QList<Answer> clean;
    for (const QStringList& c : kCommands)
        clean.append(run(cs, c));

    int poisoned = 0;
    for (qsizetype n = share(); n < qsizetype(std::size(kCells)); n += kShares) {
        const Cell& cell = kCells[n];
        const QString where = QString::fromLatin1(cell.row);
        const QString column = QString::fromLatin1(cell.column);
        const QString table = QString::fromLatin1(cell.table);
        // Kept as stored, and written back the same way: text stays text, a number a number.
        Result<QSqlQuery> keep = db.run(QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(column, table, where));
        ASSERT_TRUE(keep) << keep.error().description.toStdString();
        QVariantList originals;
        while (keep->next())
            originals.append(keep->value(0));
        ASSERT_EQ(originals.size(), 1) << cell.table << "." << cell.column << " is no single cell: " << cell.row;
        keep->finish();
        QSet<QString> tried;
        for (const char* value : kPoison) {
            // SQL Server keeps each column to its type: a value it refuses is no case there.
            const Result<QSqlQuery> set = db.run(
                QStringLiteral("UPDATE %1 SET %2 = %3 WHERE %4").arg(table, column, QString::fromLatin1(value), where));
            if (!set)
                continue;
            // A value its column may hold is no poison: the answer may differ, as for any other data.
            Result<QSqlQuery> back = db.run(QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(column, table, where));
            ASSERT_TRUE(back && back->next());
            const bool readable = bool(stored::check(back->value(0), cell.kind));
            // An engine that converts what it stores may make two values one: it is tried once.
            const QString kept = QString::fromLatin1(back->value(0).typeName()) + ':' + back->value(0).toString();
            back->finish();
            const bool seen = tried.contains(kept);
            tried.insert(kept);
            if (readable || seen) {
                ASSERT_TRUE(
                    db.run(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3").arg(table, column, where), {originals.first()}));
                continue;
            }
            ++poisoned;
            for (qsizetype i = 0; i < qsizetype(std::size(kCommands)); ++i) {
                const Answer a = run(cs, kCommands[i]);
                if (a == clean[i])
                    continue;
                EXPECT_NE(a.code, 0) << kCommands[i].join(' ').toStdString() << " with " << cell.table << "." << cell.column
                                     << " = " << value << "\n"
                                     << a.text.toStdString();
                EXPECT_TRUE(a.text.contains(table + '.' + column))
                    << kCommands[i].join(' ').toStdString() << " with " << cell.table << "." << cell.column << " = " << value
                    << " names no column:\n"
                    << a.text.toStdString();
            }
            // The cell back as it was.
            ASSERT_TRUE(db.run(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3").arg(table, column, where), {originals.first()}));
        }
    }
    if (engine() == test::Engine::Sqlite) { // SQL Server refuses most of them
        EXPECT_GT(poisoned, 0) << "SQLite keeps whatever is written";
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, StoredValues, ::testing::Combine(test::kEngines, ::testing::Range(0, kShares)),
                         [](const ::testing::TestParamInfo<Share>& info) {
                             return ::testing::PrintToString(std::get<0>(info.param)) + "_share" +
                                    std::to_string(std::get<1>(info.param));
                         });

} // namespace
