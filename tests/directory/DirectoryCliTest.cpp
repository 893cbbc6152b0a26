#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

namespace {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

CliRun cli(const QStringList& args, const QString& registry = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!registry.isEmpty())
        env.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FERROWIND_CLI), args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        return {};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

TEST(DirectoryCli, HelpAndUsageErrors)
{
    for (const char* c : {"locate", "test-server", "reconnect"}) {
        const CliRun r = cli({QString::fromLatin1(c), QStringLiteral("--help")});
        EXPECT_EQ(r.code, 0) << c;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: "))) << c;
        EXPECT_TRUE(r.out.contains(QStringLiteral("Exit status 1"))) << c;
    }
    EXPECT_EQ(cli({"locate", "corp.example.com", "--flags", "zz"}).code, 2);
    EXPECT_EQ(cli({"locate", "corp.example.com", "--source", "not-an-address"}).code, 2);
    EXPECT_EQ(cli({"locate", "a.com", "b.com"}).code, 2);
    EXPECT_EQ(cli({"test-server", "dc1.corp.example.com"}).code, 2);               // neither --dc nor --gc
    EXPECT_EQ(cli({"test-server", "dc1.corp.example.com", "--dc", "--gc"}).code, 2);
    const CliRun noDot = cli({"test-server", "dc1", "--dc"});
    EXPECT_EQ(noDot.code, 2);
    EXPECT_TRUE(noDot.err.contains("fully qualified server name"));
    EXPECT_EQ(cli({"reconnect"}).code, 2);
    EXPECT_EQ(cli({"reconnect", "--gc", "--domain", "x"}).code, 2);
}

TEST(DirectoryCli, LocateAnswersBadNamesAtOnce)
{
    const CliRun r = cli({"locate", "bad..name", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("\"LastError\": 1212"));
    EXPECT_TRUE(r.out.contains("The format of the " "specified DomainName is invalid."));
}

TEST(DirectoryCli, ReconnectWithoutAConnectorCommandSaysSoAndFails)
{
    QTemporaryDir dir;
    ASSERT_EQ(cli({"demo-env", dir.path(), "--runs", "5"}).code, 0);
    const QString reg = dir.filePath(QStringLiteral("velmora.reg"));
    CliRun r = cli({"reconnect", "--gc"}, reg);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("(error):429 (")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("ConnectorControlCommand"));
    EXPECT_FALSE(r.err.contains("Reconnect process initiated"));
    r = cli({"reconnect", "--domain", "no.such.domain"}, reg);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("there is no domain named"));
}
