// The command line's own part: parsing KEY=VALUE, --yes, exit codes, JSON and the log it names. The panel rules and
// the saver behind it are tested below it.
#include "StoredSettings.h"
#include "app/DemoEnvironment.h"
#include "support/CliProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    const QJsonObject sales = o["domains"].toArray()[1].toObject();
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
    r = cli({"settings", "set", "--gc", "ReconnectAutoFind=0", "ManualGCPrimary=gc'q.example.com", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(nodes("ManualGCPrimary"), "gc'q.example.com");
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
