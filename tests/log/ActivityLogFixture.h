#pragma once
// The fixture of the activity log's suites: a log of a fixed clock in a folder of its own.
#include "log/ActivityLog.h"
#include "support/doubles/TestDoubles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fw::test {

class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }

    // A folder with a space and a letter outside ASCII, as a user's own folders are named.
    QString logsDir() const { return QDir(dir.path()).filePath(QStringLiteral("Zo\u00eb/Velmora Daten/logs")); }

    void open()
    {
        path = log.GenerateNewLogFileName();
        log.OpenLogFile(path, header);
    }

    QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void touch(const QString& name, const QDateTime& modified)
    {
        QDir().mkpath(logsDir());
        QFile f(QDir(logsDir()).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    QTemporaryDir dir;
    FixedClock clock{QDateTime(QDate(2026, 12, 5), QTime(18, 44, 43))};
    qint16 trace = 0;
    const LogHeader header{"1.0.22", "4.0(3.100)", "admin", "CORP"};
    // What opening a file writes first: eight lines between two rules.
    const QByteArray headerText = QByteArray(64, '=') +
                                  "\r\n"
                                  "Running FerrowindSettingsTool, version 1.0.22\r\n"
                                  "\r\n"
                                  "Local Velmora version=4.0(3.100)\r\n"
                                  "Running under acciont: admin\\CORP\r\n"
                                  "Local time=5 Dec 2026 18:44:43\r\n"
                                  "\r\n" +
                                  QByteArray(64, '=') + "\r\n";
    ActivityLog log{clock, "FerrowindSettingsTool", logsDir(), [this] { return trace; }};
    QString path;
};

} // namespace fw::test
