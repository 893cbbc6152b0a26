#include "support/TestContext.h"

#include "directory/ConnectorControl.h"
#include "platform/RegistryStore.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

// The configured command is a shell script here; the Windows build runs it the same way through QProcess.
using namespace fw;
using namespace fw::test;

namespace {
const QString kToolKey = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool");
} // namespace

TEST(CommandConnectorControl, RunsTheConfiguredCommandWithSeparateArguments)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("calls.txt"));
    const QString script = dir.filePath(QStringLiteral("connector"));
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\" >> \"$CALLS\"; done\necho >> \"$CALLS\"\n"
            "[ \"$3\" = fail ] && { echo 'connector is down'; exit 3; }\nexit 0\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("CALLS", out.toLocal8Bit());

    RegistryContents reg;
    CommandConnectorControl c(reg, 5000);
    const FwError none = c.call(ConnectorKind::Domain, QStringLiteral("RequestReconnect"), QStringLiteral("dc1")).error();
    EXPECT_EQ(none.number, 429);
    EXPECT_EQ(none.description, "ActiveX component can't create object: no connector control command is configured (value "
                                "ConnectorControlCommand under HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool)");

    reg.setString(kToolKey, QStringLiteral("ConnectorControlCommand"), script);
    EXPECT_TRUE(c.call(ConnectorKind::Domain, QStringLiteral("RequestReconnect"), QStringLiteral("dc1.corp; rm -rf /")).ok());
    EXPECT_TRUE(c.call(ConnectorKind::GlobalCatalog, QStringLiteral("RequestReconnectV8"), QString()).ok());
    const FwError failed =
        c.call(ConnectorKind::GlobalCatalog, QStringLiteral("RequestReconnect"), QStringLiteral("fail")).error();
    EXPECT_EQ(failed.number, 440);
    EXPECT_EQ(failed.description, "Automation error: " + script + " RequestReconnect failed with status 3: connector is down");
    QFile calls(out);
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = calls.readAll().split('\n');
    EXPECT_EQ(lines[0], "[{4735EFC2-7655-4141-B076-9DF444E354EF}][RequestReconnect][dc1.corp; rm -rf /]");
    EXPECT_EQ(lines[1], "[KSDSGlobalCatalog.KsDSGlobalCatalog.1][RequestReconnectV8][]");

    reg.setString(kToolKey, QStringLiteral("ConnectorControlCommand"), dir.filePath(QStringLiteral("missing")));
    EXPECT_EQ(c.call(ConnectorKind::Domain, QStringLiteral("RequestReconnect"), QString()).error().number, 429);
}
