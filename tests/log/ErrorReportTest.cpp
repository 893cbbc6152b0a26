#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace fw;

TEST(ErrorReport, TextShapes)
{
    EXPECT_EQ(errorReportText({91, "Object variable or With block variable not set"}, "cmdDCResetToDefaults_Click", "frmMain"),
              QStringLiteral("(error):91 (Object variable or With block variable not set) in procedure "
                             "cmdDCResetToDefaults_Click of Form frmMain"));
    EXPECT_EQ(errorReportText({6, "Overflow"}, "getVersion", "VelmoraVersion", OwnerKind::Module),
              "(error):6 (Overflow) in procedure getVersion of Module VelmoraVersion");
    EXPECT_EQ(errorReportText({13, "Type mismatch"}, "bServerInDomain", "frmMain", OwnerKind::Form, 12, true),
              "Error 13 (Type mismatch) in procedure bServerInDomain of Form frmMain (line#=12)");
}

TEST(ErrorScope, SendsToItsSinksInOrderAndGoesOn)
{
    QLocale::setDefault(QLocale::c());
    QTemporaryDir dir;
    FixedClock clock;
    ActivityLog log(clock, "T", QDir(dir.path()).filePath("logs"), [] { return qint16(0); });
    log.OpenLogFile(log.GenerateNewLogFileName(), {});
    RecordingDebugChannel debug;
    ScriptedPrompter prompter;

    ErrorScope scope("cmdGCSave_Click", "frmMain", OwnerKind::Form,
                     {ErrorSink::Debugger, ErrorSink::LogPlain, ErrorSink::MessageBox}, {&debug, &log, &prompter});
    scope.ignoreNumber(94);
    EXPECT_FALSE(scope.step([]() -> Result<void> { return FwError{3621, "The statement has been terminated."}; }));
    EXPECT_FALSE(scope.stepResult([] { return Result<int>(FwError::invalidUseOfNull()); }).ok()); // skipped silently
    bool ran = false;
    EXPECT_TRUE(scope.step([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(scope.reportedCount(), 1);

    const QString text = "(error):3621 (The statement has been terminated.) in procedure cmdGCSave_Click of Form frmMain";
    EXPECT_EQ(debug.lines, QStringList{text});
    EXPECT_EQ(prompter.messages, QStringList{text});
    QFile f(log.logPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().endsWith((text + "\r\n").toUtf8()));
}

TEST(ErrorScope, ReportsAThrownStdExceptionAsError5AndHandsBackTheValue)
{
    ScriptedPrompter prompter;
    ErrorScope scope("PadVersionString", "modUpdate", OwnerKind::Module, {ErrorSink::MessageBox}, {nullptr, nullptr, &prompter});
    EXPECT_FALSE(scope.step([] { throw std::runtime_error("bad conversion"); }));
    const Result<int> r = scope.stepResult([] { return Result<int>(7); });
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, 7);
    EXPECT_EQ(prompter.messages, QStringList{"(error):5 (bad conversion) in procedure PadVersionString of Module modUpdate"});
}
