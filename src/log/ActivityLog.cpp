#include "log/ActivityLog.h"

#include "env/InstallLayout.h"
#include "log/DateFormat.h"
#include "platform/Clock.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <unistd.h>

namespace fw {

namespace {
const QString kSeparator = QString(64, QLatin1Char('='));
const QString kCrLf = QStringLiteral("\r\n");

bool canWriteInto(const QString& dir)
{
    QDir d(dir);
    if (!d.exists())
        return false;
    QTemporaryFile probe(d.filePath(QStringLiteral(".write-probe-XXXXXX")));
    return probe.open();
}
} // namespace

ActivityLog::ActivityLog(const Clock& clock, QString programName, QString logsDir, std::function<qint16()> traceSetting)
    : m_clock(clock), m_programName(std::move(programName)), m_logsDir(std::move(logsDir)), m_trace(std::move(traceSetting))
{
}

ActivityLog::~ActivityLog()
{
    CloseLogFile();
}

ActivityLog::Place ActivityLog::Place::ofThisProcess(const QString& programFolder)
{
    return {programFolder, qEnvironmentVariable("XDG_STATE_HOME"), QDir::homePath(), ::geteuid() == 0};
}

QString ActivityLog::chooseLogsDir(const Place& place)
{
    if (!isInstalledProgramFolder(place.programFolder)) {
        const QString beside = QDir(place.programFolder).filePath(QStringLiteral("logs"));
        if (canWriteInto(beside) || (!QFileInfo::exists(beside) && canWriteInto(place.programFolder)))
            return beside;
    }
    if (!place.xdgStateHome.isEmpty() && QDir::isAbsolutePath(place.xdgStateHome))
        return QDir(place.xdgStateHome).filePath(QStringLiteral("ferrowind/logs"));
    if (place.root)
        return QStringLiteral("/var/log/ferrowind");
    return QDir(place.home).filePath(QStringLiteral(".local/state/ferrowind/logs"));
}

QString ActivityLog::GenerateNewLogFileName()
{
    const QString stamp = m_clock.now().toString(QStringLiteral("yyMMdd_HH_mm_ss"));
    const QString name = m_programName + QStringLiteral("_Log_") + stamp + QStringLiteral(".TXT");
    QDir().mkpath(m_logsDir);
    DeleteOldLogFiles();
    m_path = QDir(m_logsDir).filePath(name);
    return m_path;
}

void ActivityLog::DeleteOldLogFiles()
{
    QDir dir(m_logsDir);
    if (!dir.exists())
        return;
    const QDate today = m_clock.now().date();
    const auto entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& fi : entries) {
        const QDateTime modified = fi.lastModified();
        if (!modified.isValid())
            continue;
        if (modified.date().daysTo(today) <= kMaxAgeDays)
            continue;
        // The log of this very run is never removed, whatever its date says.
        if (fi.absoluteFilePath() == QFileInfo(m_file.fileName()).absoluteFilePath() && m_file.isOpen())
            continue;
        QFile f(fi.absoluteFilePath());
        f.setPermissions(f.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
        f.remove(); // a file that cannot be removed is skipped silently
    }
}

void ActivityLog::OpenLogFile(const QString& path, const LogHeader& header)
{
    m_path = path;
    CloseLogFile();
    const QString abs = QFileInfo(path).absoluteFilePath();
    // A file left by another run under this name is replaced; one this run wrote (a reload within the
    // same second) is kept and appended to, so no line of this run is lost.
    if (QFileInfo::exists(path) && !m_writtenThisRun.contains(abs)) {
        QFile old(path);
        old.setPermissions(old.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
        old.remove();
    }
    m_file.setFileName(path);
    // A log records every settings change: readable by its owner and group (adm in /var/log/ferrowind) only.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup))
        return;
    m_writtenThisRun.insert(abs);

    WriteLog(kSeparator, false);
    WriteLog(QStringLiteral("Running ") + m_programName + QStringLiteral(", version ") + header.programVersion + kCrLf, false);
    WriteLog(QStringLiteral("Local Velmora version=") + header.localVelmoraVersion, false);
    WriteLog(QStringLiteral("Running under acciont: ") + header.userName + QLatin1Char('\\') + header.domain, false);
    WriteLog(QStringLiteral("Local time=") + generalDate(m_clock.now()), false);
    WriteLog(kCrLf + kSeparator, false);
}

void ActivityLog::writeRaw(const QString& line)
{
    if (!m_file.isOpen())
        return;
    m_file.write((line + kCrLf).toLocal8Bit());
    // Each line reaches the operating system at once, so a crash loses nothing already logged.
    m_file.flush();
}

void ActivityLog::WriteLog(const QString& message, bool timeStamp)
{
    if (timeStamp)
        writeRaw(generalDate(m_clock.now()) + QStringLiteral(": ") + message);
    else
        writeRaw(message);
}

void ActivityLog::WriteTraceLog(const QString& message, bool timeStamp)
{
    if (m_trace && m_trace() > 0)
        WriteLog(message, timeStamp);
}

void ActivityLog::FlushLogFile()
{
    if (!m_file.isOpen())
        return;
    m_file.close();
    m_file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void ActivityLog::CloseLogFile()
{
    if (m_file.isOpen())
        m_file.close();
}

} // namespace fw
