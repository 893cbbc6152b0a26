// Runs on each engine; with FERROWIND_STORE_ODBC, SQLite is reached through unixODBC with the SQLite3 ODBC driver,
// so that the QODBC path with its engine detection is proven on that driver too.
#include "db/Database.h"
#include "db/DemoData.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "StoredSettings.h"

#include <gtest/gtest.h>

using namespace fw;
using fw::test::kCorp;
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
        m_cs = QStringLiteral("Driver={SQLite3};Database=") + m_direct.mid(7);
#endif
    }

    // Straight to the database, whichever way the store under test goes.
    QVariant scalar(const QString& sql, const QVariantList& binds = {}) { return test::sqlValue(m_direct, sql, binds); }
    QString columns(const QString& names, const QString& id = kCorp) { return test::domainColumns(m_direct, names, id); }
    QString nodes(const QString& names) { return test::gcNodes(m_direct, names); }

    test::TestContext m_t;
    QString m_direct;
    QString m_cs;
};

} // namespace

TEST_P(SettingsStoreTest, OpensWithTheRightDialect)
{
    FwError err;
    auto db = Database::open(m_cs, &err);
    ASSERT_TRUE(db) << err.description.toStdString();
    EXPECT_EQ(db->dialect().engine(), GetParam() == test::Engine::Sqlite ? SqlDialect::Engine::Sqlite : SqlDialect::Engine::SqlServer);
#ifdef FERROWIND_STORE_ODBC
    EXPECT_EQ(db->driverName(), "QODBC");
#endif
}

TEST_P(SettingsStoreTest, ReadsDomainsWithTheirNullsAndOneDomainById)
{
    SettingsStore store(m_cs);
    FwError err;
    const QList<DomainSettings> all = store.readDomains(&err);
    ASSERT_FALSE(err) << err.description.toStdString();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0].domainName, "corp.example.com");
    EXPECT_TRUE(all[0].manualDCPrimary.isNull());
    EXPECT_EQ(all[1].manualDCSecondary.toString(), "dc02.sales.corp.example.com");
    EXPECT_EQ(DomainSettings::text(all[1].doTotalResynchAfterMinutes), "30");
    EXPECT_FALSE(DomainSettings::flag(all[2].reconnectEnabled));

    // Identifiers match without regard to case, as on the server.
    const QList<DomainSettings> one = store.readDomain(kSales.toLower(), &err);
    ASSERT_FALSE(err);
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].objectId, kSales);
    EXPECT_EQ(one[0].doTotalResynchAtTime.toInt(), 230);

    // A quote in an identifier is a value like any other: no match, no failure.
    EXPECT_TRUE(store.readDomain("x' OR '1'='1", &err).isEmpty());
    EXPECT_FALSE(err) << err.description.toStdString();
}

TEST_P(SettingsStoreTest, ChangesOnlyTheGivenColumnsOfOneRow)
{
    SettingsStore store(m_cs);
    int matched = -1;
    const FwError err = store.changeDomain(kCorp,
                                           {{DomainColumn::ReconnectFailureThreshold, 42},
                                            {DomainColumn::DoTotalResynchAfterMinutes, 12.0},
                                            {DomainColumn::ManualDCPrimary, QStringLiteral("o'brien.corp.example.com")},
                                            {DomainColumn::ReconnectEnabled, 0}},
                                           &matched);
    ASSERT_FALSE(err) << err.description.toStdString();
    EXPECT_EQ(matched, 1);
    // Columns not given (the last two) and the other rows (none of which has 42) keep their values.
    EXPECT_EQ(columns("ReconnectFailureThreshold DoTotalResynchAfterMinutes ManualDCPrimary ReconnectEnabled "
                      "ManualDCSecondary ReconnectAutoFind"),
              "42 12 o'brien.corp.example.com 0 NULL 1");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE ReconnectFailureThreshold = 42").toInt(), 1);
}

