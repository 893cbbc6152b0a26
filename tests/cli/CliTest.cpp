#include "app/DemoEnvironment.h"
#include "support/CliProcess.h"
#include "support/FileAccess.h"
#include "support/OdbcPath.h"
#include "support/TestContext.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using fw::test::cli;
using fw::test::CliRun;

void writeFile(const QString& path, const QString& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

} // namespace

TEST(Cli, DemoEnvThenVersionReportsEveryGate)
{
    QTemporaryDir dir;
    const QString demo = dir.filePath("demo");
    CliRun r = cli({"demo-env", demo, "--runs", "30"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_TRUE(QFile::exists(demo + "/VelmoraDb.sqlite"));

    const QString reg = demo + "/velmora.reg";
    r = cli({"version", "--json"}, reg);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o["velmora"].toString(), QStringLiteral("8.0(0.85)"));
    EXPECT_TRUE(o["canRun"].toBool());
    EXPECT_TRUE(o["statusTab"].toBool());

    // An older product and a passive failover member are refused with exit status 1.
    writeFile(reg, fw::DemoEnvironment::registryText("sqlite:" + demo + "/VelmoraDb.sqlite", 0x00040000, 0x00030063) +
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr]\r\n"
                       "\"Active Status\"=dword:00000000\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\r\n\"Trace\"=dword:00000003\r\n");
    r = cli({"version"}, reg);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("Installed Velmora version: 4.0(3.99)"));
    EXPECT_TRUE(r.out.contains("REFUSED version"));
    EXPECT_TRUE(r.out.contains("REFUSED failover"));
    EXPECT_TRUE(r.out.contains("ok      connector"));
    EXPECT_TRUE(r.out.contains("Trace: 3"));
}

// The commands that show or change what the windows show make the windows' start-up checks first (which check
// refuses is the gate's own test): a refused installation gets the windows' message and exit 2, and nothing is
// read or written.
TEST(Cli, HistoryReconnectAndSettingsSetAreRefusedAsTheWindowsAre)
{
    QTemporaryDir dir;
    const QString demo = dir.filePath("demo");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "5"}).code, 0);
    const QString reg = demo + "/velmora.reg";
    const QString db = demo + "/VelmoraDb.sqlite";
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    writeFile(reg, fw::DemoEnvironment::registryText("sqlite:" + db, 0x00040000, 0x00030063));
    for (const QStringList& args : {QStringList{"history", "dc"}, QStringList{"reconnect", "--gc"},
                                    QStringList{"settings", "set", "--gc", "ReconnectEnabled=0", "--yes"}}) {
        const CliRun r = cli(args, reg);
        const QString command = args[0] == "settings" ? "settings set" : args[0];
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.err, "ferrowind " + command + ": This tool only works with Velmora 4.0(4) versions and later.  Exiting...\n")
            << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before) << "a refused command wrote to the database";
}

