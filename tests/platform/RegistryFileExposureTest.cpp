#include "platform/RegistryFileExposure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {

QByteArray utf16le(const QString& text, bool bom = true)
{
    QByteArray out = bom ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

} // namespace

TEST(RegistryFileExposure, WhatCountsAsAPassword)
{
    const struct {
        QByteArray contents;
        bool password;
    } cases[] = {
        {R"("ConnectionString"="Driver={FreeTDS};Server=db;UID=velmora;PWD=s3cret")", true},
        {R"("ConnectionString"="PWD=s3cret;Driver={FreeTDS}")", true},
        {R"("ConnectionString"="Driver={FreeTDS};pwd = {a;b}")", true},
        {"; \"ConnectionString\"=\"Driver={FreeTDS};PWD=old\"\r\n", true}, // a commented-out password is still there
        {R"("ConnectionString"="Driver={FreeTDS};Server=db;Password=s3cret")", true},
        {R"("ConnectionString"="Driver={FreeTDS};Server=db;Trusted_Connection=yes")", false},
        {R"("ConnectionString"="Driver={FreeTDS};UID=velmora;PWD=;")", false},
        {R"("ConnectionString"="Driver={FreeTDS};UID=NOPWD")", false},
        {R"("ConnectionString"="sqlite:/var/lib/velmora/VelmoraDb.sqlite")", false},
        {utf16le(R"("ConnectionString"="Driver={FreeTDS};PWD=s3cret")"), true},
        {utf16le(R"("ConnectionString"="Driver={FreeTDS};Server=db")"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(holdsDatabasePassword(c.contents), c.password) << c.contents.toStdString();
}