TEST_P(SettingsStoreTest, AMissingOrQuotedIdentifierWritesNothing)
{
    SettingsStore store(m_cs);
    int matched = -1;
    FwError err = store.changeDomain("' OR 1=1 --", {{DomainColumn::ReconnectEnabled, 0}}, &matched);
    EXPECT_FALSE(err) << err.description.toStdString();
    EXPECT_EQ(matched, 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE ReconnectEnabled = 0").toInt(), 1);

    // A domain whose identifier holds a quote is found and changed like any other.
    scalar("INSERT INTO ADDomain (AdDomainObjectID, DomainName) VALUES (?, ?)", {"{it's}", "quoted.example.com"});
    err = store.changeDomain("{it's}", {{DomainColumn::ReconnectFailureThreshold, 3}}, &matched);
    EXPECT_FALSE(err);
    EXPECT_EQ(matched, 1);
    EXPECT_EQ(columns("ReconnectFailureThreshold", "{it's}"), "3");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE ReconnectFailureThreshold = 3").toInt(), 1);
}

TEST_P(SettingsStoreTest, ReadsTheConfigurationInOrderWithNulls)
{
    FwError err;
    const ConfigurationSnapshot c = SettingsStore(m_cs).readConfiguration(&err);
    ASSERT_FALSE(err) << err.description.toStdString();
    EXPECT_GT(c.rowCount(), 12);
    const ConfigurationNode* n = c.find(settings_text::kDsgcPrefix + "ManualGCPrimary");
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(n->value.isNull());
    EXPECT_EQ(c.find(settings_text::kDsadSyncInterval)->value.toString(), "15");
    EXPECT_EQ(c.find(settings_text::kDsgcPrefix.toLower() + "currentgc"), nullptr); // names compare exactly
}

TEST_P(SettingsStoreTest, WritesNodesAllOrNone)
{
    SettingsStore store(m_cs);
    const QString p = settings_text::kDsgcPrefix;
    FwError err = store.writeNodes({{p + "ReconnectFailureThreshold", "9"}, {p + "ManualGCPrimary", "gc'o.example.com"}});
    ASSERT_FALSE(err) << err.description.toStdString();
    EXPECT_EQ(nodes("ReconnectFailureThreshold ManualGCPrimary"), "9 gc'o.example.com");
    EXPECT_EQ(scalar("SELECT NodeValue FROM Configuration WHERE FullNodeName = 'System.Telephony.Integration.Name'").toString(), "Default");

    // One missing node: an error, and the nodes before it are not changed either.
    err = store.writeNodes({{p + "ReconnectFailureThreshold", "11"}, {p + "NoSuchNode", "1"}, {p + "ReconnectEnabled", "0"}});
    EXPECT_TRUE(err);
    EXPECT_TRUE(err.description.contains("NoSuchNode"));
    EXPECT_EQ(nodes("ReconnectFailureThreshold ReconnectEnabled"), "9 1");

    // A name with a quote names no node and touches none.
    err = store.writeNodes({{p + "X' OR '1'='1", "0"}});
    EXPECT_TRUE(err);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM Configuration WHERE NodeValue = '0'").toInt(), 2);
}

TEST_P(SettingsStoreTest, AnUnreachableDatabaseIsAnErrorNotAnEmptyList)
{
    SettingsStore store(GetParam() == test::Engine::Sqlite ? m_direct + ".missing" : test::withDatabase(m_direct, "fwt_missing"));
    FwError err;
    EXPECT_TRUE(store.readDomains(&err).isEmpty());
    EXPECT_TRUE(err);
    int matched = -1;
    EXPECT_TRUE(store.changeDomain(kCorp, {{DomainColumn::ReconnectEnabled, 0}}, &matched));
    EXPECT_TRUE(store.writeNodes({{settings_text::kDsgcPrefix + "ReconnectEnabled", "0"}}));
}

#ifdef FERROWIND_STORE_ODBC
INSTANTIATE_TEST_SUITE_P(Engines, SettingsStoreTest, ::testing::Values(test::Engine::Sqlite), test::engineName);
#else
INSTANTIATE_TEST_SUITE_P(Engines, SettingsStoreTest, test::kEngines, test::engineName);
#endif
