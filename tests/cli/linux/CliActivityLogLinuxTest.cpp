#include "support/CliProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
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

// A log that cannot be written is said and never named as written; the save's own outcome stands.
TEST(Cli, SettingsSetSaysWhenItsActivityLogCannotBeWritten)
{
    QTemporaryDir dir;
    const QString demo = dir.filePath("demo");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "5"}).code, 0);
    // A copy of the program that cannot keep its logs beside it, with a state folder that cannot exist.
    const QString program = dir.filePath("bin/ferrowind");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("bin")));
    ASSERT_TRUE(QFile::copy(FERROWIND_CLI, program));
    writeFile(dir.filePath("bin/logs"), "a file, not a folder");
    writeFile(dir.filePath("state"), "a file, not a folder");
    QProcessEnvironment env;
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    const QString said = "the activity log could not be written: " + dir.filePath("state/ferrowind/logs") + ": Not a directory";

    CliRun r = fw::test::runCli(program, {"settings", "set", "--domain", "corp.example.com", "DoTotalResynchAfterMinutes=77"},
                                demo + "/velmora.reg", env);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), "Saved.\n");
    EXPECT_TRUE(r.err.endsWith("\nferrowind settings set: " + said + "\n")) << r.err.toStdString();
    r = fw::test::runCli(program, {"settings", "set", "--domain", "corp.example.com", "DoTotalResynchAfterMinutes=78", "--json"},
                         demo + "/velmora.reg", env);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_TRUE(o["saved"].toBool());
    EXPECT_TRUE(o["log"].isNull());
    EXPECT_EQ(("the activity log could not be written: " + o["logError"].toString()).toStdString(), said.toStdString());
}
