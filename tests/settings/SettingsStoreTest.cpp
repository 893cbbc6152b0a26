// Runs on each engine; with FERROWIND_STORE_ODBC, SQLite is reached through unixODBC with the SQLite3 ODBC driver,
// so that the QODBC path with its engine detection is proven on that driver too.
#include "db/Database.h"
#include "db/DemoData.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "StoredSettings.h"
#include "support/Must.h"
#include "support/OdbcPath.h"

#include <QSqlQuery>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace fw;
using fw::test::kCorp;
using fw::test::kEmea;
using fw::test::kSales;

namespace {

class SettingsStoreTest : public ::testing::TestWithParam<test::Engine> {
protected:
    void SetUp() override
    {
        FW_SKIP_UNLESS_ENGINE(GetParam());
        m_t.setEngine(GetParam());
        m_direct = m_t.createDemoDatabase(5, 5);
        ASSERT_FALSE(m_direct.isEmpty());
        m_cs = m_direct;
#ifdef FERROWIND_STORE_ODBC
        m_cs = QStringLiteral("Driver={SQLite3};Database=") + test::odbcFilePath(m_direct.mid(7));
#endif
    }

    // Straight to the database, whichever way the store under test goes.
    QVariant scalar(const QString& sql, const QVariantList& binds = {})
    {
        return test::sqlValue(m_direct, sql, binds);
    }
    QString columns(const QString& names, const QString& id = kCorp)
    {
        return test::domainColumns(m_direct, names, id);
    }
    QString nodes(const QString& names)
    {
        return test::gcNodes(m_direct, names);
    }

    test::TestContext m_t;
    QString m_direct;
    QString m_cs;
};

} // namespace

TEST_P(SettingsStoreTest, OpensWithTheRightDialect)
{
    Result<std::unique_ptr<Database>> opened = Database::open(m_cs);
    ASSERT_TRUE(opened) << opened.error().description.toStdString();
    const std::unique_ptr<Database>& db = *opened;
    EXPECT_EQ(db->dialect().engine(),
              GetParam() == test::Engine::Sqlite ? SqlDialect::Engine::Sqlite : SqlDialect::Engine::SqlServer);
#ifdef FERROWIND_STORE_ODBC
    EXPECT_EQ(db->driverName(), "QODBC");
#endif
}

TEST_P(SettingsStoreTest, ReadsDomainsWithTheirNullsAndOneDomainById)
{
    SettingsStore store(m_cs);
    const Result<QList<DomainSettings>> read = store.readDomains();
    ASSERT_TRUE(read) << read.error().description.toStdString();
    const QList<DomainSettings>& all = *read;
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0].domainName, "corp.example.com");
    EXPECT_TRUE(all[0].manualDCPrimary.isNull());
    EXPECT_FALSE(test::must(DomainSettings::flag(all[1].reconnectEnabled, column::adReconnectEnabled)));
    EXPECT_EQ(all[2].manualDCSecondary.toString(), "dc02.sales.corp.example.com");
    EXPECT_EQ(DomainSettings::text(all[2].doTotalResynchAfterMinutes), "30");

    // Identifiers match without regard to case, as on the server.
    const QList<DomainSettings> one = test::must(store.readDomain(kSales.toLower()));
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].objectId, kSales);
    EXPECT_EQ(one[0].doTotalResynchAtTime.toInt(), 230);

    // A quote in an identifier is a value like any other: no match, no failure.
    const Result<QList<DomainSettings>> none = store.readDomain("x' OR '1'='1");
    ASSERT_TRUE(none) << none.error().description.toStdString();
    EXPECT_TRUE(none->isEmpty());
}

TEST_P(SettingsStoreTest, ChangesOnlyTheGivenColumnsOfOneRow)
{
    SettingsStore store(m_cs);
    WriteCheck check;
    const Result<void> saved = store.changeDomain(kCorp, {},
                                                  {{DomainColumn::ReconnectFailureThreshold, 42},
                                                   {DomainColumn::DoTotalResynchAfterMinutes, 12.0},
                                                   {DomainColumn::ManualDCPrimary, QStringLiteral("o'brien.corp.example.com")},
                                                   {DomainColumn::ReconnectEnabled, 0}},
                                                  &check);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_EQ(check.matched, 1);
    // Columns not given (the last two) and the other rows (none of which has 42) keep their values.
    EXPECT_EQ(columns("ReconnectFailureThreshold DoTotalResynchAfterMinutes ManualDCPrimary ReconnectEnabled "
                      "ManualDCSecondary ReconnectAutoFind"),
              "42 12 o'brien.corp.example.com 0 NULL 1");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE ReconnectFailureThreshold = 42").toInt(), 1);
}