TEST(Cli, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(cli({}).code, 2);
    EXPECT_EQ(cli({"no-such-command"}).code, 2);
    EXPECT_EQ(cli({"demo-env"}).code, 2);
    EXPECT_EQ(cli({"demo-env", "/tmp/x", "--runs", "many"}).code, 2);
    const CliRun v = cli({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_TRUE(v.out.startsWith("ferrowind 1."));
}

// The command list of --help, in the order scripts and the man page know it.
TEST(Cli, HelpListsEveryCommandWithItsLine)
{
    const CliRun h = cli({"--help"});
    EXPECT_EQ(h.code, 0);
    EXPECT_TRUE(h.out.contains("\nCommands:\n"
                               "  check-sync        monitoring-plugin check of the synchronisation's age\n"
                               "  demo-env          create a demo database and registry file\n"
                               "  history           chart points of the DC or GC synchronisation history\n"
                               "  locate            locate a domain controller (DNS SRV + netlogon ping)\n"
                               "  metrics           the state in the Prometheus text format\n"
                               "  reconnect         force the directory connector to reconnect\n"
                               "  serve-metrics     serve the metrics over HTTP for Prometheus\n"
                               "  settings show     show the stored reconnect settings\n"
                               "  settings set      change reconnect settings as the panels do\n"
                               "  status            state of the latest DC and GC synchronisation runs\n"
                               "  test-server       test a domain controller or global catalog server\n"
                               "  update-check      latest published version of the settings tool\n"
                               "  version           installed Velmora version and start-up checks\n\nOptions:\n"))
        << h.out.toStdString();
}

// A command group answers with its commands: on standard output when asked for help, else as a usage error.
TEST(Cli, ACommandGroupListsItsCommands)
{
    const QString list = "Usage: ferrowind settings COMMAND [OPTIONS]\n\n"
                         "Commands:\n"
                         "  show              show the stored reconnect settings\n"
                         "  set               change reconnect settings as the panels do\n\n"
                         "Every command takes --help.\n";
    const struct {
        QStringList args;
        int code;
        QString out, err;
    } cases[] = {
        {{"settings"}, 2, "", list},
        {{"settings", "--help"}, 0, list, ""},
        {{"settings", "-h"}, 0, list, ""},
        {{"settings", "help"}, 0, list, ""},
        {{"settings", "shw", "--gc"}, 2, "", "ferrowind settings: unknown command 'shw --gc'\n\n" + list},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err, c.err) << c.args.join(' ').toStdString();
    }
}

// Without its registry file the installation reads as not installed, and the commands that read it say why;
// the ones that need no installation say nothing about it.
TEST(Cli, MissingRegistryFileMeansNoInstalledProductAndIsNamed)
{
    CliRun r = cli({"version"}, "/nonexistent/velmora.reg");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("Installed Velmora version: 0.0(0.0)"));
    EXPECT_EQ(r.err, "ferrowind version: the registry file /nonexistent/velmora.reg does not exist; set FERROWIND_REGISTRY "
                     "to the installation's registry file\n");
    r = cli({"status", "--json"}, "/nonexistent/velmora.reg");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith("ferrowind status: the registry file /nonexistent/velmora.reg does not exist;"))
        << r.err.toStdString();
    r = cli({"locate", "bad..name"}, "/nonexistent/velmora.reg");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(r.err.contains("registry file")) << r.err.toStdString();
}

// A folder that already holds a demo (or an installation's registry file) is left alone unless replacing is asked for.
TEST(Cli, DemoEnvReplacesExistingFilesOnlyWhenAsked)
{
    QTemporaryDir dir;
    const QString reg = dir.filePath("velmora.reg");
    writeFile(reg, "kept");
    CliRun r = cli({"demo-env", dir.path(), "--runs", "2"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "ferrowind demo-env: " + reg + " already exists; give --replace to replace it\n");
    EXPECT_FALSE(QFile::exists(dir.filePath("VelmoraDb.sqlite")));
    QFile kept(reg);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "kept");
    kept.close();

    r = cli({"demo-env", dir.path(), "--runs", "2", "--replace"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(cli({"version"}, reg).code, 0);
    ASSERT_TRUE(QFile::remove(reg)); // the database alone is reason enough to refuse
    r = cli({"demo-env", dir.path(), "--runs", "2"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(dir.filePath("VelmoraDb.sqlite") + " already exists")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(reg));
}

// The generator's counts have a bound (ten million) that every int-sized sum under it respects; what is above it, below
// 0 or no number at all is a usage error, and nothing is made.
TEST(Cli, DemoEnvCountsOutsideTheirRangeAreUsageErrors)
{
    QTemporaryDir dir;
    const QString demo = dir.filePath("demo");
    const struct {
        QStringList args;
        const char* option;
    } cases[] = {
        {{"--runs", "2147483647"}, "runs"},
        {{"--runs", "10000001"}, "runs"},
        {{"--runs", "-1"}, "runs"},
        {{"--runs", "99999999999"}, "runs"},
        {{"--runs", "10000001", "--gc-runs", "5"}, "runs"},
        {{"--gc-runs", "10000001"}, "gc-runs"},
        {{"--runs", "10000000", "--gc-runs", "-5"}, "gc-runs"}, // ten million itself is taken
        {{"--changes", "2147483647"}, "changes"},
        {{"--changes", "1e3"}, "changes"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(QStringList{"demo-env", demo} + c.args);
        EXPECT_EQ(r.code, 2) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err.toStdString(),
                  std::string("ferrowind demo-env: --") + c.option + " needs a whole number from 0 to 10000000\n");
    }
    EXPECT_FALSE(QFile::exists(demo));
}

// A run killed while it fills the database leaves the unfinished file, SQLite's journal of it and its lock; the next
// run removes those names and makes a whole database. Files of other names in the folder are never touched.
TEST(Cli, DemoEnvRemovesWhatAKilledRunLeftAndNothingElse)
{
    QTemporaryDir dir;
    const QString unfinished = dir.filePath("VelmoraDb.sqlite.new");
    const QStringList foreign{"VelmoraDb.sqlite.new~", "VelmoraDb.sqlite.newer", "VelmoraDb.sqlite.new-journal.bak",
                              "VelmoraDb.sqlite.new.lock.old", "notes.txt"};
    for (const QString& name : foreign)
        writeFile(dir.filePath(name), "kept: " + name);
    QProcess killed;
    killed.start(FERROWIND_CLI, {"demo-env", dir.path(), "--runs", "10000000"});
    ASSERT_TRUE(killed.waitForStarted(30000));
    // Killed inside the long transaction that fills the tables: its journal has stayed for a second (each statement
    // making the schema keeps one for a moment only).
    QElapsedTimer waited;
    waited.start();
    QElapsedTimer journalSeen;
    while (waited.elapsed() < 60000 && killed.state() == QProcess::Running) {
        if (!QFile::exists(unfinished + "-journal"))
            journalSeen.invalidate();
        else if (!journalSeen.isValid())
            journalSeen.start();
        else if (journalSeen.elapsed() > 1000)
            break;
        QThread::msleep(5);
    }
    ASSERT_TRUE(journalSeen.isValid() && journalSeen.elapsed() > 1000) << "the run was not filling its tables within 60 s";
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(30000));
    for (const QString& left : {unfinished, unfinished + "-journal", unfinished + ".lock"})
        ASSERT_TRUE(QFile::exists(left)) << "the killed run did not leave " << left.toStdString();

    const CliRun r = cli({"demo-env", dir.path(), "--runs", "3"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList expected = foreign + QStringList{"VelmoraDb.sqlite", "velmora.reg"};
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), expected);
    for (const QString& name : foreign) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), ("kept: " + name).toUtf8());
    }
    EXPECT_EQ(
        fw::test::sqlValue("sqlite:" + dir.filePath("VelmoraDb.sqlite"), "SELECT COUNT(*) FROM SyncHistoryDC WHERE IsActive = 0")
            .toInt(),
        3);
}

