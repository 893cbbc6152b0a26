// The command line's own part: parsing KEY=VALUE, --yes, exit codes, JSON and the log it names. The panel rules and
// the saver behind it are tested below it.
#include "StoredSettings.h"
#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "support/CliProcess.h"
#include "support/Must.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;
using fw::test::CliRun;

namespace {

class SettingsCli : public ::testing::TestWithParam<test::Engine> {
protected:
    void SetUp() override
    {
        FW_SKIP_UNLESS_ENGINE(GetParam());
        t.setEngine(GetParam());
        cs = t.createDemoDatabase(5, 5);
        ASSERT_FALSE(cs.isEmpty());
        reg = t.writeRegistryFile();
    }
    CliRun cli(const QStringList& args)
    {
        QProcessEnvironment env;
        env.insert("XDG_STATE_HOME", dir.filePath("state"));
        return test::runCli(FERROWIND_CLI, args, reg, env);
    }
    QString columns(const QString& names) { return test::domainColumns(cs, names); }
    QString nodes(const QString& names) { return test::gcNodes(cs, names); }
    // Everything 'settings show' prints: what a refused command must leave as it was.
    QByteArray settingsShown() { return cli({"settings", "show", "--json"}).out.toUtf8(); }
    // The log the output names.
    QStringList logOf(const CliRun& r)
    {
        const qsizetype at = r.out.indexOf("Activity log: ");
        return test::TestContext::logLines(at < 0 ? QString() : r.out.mid(at + 14).trimmed());
    }

    test::TestContext t;
    QTemporaryDir dir;
    QString cs;
    QString reg;
};

} // namespace