TEST_P(SettingsStoreTest, AMissingOrQuotedIdentifierWritesNothing)
{
    SettingsStore store(m_cs);
    WriteCheck check;
    Result<void> saved = store.changeDomain("' OR 1=1 --", {}, {{DomainColumn::ReconnectEnabled, 0}}, &check);
    EXPECT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_EQ(check.matched, 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE ReconnectEnabled = 0").toInt(), 1);

    // A domain whose identifier holds a quote is found and changed like any other.
    scalar("INSERT INTO ADDomain (AdDomainObjectID, DomainName) VALUES (?, ?)", {"{it's}", "quoted.example.com"});
    saved = store.changeDomain("{it's}", {}, {{DomainColumn::ReconnectFailureThreshold, 3}}, &check);
    EXPECT_TRUE(saved);
    EXPECT_EQ(check.matched, 1);
    EXPECT_EQ(columns("ReconnectFailureThreshold", "{it's}"), "3");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE ReconnectFailureThreshold = 3").toInt(), 1);
}

TEST_P(SettingsStoreTest, ReadsTheConfigurationInOrderWithNulls)
{
    const Result<ConfigurationSnapshot> read = SettingsStore(m_cs).readConfiguration();
    ASSERT_TRUE(read) << read.error().description.toStdString();
    const ConfigurationSnapshot& c = *read;
    EXPECT_GT(c.rowCount(), 12);
    const ConfigurationNode* n = c.find(settings_text::kDsgcPrefix + "ManualGCPrimary");
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(n->value.isNull());
    EXPECT_EQ(c.find(settings_text::kDsadSyncInterval)->value.toString(), "15");
    EXPECT_EQ(c.find(settings_text::kDsgcPrefix.toLower() + "currentgc"), nullptr); // names compare exactly
}

// The lists come in the grid's order on every engine, whatever order the rows were written or changed in: by name
// without regard to case, a name shared by the key; the configuration by full name.
TEST_P(SettingsStoreTest, ListsComeInTheGridsOrderOnEveryEngine)
{
    const struct {
        const char* id;
        const char* name;
    } added[] = {
        {"{D2}", "Dup.example.com"}, {"{A9}", "apac.example.net"}, {"{D1}", "dup.example.com"}, {"{Z0}", "Zulu.example.com"}};
    for (const auto& d : added)
        scalar("INSERT INTO ADDomain (AdDomainObjectID, DomainName, ReconnectFailureThreshold) VALUES (?, ?, 15)",
               {QString::fromLatin1(d.id), QString::fromLatin1(d.name)});
    // A changed row stays where its name puts it (SQL Server hands an updated row back last without an order).
    scalar("UPDATE ADDomain SET ReconnectFailureThreshold = 3 WHERE AdDomainObjectID = ?", {kCorp});
    QStringList names;
    for (const DomainSettings& d : test::must(SettingsStore(m_cs).readDomains()))
        names << d.domainName + ' ' + d.objectId;
    EXPECT_EQ(names,
              (QStringList{"apac.example.net {A9}", "corp.example.com " + kCorp, "dup.example.com {D1}", "Dup.example.com {D2}",
                           "emea.example.org " + kEmea, "sales.corp.example.com " + kSales, "Zulu.example.com {Z0}"}));

    QStringList nodes;
    for (const ConfigurationNode& n : test::must(SettingsStore(m_cs).readConfiguration()).nodes)
        nodes << n.fullName;
    QStringList sorted = nodes;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(nodes, sorted);
}

TEST_P(SettingsStoreTest, WritesNodesAllOrNone)
{
    SettingsStore store(m_cs);
    const QString p = settings_text::kDsgcPrefix;
    Result<void> saved = store.writeNodes(
        {}, {{p + "ReconnectFailureThreshold", "9"}, {p + "ManualGCPrimary", "gc'o.example.com"}}, nullptr);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_EQ(nodes("ReconnectFailureThreshold ManualGCPrimary"), "9 gc'o.example.com");
    EXPECT_EQ(scalar("SELECT NodeValue FROM Configuration WHERE FullNodeName = 'System.Telephony.Integration.Name'").toString(),
              "Default");

    // One missing node: an error, and the nodes before it are not changed either.
    saved = store.writeNodes(
        {}, {{p + "ReconnectFailureThreshold", "11"}, {p + "NoSuchNode", "1"}, {p + "ReconnectEnabled", "0"}}, nullptr);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(saved.error().description.contains("NoSuchNode"));
    EXPECT_EQ(nodes("ReconnectFailureThreshold ReconnectEnabled"), "9 1");

    // A name with a quote names no node and touches none.
    saved = store.writeNodes({}, {{p + "X' OR '1'='1", "0"}}, nullptr);
    EXPECT_FALSE(saved);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM Configuration WHERE NodeValue = '0'").toInt(), 2);
}

TEST_P(SettingsStoreTest, AnUnreachableDatabaseIsAnErrorNotAnEmptyList)
{
    SettingsStore store(GetParam() == test::Engine::Sqlite ? m_direct + ".missing" : test::withDatabase(m_direct, "fwt_missing"));
    EXPECT_FALSE(store.readDomains());
    EXPECT_FALSE(store.changeDomain(kCorp, {}, {{DomainColumn::ReconnectEnabled, 0}}, nullptr));
    EXPECT_FALSE(store.writeNodes({}, {{settings_text::kDsgcPrefix + "ReconnectEnabled", "0"}}, nullptr));
}

TEST(SameStoredValue, NullEqualsOnlyNullTextsCompareAsTextsAndNumbersAsNumbers)
{
    const struct {
        QVariant a, b;
        bool same;
    } cases[] = {
        {QVariant(), QVariant(), true},
        {QVariant(QMetaType(QMetaType::QString)), QVariant(QMetaType(QMetaType::Int)), true}, // typed NULLs
        {QVariant(), QString(""), false},
        {QVariant(), 0, false},
        {QVariant(QMetaType(QMetaType::QString)), QString(""), false},
        {5.0, 5, true},
        {QString("15"), 15, true},
        {QString("30"), 30.0, true},
        {true, 1, true},
        {false, QString("0"), true},
        {5, 6, false},
        {5.5, 5, false},
        {QString("dc1.example.com"), QString("dc1.example.com"), true},
        {QString("dc1.example.com"), QString("DC1.example.com"), false},
        {QString("gc1"), QString("gc1 "), false},
        // A text node holds the text as written: another text meaning the same number is a change.
        {QString("1.5"), QString("1.50"), false},
        {QString("15"), QString("015"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameStoredValue(c.a, c.b), c.same) << c.a.toString().toStdString() << " / " << c.b.toString().toStdString();
        EXPECT_EQ(sameStoredValue(c.b, c.a), c.same) << "either way round";
    }
}

TEST_P(SettingsStoreTest, ADomainRowChangedSinceItWasReadIsNotWritten)
{
    SettingsStore store(m_cs);
    const DomainSettings read = test::must(store.readDomain(kCorp)).value(0);
    QList<ColumnValue> expected;
    for (const DomainColumn c : kDomainColumns)
        expected.append({c, read.column(c)});
    // Someone else: a number stored as another type of the same value is no change; a NULL filled in is.
    scalar("UPDATE ADDomain SET DoTotalResynchAfterMinutes = 0.0, ReconnectFailureThreshold = '15' WHERE AdDomainObjectID = ?",
           {kCorp});
    WriteCheck check;
    Result<void> saved = store.changeDomain(kCorp, expected, {{DomainColumn::ReconnectSearchAllSites, 1}}, &check);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_TRUE(check.changed.isEmpty());
    EXPECT_EQ(columns("ReconnectSearchAllSites"), "1");

    scalar("UPDATE ADDomain SET ManualDCSecondary = 'dc9.corp.example.com', ReconnectEnabled = 0 WHERE AdDomainObjectID = ?",
           {kCorp});
    saved = store.changeDomain(kCorp, expected, {{DomainColumn::ReconnectFailureThreshold, 99}}, &check);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_EQ(check.matched, 1);
    EXPECT_EQ(check.changed, (QStringList{"ReconnectSearchAllSites", "ReconnectEnabled", "ManualDCSecondary"}));
    EXPECT_EQ(columns("ReconnectFailureThreshold ManualDCSecondary ReconnectEnabled"), "15 dc9.corp.example.com 0");
}

TEST_P(SettingsStoreTest, NodesChangedOrRemovedSinceTheyWereReadAreNotWritten)
{
    SettingsStore store(m_cs);
    const QString p = settings_text::kDsgcPrefix;
    const ConfigurationSnapshot read = test::must(store.readConfiguration());
    QList<ExpectedNode> expected;
    for (const char* n : {"ReconnectFailureThreshold", "ManualGCPrimary", "ReconnectEnabled", "NoSuchNode"}) {
        const ConfigurationNode* node = read.find(p + n);
        expected.append({p + n, node != nullptr, node ? node->value : QVariant()});
    }
    WriteCheck check;
    // Nothing changed (the node missing then is missing now): written.
    Result<void> saved = store.writeNodes(expected, {{p + "ReconnectFailureThreshold", "4"}}, &check);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_TRUE(check.changed.isEmpty());
    EXPECT_EQ(nodes("ReconnectFailureThreshold"), "4");

    // The value read is no longer stored: a NULL that became text, and a node that went away.
    scalar("UPDATE Configuration SET NodeValue = '' WHERE FullNodeName = ?", {p + "ManualGCPrimary"});
    scalar("DELETE FROM Configuration WHERE FullNodeName = ?", {p + "ReconnectEnabled"});
    saved = store.writeNodes(expected, {{p + "DoTotalResynchAtTime", "700"}}, &check);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_EQ(check.changed, (QStringList{p + "ReconnectFailureThreshold", p + "ManualGCPrimary", p + "ReconnectEnabled"}));
    EXPECT_EQ(nodes("DoTotalResynchAtTime ManualGCPrimary"), "130 ");
}

// Another save's transaction is open and has changed the row or node but not yet committed: this save waits for it
// and then sees its change, instead of comparing against the old values and overwriting the new ones.
TEST_P(SettingsStoreTest, ASaveWaitsForAnotherSavesTransactionAndThenSeesItsChange)
{
    SettingsStore store(m_cs);
    const DomainSettings row = test::must(store.readDomain(kCorp)).value(0);
    const ConfigurationSnapshot config = test::must(store.readConfiguration());
    const QString p = settings_text::kDsgcPrefix;
    const QList<ExpectedNode> expectedNodes{
        {p + "ReconnectFailureThreshold", true, config.find(p + "ReconnectFailureThreshold")->value}};
    const QList<ColumnValue> expectedColumns{{DomainColumn::DoTotalResynchAfterMinutes, row.doTotalResynchAfterMinutes}};

    const struct {
        const char* otherChange;
        std::function<WriteCheck()> save;
        const char* stored;
    } cases[] = {
        {"UPDATE ADDomain SET DoTotalResynchAfterMinutes = 77 WHERE DomainName = 'corp.example.com'",
         [&] {
             WriteCheck c;
             EXPECT_TRUE(store.changeDomain(kCorp, expectedColumns, {{DomainColumn::DoTotalResynchAfterMinutes, 5.0}}, &c));
             return c;
         },
         "77"},
        {"UPDATE Configuration SET NodeValue = '8' WHERE FullNodeName = 'System.DirectoryConnectors.ActiveDirectory.DSGC."
         "ReconnectFailureThreshold'",
         [&] {
             WriteCheck c;
             EXPECT_TRUE(store.writeNodes(expectedNodes, {{p + "ReconnectFailureThreshold", "5"}}, &c));
             return c;
         },
         "8"},
    };
    for (const auto& c : cases) {
        {
            // The other save: its own session, its change made but not committed while this save runs.
            const std::unique_ptr<Database> other = test::must(test::openForSetUp(m_direct));
            ASSERT_TRUE(other);
            ASSERT_TRUE(other->begin());
            const Result<QSqlQuery> changed = other->run(c.otherChange);
            ASSERT_TRUE(changed) << changed.error().description.toStdString();
            WriteCheck check;
            std::thread saving([&] { check = c.save(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ASSERT_TRUE(other->commit());
            saving.join();
            EXPECT_EQ(check.changed.size(), 1) << c.otherChange;
        }
        const QString stored = QString(c.otherChange).startsWith("UPDATE ADDomain") ? columns("DoTotalResynchAfterMinutes")
                                                                                    : nodes("ReconnectFailureThreshold");
        EXPECT_EQ(stored, c.stored);
    }
}

#ifdef FERROWIND_STORE_ODBC
INSTANTIATE_TEST_SUITE_P(Engines, SettingsStoreTest, ::testing::Values(test::Engine::Sqlite), test::engineName);
#else
INSTANTIATE_TEST_SUITE_P(Engines, SettingsStoreTest, test::kEngines, test::engineName);
#endif
