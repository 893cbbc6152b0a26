#include "support/TestContext.h"

#include "support/AboutText.h"
#include "support/HelpFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {

TEST(LaunchHelpFile, OpensThePageBesideTheProgram)
{
    fw::test::TestContext t;
    const QString page = QDir(t.dir()).filePath("FerrowindManager.htm");
    test::writeTestFile(page, "<html><body>help</body></html>");
    EXPECT_TRUE(LaunchHelpFile(t.ctx()));
    EXPECT_EQ(t.shell().requests(), QStringList{"document " + page});
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

TEST(LaunchHelpFile, FailuresAreMappedFromThePlatformsCode)
{
    fw::test::TestContext t;
    for (const int code : {2, 31, 5}) {
        t.shell().next = {false, code, "the platform's text"};
        EXPECT_FALSE(LaunchHelpFile(t.ctx())) << code;
    }
    EXPECT_EQ(t.prompter().messages,
              (QStringList{"Unable to launch help file FerrowindManager.htm. Try opening the file manually in a browser. "
                           "Error code returned is 2",
                           "No program is currently associated to open this file type: FerrowindManager.htm",
                           "Unable to launch help file FerrowindManager.htm. Try opening the file manually in a browser. "
                           "Error code returned is 5"}));
}

TEST(HelpFilePath, FallsBackToTheInstalledDataFolder)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("bin"));
    ASSERT_TRUE(QDir(root.path()).mkpath("share/ferrowind"));
    AppContext ctx(doubleSeams(), "FerrowindSettingsTool", root.filePath("bin"), root.filePath("logs"));
    const QString beside = root.filePath("bin/FerrowindManager.htm");
    EXPECT_EQ(helpFilePath(ctx), beside); // in neither place: the path the message will be about
    const QString installed = root.filePath("share/ferrowind/FerrowindManager.htm");
    test::writeTestFile(installed, "installed");
    EXPECT_EQ(helpFilePath(ctx), installed);
    test::writeTestFile(beside, "beside");
    EXPECT_EQ(helpFilePath(ctx), beside);
}

TEST(HelpPage, ShipsWithTheSources)
{
    QFile f(QStringLiteral(FERROWIND_HELP_PAGE));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(f.readAll());
    // The page covers what an administrator comes to it for.
    for (const char* topic : {"automatic reconnect", "Test Connection", "Force Reconnect", "history", "logs",
                              "ferrowind update-check", "ferrowind status", "Status"})
        EXPECT_TRUE(html.contains(QLatin1String(topic), Qt::CaseInsensitive)) << topic;
}

TEST(AboutText, VersionLabel)
{
    EXPECT_EQ(aboutVersionText(1, 2, 15), " 1.2 Build 15");
    EXPECT_EQ(aboutVersionText(-1, 0, -3), "-1.0 Build-3");
    EXPECT_TRUE(aboutLegalText().contains("GNU General Public License"));
}

} // namespace
