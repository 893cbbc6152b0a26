#include "db/DriverWarnings.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

using namespace fw;

namespace {
Q_LOGGING_CATEGORY(lcElsewhere, "ferrowind.elsewhere")
QStringList g_passed;
} // namespace

// Qt's ODBC driver warns in its default category of each statement that fails; the program reports each failure in
// its own words, so those warnings are left out. Whatever else is said passes on to the handler there was before.
TEST(DriverWarnings, OnlyTheDriversOwnWarningsAreLeftOut)
{
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) { g_passed.append(m); });
    quietenDriverWarnings();
    qWarning("QODBCResult::exec: Unable to execute statement: \"[FreeTDS][SQL Server]relation \\\"x\\\" does not exist\"");
    qWarning("QODBCDriver::open: Unknown connection attribute 'SQL_ATTR_X'");
    qWarning("QODBCDriver: Unable to free statement handle 0");
    qWarning("The activity log could not be written: disk full");
    qWarning("QSqlDatabasePrivate::removeDatabase: connection 'x' is still in use");
    qCWarning(lcElsewhere) << "QODBCResult::exec: said by someone else";
    qInfo("QODBCResult::exec: not a warning");
    qInstallMessageHandler(before);
    EXPECT_EQ(g_passed, (QStringList{"The activity log could not be written: disk full",
                                     "QSqlDatabasePrivate::removeDatabase: connection 'x' is still in use",
                                     "QODBCResult::exec: said by someone else", "QODBCResult::exec: not a warning"}));
}
