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
        // Quotes: some drivers read them as enclosing the value, with or without "" for one quote; others do not.
        {"Driver=FreeTDS;Server=127.0.0.1;Port=1;UID=u;PWD=\"Quo;ted5\";TDS_Version=7.4",
         "Driver=FreeTDS;Server=127.0.0.1;Port=1;UID=u;PWD=***;TDS_Version=7.4"},
        {"PWD='Quo;ted5';Server=db1", "PWD=***;Server=db1"},
        {"PWD=\"a\"\"b;c\";Server=db1", "PWD=***;Server=db1"},
        {" PWD = \"x y\" ;Server=db1", " PWD =***;Server=db1"},
        {"UID=u;PWD=\"Quo;ted5", "UID=u;PWD=***"},
        {"UID=u;Password='never;Server=db1", "UID=u;Password=***"},
        // A driver without quotes reads a password inside a quoted value; one with them reads it inside a password.
        {"Server=\"db1;PWD=x\";UID=u", "Server=\"db1;PWD=***;UID=u"},
        {"Server=\"db1;PWD=x", "Server=\"db1;PWD=***"},
        {"PWD=\"a;PWD=b\";UID=u", "PWD=***;UID=u"},
        // FreeTDS: a braced value ends at "};" and a brace after a blank opens nothing.
        {"PWD={a}b;c};Server=db1", "PWD=***;Server=db1"},
        {"PWD={a}b;Server=db1", "PWD=***"},
        {"Server= {a;PWD=b};UID=u", "Server= {a;PWD=***;UID=u"},
        {"Server=db1;Pwd={x}", "Server=db1;Pwd=***"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(redactConnectionString(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

// Whatever encloses a password, escaped as a driver would want or never closed, none of its letters is shown.
TEST(ConnectionStringRedaction, NoLetterOfAnEnclosedPasswordIsShown)
{
    const QStringList inner{"Qz;Zq", "Q}Z", "Q}Z;Z", "Q\"Z", "Q\";Z", "Q'Z", "Q{Z", "Q=Z;PWD=Z", "Q;Server=Z"};
    const struct {
        QString open;
        QString close;
    } enclosures[] = {{"{", "}"}, {"\"", "\""}, {"'", "'"}};
    int tried = 0;
    for (const QString& secret : inner) {
        for (const auto& e : enclosures) {
            const QString escaped = QString(secret).replace(e.close, e.close + e.close);
            for (const QString& value : {e.open + escaped + e.close, e.open + escaped}) {
                for (const QString key : {"PWD=", "password = "}) {
                    for (const QString tail : {"", ";Server=db1", ";TDS_Version=7.4"}) {
                        const QString cs = "Driver=FreeTDS;UID=u;" + key + value + tail;
                        const QString out = redactConnectionString(cs);
                        EXPECT_TRUE(out.startsWith("Driver=FreeTDS;UID=u;" + key.trimmed() + "***")) << cs.toStdString() << "\n"
                                                                                                     << out.toStdString();
                        EXPECT_FALSE(out.contains('Q', Qt::CaseInsensitive) || out.contains('Z', Qt::CaseInsensitive))
                            << cs.toStdString() << "\n"
                            << out.toStdString();
                        ++tried;
                    }
                }
            }
        }
    }
    EXPECT_EQ(tried, 9 * 3 * 2 * 2 * 3);
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
        // A quoted password as written, with its quotes taken off, or as a driver without quotes reads it.
        {"UID=u;PWD=\"Quo;ted5\";TDS_Version=7.4", "Can't use UID=u;PWD=\"Quo;ted5\";TDS_Version=7.4 now",
         "Can't use UID=u;PWD=***;TDS_Version=7.4 now"},
        {"UID=u;PWD=\"Quo;ted5\";TDS_Version=7.4", "login failed (pwd = Quo;ted5)", "login failed (pwd = ***)"},
        {"UID=u;PWD=\"Quo;ted5\";TDS_Version=7.4", "PWD=\"Quo rejected", "PWD=*** rejected"},
        {"UID=u;PWD=\"a\"\"b\"", "login failed (pwd = a\"b)", "login failed (pwd = ***)"},
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
