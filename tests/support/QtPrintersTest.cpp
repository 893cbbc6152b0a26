// Failures show Qt's strings as text: the printers reach every test source without an include of their own.
#include <gtest/gtest.h>

#include <QStringList>

TEST(QtPrinters, StringsPrintAsTheirText)
{
    EXPECT_EQ(testing::PrintToString(QStringLiteral("Größe \"1\"\t\\\n\x01")), "\"Größe \\\"1\\\"\\t\\\\\\n\\x01\"");
    EXPECT_EQ(testing::PrintToString(QString()), "\"\"");
    EXPECT_EQ(testing::PrintToString(QStringList{QStringLiteral("dc01"), QString()}), "{ \"dc01\", \"\" }");
    EXPECT_EQ(testing::PrintToString(QStringList()), "{}");
}