// Two runs on one folder: the second leaves the first one's unfinished files alone and says why it stops.
TEST(Cli, DemoEnvLeavesTheFilesOfARunStillWriting)
{
    QTemporaryDir dir;
    const QString unfinished = dir.filePath("VelmoraDb.sqlite.new");
    QLockFile running(unfinished + ".lock");
    ASSERT_TRUE(running.tryLock(0));
    writeFile(unfinished, "being written");
    const CliRun r = cli({"demo-env", dir.path(), "--runs", "3"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "ferrowind demo-env: Another demo-env run is writing " + unfinished + "; try again when it has ended\n");
    QFile f(unfinished);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "being written");
    EXPECT_FALSE(QFile::exists(dir.filePath("VelmoraDb.sqlite")));
}

// An answer that did not reach its reader is an error on standard error and exit status 2 (check-sync: UNKNOWN, 3),
// whatever the command found, and the program is not killed silently by SIGPIPE.
TEST(Cli, AnAnswerThatCannotBeWrittenIsAFailure)
{
    QTemporaryDir dir;
    const QString demo = dir.filePath("demo");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "5"}).code, 0);
    const QString reg = demo + "/velmora.reg";
    const QList<QStringList> commands{
        {"status"},  {"status", "--json"}, {"status", "--details", "dc"}, {"settings", "show"}, {"version"},  {"history", "dc"},
        {"metrics"}, {"check-sync"},       {"history", "--help"},         {"--help"},           {"--version"}};
    const struct {
        fw::test::ChildStdout out;
        const char* reason;
    } outputs[] = {{fw::test::ChildStdout::DevFull, "No space left on device"},
                   {fw::test::ChildStdout::Closed, "Bad file descriptor"},
                   {fw::test::ChildStdout::ReaderGone, "Broken pipe"}};
    for (const QStringList& args : commands) {
        const bool global = args.first().startsWith("--");
        const QString command = global ? QString()
                                       : " " + (args.first() == "settings" ? args.mid(0, 2) : args.mid(0, 1)).join(' ');
        for (const auto& o : outputs) {
            if (o.out == fw::test::ChildStdout::Closed && !fw::test::childStdoutCanBeClosed())
                continue; // under Wine: said in the README
            SCOPED_TRACE((args.join(' ') + " / " + o.reason).toStdString());
            const CliRun r = cli(args, reg, {o.out});
            EXPECT_EQ(r.code, args.first() == "check-sync" ? 3 : 2);
            EXPECT_TRUE(r.err.endsWith("ferrowind" + command + ": standard output could not be written: " + o.reason + "\n"))
                << r.err.toStdString();
        }
    }
    // A command with nothing to print does not fail for a closed standard output (a cron job writing a file).
    const CliRun quiet = cli(
        {"metrics", "--output", dir.filePath("ferrowind.prom")}, reg,
        {fw::test::childStdoutCanBeClosed() ? fw::test::ChildStdout::Closed : fw::test::ChildStdout::Captured});
    EXPECT_EQ(quiet.code, 0) << quiet.err.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("ferrowind.prom")));
}

