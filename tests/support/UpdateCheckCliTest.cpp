#include "LocalHttpServer.h"

#include "support/UpdateCheck.h"
#include "support/UpdateHook.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using fw::test::LocalHttpServer;

namespace {


struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

class UpdateCheckCliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }

    void pointRegistryAt(const QString& site)
    {
        QFile f(dir.filePath(QStringLiteral("velmora.reg")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool]\r\n\"UpdateSite\"=\"" +
                site.toUtf8() + "\"\r\n");
    }

    CliRun run(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FERROWIND_REGISTRY"), dir.filePath(QStringLiteral("velmora.reg")));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(FERROWIND_CLI), QStringList{QStringLiteral("update-check")} + args);
        CliRun r;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exitCode = p.exitCode();
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    void serve(const QString& version)
    {
        LocalHttpServer::Route r;
        r.body = "<rows><row><cell>Ferrowind^" + QByteArray(fw::kHomePagePath) + "^ifram_a</cell><cell>" +
                 version.toUtf8() + "</cell></row></rows>";
        server.setRoute(QString::fromLatin1(fw::kDownloadListPath), r);
    }

    QTemporaryDir dir;
    LocalHttpServer server;
};

TEST_F(UpdateCheckCliTest, ReportsTheLatestVersionAsJson)
{
    pointRegistryAt(server.base());
    serve(QStringLiteral("99.0.1"));
    const CliRun r = run({QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(o.value(QStringLiteral("latest")).toString(), QStringLiteral("99.0.1"));
    EXPECT_TRUE(o.value(QStringLiteral("newer")).toBool());
    EXPECT_TRUE(o.value(QStringLiteral("reachable")).toBool());
    EXPECT_EQ(o.value(QStringLiteral("homePage")).toString(), server.base() + QString::fromLatin1(fw::kHomePagePath));

    serve(QStringLiteral("0.0.1"));
    const CliRun older = run({});
    EXPECT_EQ(older.exitCode, 0);
    EXPECT_TRUE(older.out.contains("Latest published version: 0.0.1"));
    EXPECT_TRUE(older.out.contains("most up to date"));
}

TEST_F(UpdateCheckCliTest, UnreachableSiteExitsWithOne)
{
    pointRegistryAt(QStringLiteral("http://127.0.0.1:%1").arg(fw::test::closedLoopbackPort()));
    const CliRun r = run({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("could not be found")) << r.err.constData();

    const CliRun j = run({QStringLiteral("--json")});
    EXPECT_EQ(j.exitCode, 1);
    const QJsonObject o = QJsonDocument::fromJson(j.out).object();
    EXPECT_FALSE(o.value(QStringLiteral("reachable")).toBool());
    EXPECT_FALSE(o.value(QStringLiteral("error")).toString().isEmpty());
}

TEST_F(UpdateCheckCliTest, HelpAndUsageErrors)
{
    pointRegistryAt(server.base());
    const CliRun help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("UpdateSite"));
    EXPECT_EQ(run({QStringLiteral("--bogus")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("extra")}).exitCode, 2);
    EXPECT_EQ(server.requests(QString::fromLatin1(fw::kDownloadListPath)), 0);
}

} // namespace
