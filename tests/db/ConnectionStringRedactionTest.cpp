#include "db/ConnectionStringRedaction.h"
#include "db/Database.h"

#include <gtest/gtest.h>

using fw::redactConnectionString;

TEST(ConnectionStringRedaction, PasswordValuesBecomeStarsAndTheRestStaysAsWritten)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Driver={FreeTDS};Server=db1;UID=sa;PWD=Secret123;Database=VelmoraDb",
         "Driver={FreeTDS};Server=db1;UID=sa;PWD=***;Database=VelmoraDb"},
        {"UID=sa;pWd=x;Password=y;PASSWORD=z", "UID=sa;pWd=***;Password=***;PASSWORD=***"},
        {"PWD={se;cr}}et};Server=db1", "PWD=***;Server=db1"},
        {"PWD={a}}};Server={b}", "PWD=***;Server={b}"},
        {"Driver={My;Driver=PWD};Server={PWD=1};UID=sa", "Driver={My;Driver=PWD};Server={PWD=1};UID=sa"},
        {" Pwd = {x y} ; Server=db1", " Pwd =***; Server=db1"},
        {"Server=db1;PWD={unclosed;Server=db2", "Server=db1;PWD=***"},
        {"Server=db1;PWD=", "Server=db1;PWD=***"},
        {"Server=db1;;Trusted_Connection;PWD=s;", "Server=db1;;Trusted_Connection;PWD=***;"},
        {"UserPWD=keep;PWDX=keep", "UserPWD=keep;PWDX=keep"},
        {"Driver={SQL Server};server=;database=VelmoraDb", "Driver={SQL Server};server=;database=VelmoraDb"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(redactConnectionString(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(ConnectionStringRedaction, DriverTextQuotingTheStringOrThePasswordLosesTheSecret)
{
    const QString cs = "Server=db1;UID=sa;PWD={Se;cr}}et}";
    EXPECT_EQ(fw::withoutConnectionSecrets("cannot use " + cs + " now", cs), "cannot use Server=db1;UID=sa;PWD=*** now");
    EXPECT_EQ(fw::withoutConnectionSecrets("bad password 'Se;cr}et' for sa", cs), "bad password '***' for sa");
}

TEST(ConnectionStringRedaction, AFailedOpenNamesTheServerButNotThePassword)
{
    fw::FwError err;
    const auto db = fw::Database::open(
        "Driver={No Such Driver};Server=db1.example.com;UID=sa;PWD=Secret123;Database=VelmoraDb", &err);
    ASSERT_FALSE(db);
    EXPECT_FALSE(err.description.contains("Secret123")) << err.description.toStdString();
    EXPECT_TRUE(err.description.startsWith(QStringLiteral(
        "Cannot open the database (Driver={No Such Driver};Server=db1.example.com;UID=sa;PWD=***;Database=VelmoraDb)")))
        << err.description.toStdString();
}