TEST_P(SettingsCli, ShowPrintsTheStoredSettings)
{
    CliRun r = cli({"settings", "show", "--json"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    ASSERT_EQ(o["domains"].toArray().size(), 3);
    const QJsonObject sales = o["domains"].toArray()[2].toObject(); // by name: corp, emea, sales
    EXPECT_EQ(sales["DomainName"].toString(), "sales.corp.example.com");
    EXPECT_EQ(sales["DoTotalResynchAtTime"].toString(), "230");
    EXPECT_TRUE(o["domains"].toArray()[0].toObject()["ManualDCPrimary"].isNull());
    EXPECT_EQ(o["globalCatalog"].toObject()["CurrentGC"].toString(), "gc01.corp.example.com");
    EXPECT_EQ(o["dcSynchInterval"].toString(), "15");

    r = cli({"settings", "show", "--domain", "EMEA.example.org"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("ManualDCPrimary              emeadc1.emea.example.org"));
    EXPECT_FALSE(r.out.contains("Global catalog"));

    EXPECT_EQ(cli({"settings", "show", "--domain", "nowhere"}).code, 1);
    EXPECT_EQ(cli({"settings", "show", "--domain", "x", "--gc"}).code, 2);
    r = cli({"settings", "show", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("--domain"));
}

TEST_P(SettingsCli, SetSavesThroughThePanelRulesWithYesForTheRiskyChoices)
{
    CliRun r = cli({"settings", "set", "--domain", "corp.example.com", "ReconnectEnabled=0"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("WARNING, you have selected to disable the automatic reconnect functionality for this domain."));
    EXPECT_EQ(columns("ReconnectEnabled"), "1");

    r = cli({"settings", "set", "--domain", "corp.example.com", "ReconnectEnabled=0", "DoTotalResynchAtTime=07:05",
             "DoTotalResynchUsesRelative=0", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(columns("ReconnectEnabled DoTotalResynchAtTime"), "0 705");
    EXPECT_TRUE(logOf(r).endsWith("Settings saved for domain")) << logOf(r).join('\n').toStdString();

    // Refused even with --yes; the JSON says how.
    r = cli({"settings", "set", "--gc", "ReconnectAutoFind=0", "--yes", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("without providing an alternative global catalog server"));
    const QJsonObject outcome = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_FALSE(outcome["saved"].toBool());
    EXPECT_EQ(outcome["outcome"].toString(), "refused");
    // The name is trimmed as the field trims it.
    r = cli({"settings", "set", "--gc", "ReconnectAutoFind=0", "ManualGCPrimary= gc9.corp.example.com ", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(nodes("ManualGCPrimary ReconnectAutoFind"), "gc9.corp.example.com 0");
}

// What the panel would not save, and names its fields refuse, are refused before anything is written or logged.
TEST_P(SettingsCli, SetRefusesWhatThePanelWouldNotSave)
{
    const QString noHost = "ManualGCPrimary: You need to enter a fully qualified server name in the form of 'server.domain.com'";
    const struct {
        QStringList args;
        QStringList refused;
    } cases[] = {
        {{"--gc", "ManualGCPrimary=gc9.corp.example.com"},
         {"ManualGCPrimary is not saved while automatic search is on; set ReconnectAutoFind=0 in the same command"}},
        {{"--domain", "emea.example.org", "ReconnectAutoFind=0", "ManualDCPrimary=dc7.emea.example.org", "--yes"},
         {"ReconnectAutoFind is not saved while automatic reconnect is off; set ReconnectEnabled=1 in the same command",
          "ManualDCPrimary is not saved while automatic reconnect is off; set ReconnectEnabled=1 in the same command"}},
        {{"--domain", "corp.example.com", "DoTotalResynchAtTime=07:00"},
         {"DoTotalResynchAtTime is not saved while the full synchronization is delayed by minutes; set "
          "DoTotalResynchUsesRelative=0 in the same command"}},
        {{"--domain", "sales.corp.example.com", "ManualDCSecondary="},
         {"ManualDCSecondary is not saved when it is empty (the stored secondary server stays); give a server name"}},
        {{"--domain", "corp.example.com", "ReconnectAutoFind=0", "ManualDCPrimary=dc1.sales.corp.example.com", "--yes"},
         {"ManualDCPrimary: The server needs to be in the currently selected domain.  dc1.sales.corp.example.com is not part of "
          "the corp.example.com domain."}},
        {{"--gc", "ReconnectAutoFind=0", "ManualGCPrimary=not a host;name\nx.example.com", "--yes"}, {noHost}},
        {{"--gc", "ReconnectAutoFind=0", "ManualGCPrimary=bad name!", "--yes"}, {noHost}},
        {{"--gc", "ReconnectAutoFind=0", "ManualGCPrimary=" + QString(4988, 'a') + ".example.com", "--yes"}, {noHost}},
    };
    const QByteArray before = settingsShown();
    for (const auto& c : cases) {
        const CliRun r = cli(QStringList{"settings", "set"} + c.args);
        EXPECT_EQ(r.code, 1) << c.args.join(' ').toStdString();
        QStringList expected;
        for (const QString& line : c.refused)
            expected << "ferrowind settings set: " + line;
        expected << "ferrowind settings set: nothing was saved";
        EXPECT_EQ(r.err.trimmed().split('\n'), expected) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << "no activity log either";
    }
    EXPECT_EQ(settingsShown(), before);

    const CliRun r = cli({"settings", "set", "--gc", "ManualGCSecondary=gc8.corp.example.com", "--json"});
    EXPECT_EQ(r.code, 1);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o["outcome"].toString(), "refused");
    EXPECT_EQ(o["refused"].toArray().first().toString(),
              "ManualGCSecondary is not saved while automatic search is on; set ReconnectAutoFind=0 in the same command");
}

// Another save commits between this command's read and its write (the command waits for that save's lock):
// nothing is written, the changed setting is named and the exit status is 1.
TEST_P(SettingsCli, SetOnSettingsChangedSinceTheyWereReadIsRefused)
{
    // SQL Server's default isolation makes the command's read wait for the other save instead (it then reads the new
    // values); the store's own test covers the race on both engines.
    if (GetParam() != test::Engine::Sqlite)
        GTEST_SKIP() << "the command's read would wait for the other session's lock";
    const std::unique_ptr<Database> other = test::must(test::openForSetUp(cs));
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->begin());
    const Result<QSqlQuery> changed = other->run(
        "UPDATE ADDomain SET DoTotalResynchAfterMinutes = 77, ReconnectSearchAllSites = 1 WHERE DomainName = 'corp.example.com'");
    ASSERT_TRUE(changed) << changed.error().description.toStdString();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FERROWIND_REGISTRY", reg);
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    p.setProcessEnvironment(env);
    p.setReadChannel(QProcess::StandardError);
    p.start(FERROWIND_CLI, {"settings", "set", "--domain", "corp.example.com", "ReconnectEnabled=0",
                            "ReconnectFailureThreshold=9", "--yes", "--json"});
    // The question comes after the command has read the row and before it writes.
    QByteArray err;
    while (!err.contains("-> Yes (--yes)") && p.waitForReadyRead(20000))
        err += p.readAllStandardError();
    EXPECT_TRUE(other->commit());
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 1);
    err += p.readAllStandardError();
    EXPECT_TRUE(err.contains("Nothing was saved: someone else changed these settings of domain corp.example.com after they "
                             "were read: ReconnectSearchAllSites, DoTotalResynchAfterMinutes. Look at the stored values and "
                             "make your change again."))
        << err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    EXPECT_EQ(o["outcome"].toString(), "conflict");
    EXPECT_EQ(o["changed"].toArray(), (QJsonArray{"ReconnectSearchAllSites", "DoTotalResynchAfterMinutes"}));
    EXPECT_EQ(columns("ReconnectEnabled ReconnectFailureThreshold DoTotalResynchAfterMinutes"), "1 15 77");
}

TEST_P(SettingsCli, SetRefusesBadInputWithoutWriting)
{
    for (const QStringList& args : {QStringList{"ReconnectEnabled=0"}, QStringList{"--gc"}, QStringList{"--gc", "NoSuchKey=1"},
                                    QStringList{"--gc", "CurrentGC=gc9"}, QStringList{"--gc", "ReconnectEnabled=yes"},
                                    QStringList{"--gc", "DoTotalResynchAtTime=2400"}})
        EXPECT_EQ(cli(QStringList{"settings", "set"} + args).code, 2) << args.join(' ').toStdString();
    EXPECT_EQ(cli({"settings", "set", "--domain", "nowhere", "ReconnectEnabled=1"}).code, 1);
    const CliRun r = cli({"settings", "set", "--gc", "ReconnectFailureThreshold=12 attempts"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Connection attempts before failure"));
    EXPECT_EQ(nodes("ReconnectFailureThreshold"), "3");
}

INSTANTIATE_TEST_SUITE_P(Engines, SettingsCli, test::kEngines, test::engineName);
