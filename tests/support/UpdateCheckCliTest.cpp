#include "LocalHttpServer.h"
#include "support/CliProcess.h"
#include "support/TestContext.h"

#include "support/UpdateCheck.h"
#include "support/UpdateHook.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using fw::test::CliRun;
using fw::test::LocalHttpServer;
using fw::test::runCli;

namespace {

class UpdateCheckCliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }

    void pointRegistryAt(const QString& site)
    {
        fw::test::writeTestFile(dir.filePath("velmora.reg"),
                                "Windows Registry Editor Version 5.00\r\n\r\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\r\n\"UpdateSite\"=\"" +
                                    site.toUtf8() + "\"\r\n");
    }

    CliRun run(const QStringList& args)
    {
        return runCli(QStringLiteral(FERROWIND_CLI), QStringList{"update-check"} + args, dir.filePath("velmora.reg"));
    }

    void serve(const QString& version)
    {
        LocalHttpServer::Route r;
        r.body = "<rows><row><cell>Ferrowind^" + QByteArray(fw::kHomePagePath) + "^ifram_a</cell><cell>" + version.toUtf8() +
                 "</cell></row></rows>";
        server.setRoute(QString::fromLatin1(fw::kDownloadListPath), r);
    }

    QTemporaryDir dir;
    LocalHttpServer server;
};

TEST_F(UpdateCheckCliTest, ReportsTheLatestVersionAsJson)
{
    pointRegistryAt(server.base());
    serve("99.0.1");
    const CliRun r = run({"--json"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o.value("latest").toString(), "99.0.1");
    EXPECT_TRUE(o.value("newer").toBool());
    EXPECT_TRUE(o.value("reachable").toBool());
    EXPECT_EQ(o.value("homePage").toString(), server.base() + QString::fromLatin1(fw::kHomePagePath));

    serve("0.0.1");
    const CliRun older = run({});
    EXPECT_EQ(older.code, 0);
    EXPECT_TRUE(older.out.contains("Latest published version: 0.0.1"));
    EXPECT_TRUE(older.out.contains("most up to date"));
}

TEST_F(UpdateCheckCliTest, UnreachableSiteExitsWithOne)
{
    pointRegistryAt(QStringLiteral("http://127.0.0.1:%1").arg(fw::test::closedLoopbackPort()));
    const CliRun r = run({});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("could not be found")) << r.err.toStdString();

    const CliRun j = run({"--json"});
    EXPECT_EQ(j.code, 1);
    const QJsonObject o = QJsonDocument::fromJson(j.out.toUtf8()).object();
    EXPECT_FALSE(o.value("reachable").toBool());
    EXPECT_TRUE(o.value("error").toString().contains("Connection refused")) << j.out.toStdString();
}

TEST_F(UpdateCheckCliTest, HelpAndUsageErrors)
{
    pointRegistryAt(server.base());
    const CliRun help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("UpdateSite"));
    EXPECT_EQ(run({"--bogus"}).code, 2);
    EXPECT_EQ(run({"extra"}).code, 2);
    EXPECT_EQ(server.requests(QString::fromLatin1(fw::kDownloadListPath)), 0);
}

} // namespace