class DemoEnvDatabase : public ::testing::TestWithParam<fw::test::Engine> {
protected:
    void SetUp() override { FW_SKIP_UNLESS_ENGINE(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Engines, DemoEnvDatabase, fw::test::kEngines, fw::test::engineName);

// An ODBC database (SQLite through its ODBC driver, or the T-SQL server) already holding the schema is refused and left
// as it is; --replace makes the tables again and fills them.
TEST_P(DemoEnvDatabase, FillsAnOdbcDatabaseAndReplacesVelmoraTablesOnlyWhenAsked)
{
    fw::test::TestContext t;
    t.setEngine(GetParam());
    const QString direct = t.createEmptyDatabase();
    ASSERT_FALSE(direct.isEmpty());
    const QString cs = GetParam() == fw::test::Engine::Sqlite
                           ? "Driver={SQLite3};Database=" + fw::test::odbcFilePath(direct.mid(7))
                           : direct;
    CliRun r = cli({"demo-env", "--database", cs, "--runs", "4"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("ferrowind demo-env: The database (")) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.endsWith(") already holds Velmora tables (ADDomain, Configuration, SyncHistoryDC, SyncHistoryGC, "
                       "SyncHistoryDCDomain, SyncHistoryObject, vw_ADDomain, vw_Configuration); give --replace to replace "
                       "them\n"))
        << r.err.toStdString();
    const QString password = QRegularExpression("PWD=([^;]+)", QRegularExpression::CaseInsensitiveOption).match(cs).captured(1);
    EXPECT_TRUE(password.isEmpty() || !r.err.contains(password)) << "the password is never shown";
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM ADDomain").toInt(), 0);

    r = cli({"demo-env", "--database", cs, "--runs", "4", "--replace"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Filled ")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("velmora.reg")) << "no folder, no registry file";
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM ADDomain").toInt(), 3);
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM SyncHistoryDC WHERE IsActive = 0").toInt(), 4);
}

// With a folder beside --database, the registry file pointing at the database is written there, and the tools run on
// it at once; one already there is replaced only when asked, and the database is then left as it was.
TEST_P(DemoEnvDatabase, WritesTheRegistryFileOfTheFilledDatabaseIntoTheFolder)
{
    fw::test::TestContext t;
    t.setEngine(GetParam());
    const QString direct = t.createEmptyDatabase();
    ASSERT_FALSE(direct.isEmpty());
    const QString cs = GetParam() == fw::test::Engine::Sqlite
                           ? "Driver={SQLite3};Database=" + fw::test::odbcFilePath(direct.mid(7))
                           : direct;
    const QString folder = t.dir() + "/env";
    const QString reg = folder + "/velmora.reg";
    CliRun r = cli({"demo-env", "--database", cs, "--runs", "6", "--replace", folder});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Filled ")) << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith("\nCreated " + reg + "\nUse it with: export FERROWIND_REGISTRY=" + reg + "\n"))
        << r.out.toStdString();
    QFile file(reg);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains("\"ConnectionString\"=\"" + QString(cs).replace("\\", "\\\\") + "\""));
    if (cs.contains("PWD=", Qt::CaseInsensitive)) {
        EXPECT_FALSE(fw::test::othersMayAccess(reg)) << "the password is its owner's alone";
    }

    const CliRun status = cli({"status", "--json"}, reg);
    EXPECT_EQ(status.code, 0) << status.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(status.out.toUtf8()).object();
    EXPECT_EQ(o["dc"].toObject()["state"].toString(), "In progress") << status.out.toStdString();

    r = cli({"demo-env", "--database", cs, "--runs", "2", folder});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "ferrowind demo-env: " + reg + " already exists; give --replace to replace it\n");
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM SyncHistoryDC WHERE IsActive = 0").toInt(), 6) << "the database was left alone";
}
