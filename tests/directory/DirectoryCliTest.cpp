#include "support/CliProcess.h"

#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using fw::test::cli;
using fw::test::CliRun;

TEST(DirectoryCli, HelpAndUsageErrors)
{
    for (const char* c : {"locate", "test-server", "reconnect"}) {
        const CliRun r = cli({QString::fromLatin1(c), QStringLiteral("--help")});
        EXPECT_EQ(r.code, 0) << c;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: "))) << c;
        EXPECT_TRUE(r.out.contains(QStringLiteral("Exit status 1"))) << c;
    }
    for (const QStringList& args :
         {QStringList{"locate", "corp.example.com", "--flags", "zz"},
          QStringList{"locate", "corp.example.com", "--source", "not-an-address"}, QStringList{"locate", "a.com", "b.com"},
          QStringList{"test-server", "dc1.corp.example.com"}, // neither --dc nor --gc
          QStringList{"test-server", "dc1.corp.example.com", "--dc", "--gc"}, QStringList{"reconnect"},
          QStringList{"reconnect", "--gc", "--domain", "x"}})
        EXPECT_EQ(cli(args).code, 2) << args.join(' ').toStdString();
    const CliRun noDot = cli({"test-server", "dc1", "--dc"});
    EXPECT_EQ(noDot.code, 2);
    EXPECT_TRUE(noDot.err.contains("You need to enter a fully qualified server name in the form of 'server.domain.com'"));
}

TEST(DirectoryCli, LocateAnswersBadNamesAtOnce)
{
    const CliRun r = cli({"locate", "bad..name", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("\"LastError\": 1212"));
    EXPECT_TRUE(r.out.contains("The format of the "
                               "specified DomainName is invalid."));
}

TEST(DirectoryCli, ReconnectWithoutAConnectorCommandSaysSoAndFails)
{
    QTemporaryDir dir;
    ASSERT_EQ(cli({"demo-env", dir.path(), "--runs", "5"}).code, 0);
    const QString reg = dir.filePath(QStringLiteral("velmora.reg"));
    CliRun r = cli({"reconnect", "--gc"}, reg);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("(error):429 (")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Reconnect process initiated"));
    r = cli({"reconnect", "--domain", "no.such.domain"}, reg);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("there is no domain named"));
}
