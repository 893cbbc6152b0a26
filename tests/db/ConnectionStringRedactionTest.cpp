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
        // A brace never closed: a driver may still read the password key inside it.
        {"Driver={FreeTDS;Server=db1;UID=sa;PWD=Hunter2Secret", "Driver={FreeTDS;Server=db1;UID=sa;PWD=***"},
        {"Driver={FreeTDS;Password={a;b}}c;Server=db2", "Driver={FreeTDS;Password=***"},
        {"Driver={FreeTDS;Server=db1", "Driver={FreeTDS;Server=db1"},
        {"Server=db1;PWD=", "Server=db1;PWD=***"},
        {"Server=db1;;Trusted_Connection;PWD=s;", "Server=db1;;Trusted_Connection;PWD=***;"},
        {"UserPWD=keep;PWDX=keep", "UserPWD=keep;PWDX=keep"},
        {"Driver={SQL Server};server=;database=VelmoraDb", "Driver={SQL Server};server=;database=VelmoraDb"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(redactConnectionString(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

// Only the password's place is masked: the same letters elsewhere in the driver's text are other words.
TEST(ConnectionStringRedaction, DriverTextLosesThePasswordWhereItQuotesTheStringAndNothingElse)
{
    const struct {
        const char* connectionString;
        const char* text;
        const char* out;
    } cases[] = {
        {"Server=db1;UID=sa;PWD={Se;cr}}et}", "cannot use Server=db1;UID=sa;PWD={Se;cr}}et} now",
         "cannot use Server=db1;UID=sa;PWD=*** now"},
        {"Server=db1;UID=sa;PWD={Se;cr}}et}", "login failed (pwd = Se;cr}et)", "login failed (pwd = ***)"},
        {"Driver={FreeTDS;Server=db1;UID=sa;PWD=Hunter2Secret",
         "[unixODBC][Driver Manager]Can't open lib 'FreeTDS;Server=db1;UID=sa;PWD=Hunter2Secret' : file not found",
         "[unixODBC][Driver Manager]Can't open lib 'FreeTDS;Server=db1;UID=sa;PWD=***' : file not found"},
        {"Driver={FreeTDS};Server=db1;UID=sa;PWD=e",
         "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not exist",
         "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not exist"},
        {"Driver={FreeTDS};Server=db1;UID=sa;PWD=e", "Server=db1;UID=sa;PWD=e;Database=VelmoraDb refused",
         "Server=db1;UID=sa;PWD=***;Database=VelmoraDb refused"},
        // A value this string does not hold is still a password where it stands.
        {"Server=db1;PWD=x", "tried Password=Other1 and UserPWD=keep", "tried Password=*** and UserPWD=keep"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fw::withoutConnectionSecrets(QString::fromUtf8(c.text), QString::fromUtf8(c.connectionString)),
                  QString::fromUtf8(c.out))
            << c.text;
}

// The driver manager quotes the brace's contents when it cannot load a driver of that name.
TEST(ConnectionStringRedaction, AFailedOpenNamesTheServerButNotThePassword)
{
    const struct {
        const char* connectionString;
        const char* description;
    } cases[] = {
        {"Driver={No Such Driver};Server=db1.example.com;UID=sa;PWD=Secret123;Database=VelmoraDb",
         "Cannot open the database (Driver={No Such Driver};Server=db1.example.com;UID=sa;PWD=***;Database=VelmoraDb): "
         "[unixODBC][Driver Manager]Can't open lib 'No Such Driver' : file not found QODBC: Unable to connect"},
        {"Driver={FreeTDS;Server=db1;UID=sa;PWD=Hunter2Secret",
         "Cannot open the database (Driver={FreeTDS;Server=db1;UID=sa;PWD=***): "
         "[unixODBC][Driver Manager]Can't open lib 'FreeTDS;Server=db1;UID=sa;PWD=***;' : file not found QODBC: Unable to connect"},
    };
    for (const auto& c : cases) {
        fw::FwError err;
        err = fw::Database::open(QString::fromUtf8(c.connectionString)).error();
        EXPECT_TRUE(err.isError());
        EXPECT_EQ(err.description, QString::fromUtf8(c.description));
    }
}
