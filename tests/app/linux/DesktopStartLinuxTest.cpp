#include "support/CliProcess.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using fw::test::CliRun;
using fw::test::runCli;

namespace {

// The desktop tool started where there is no display at all.
CliRun startWithoutDisplay(const QStringList& args)
{
    QProcessEnvironment env;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.insert(QString::fromLatin1(name), QString());
    return runCli(QStringLiteral(FERROWIND_DESKTOP), args, QStringLiteral("/nonexistent"), env);
}

} // namespace

TEST(DesktopStart, HelpAndVersionNeedNoDisplayAndNoDisplayIsSaidPlainly)
{
    CliRun r = startWithoutDisplay({"--help"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Usage: FerrowindSettingsTool [--help | --version]\n")) << r.out.toStdString();

    r = startWithoutDisplay({"--version"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QRegularExpression("^FerrowindSettingsTool \\d+\\.\\d+\\.\\d+\n$").match(r.out).hasMatch())
        << r.out.toStdString();

    r = startWithoutDisplay({});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "FerrowindSettingsTool: there is no display to show the window on (DISPLAY and WAYLAND_DISPLAY are "
                     "not set); start it in a desktop session or over 'ssh -X', or use 'ferrowind' on the command line\n");
}
