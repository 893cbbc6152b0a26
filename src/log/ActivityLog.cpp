#include "log/ActivityLog.h"

#include "log/DateFormat.h"
#include "platform/Clock.h"
#include "platform/FolderEntry.h"
#include "platform/WriteAll.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fw {

namespace {
const QString kSeparator = QString(64, QLatin1Char('='));
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

ActivityLog::ActivityLog(const Clock& clock, QString programName, QString logsDir, std::function<qint16()> traceSetting)
    : m_clock(clock), m_programName(std::move(programName)), m_logsDir(std::move(logsDir)), m_trace(std::move(traceSetting))
{
}

ActivityLog::~ActivityLog()
{
    CloseLogFile();
}

bool ActivityLog::isOwnLogFileName(const QString& fileName) const
{
    // Anchored at the name's very end: '$' would also match before a final line break.
    const QRegularExpression own(
        QRegularExpression::anchoredPattern(QStringLiteral("%1_Log_\\d{6}_\\d{2}_\\d{2}_\\d{2}(_[1-9]\\d{0,8})?\\.TXT")
                                                .arg(QRegularExpression::escape(m_programName))));
    return own.match(fileName).hasMatch();
}

void ActivityLog::fail(const QString& why)
{
    if (!m_failure.isEmpty())
        return;
    m_failure = why;
    if (m_failureSink)
        m_failureSink(why);
}

QString ActivityLog::GenerateNewLogFileName()
{
    // The previous log ends here; whatever befalls it is said before the new one starts.
    CloseLogFile();
    m_failure.clear();
    m_reserved.clear();
    m_path.clear();
    if (m_logsDir.isEmpty()) {
        fail(QStringLiteral("there is no folder for it: neither XDG_STATE_HOME nor HOME names one"));
        return m_path;
    }
    std::error_code ec;
    std::filesystem::create_directories(QFile::encodeName(m_logsDir).toStdString(), ec);
    if (ec) {
        fail(m_logsDir + QStringLiteral(": ") + errorText(ec.value()));
        return m_path;
    }
    DeleteOldLogFiles();

    // The file is created here, exclusively, so that a run starting in the same second takes the next name
    // instead of this one; nobody else's log is replaced or shared.
    const QString stem = m_programName + QStringLiteral("_Log_") + m_clock.now().toString(QStringLiteral("yyMMdd_HH_mm_ss"));
    for (int n = 1; n <= kMaxNamesPerSecond; ++n) {
        const QString name = stem + (n > 1 ? QStringLiteral("_%1").arg(n) : QString()) + QStringLiteral(".TXT");
        m_path = QDir(m_logsDir).filePath(name);
        const int error = createNewFile(m_path);
        if (error == 0) {
            m_reserved = m_path;
            return m_path;
        }
        if (error != EEXIST) {
            fail(m_path + QStringLiteral(": ") + errorText(error));
            return m_path;
        }
    }
    fail(m_path + QStringLiteral(": every name for this second is taken"));
    return m_path;
}

void ActivityLog::DeleteOldLogFiles()
{
    QDir dir(m_logsDir);
    if (m_logsDir.isEmpty() || !dir.exists())
        return;
    const QDate today = m_clock.now().date();
    const QString current = m_file.isOpen() ? QFileInfo(m_file.fileName()).absoluteFilePath() : QString();
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        // The folder may be shared with other files (a program folder, a state folder): only logs go.
        if (!isOwnLogFileName(name))
            continue;
        const QString path = QFileInfo(dir.filePath(name)).absoluteFilePath();
        // Only a regular file under this one name can be a log this program wrote. A link, symbolic or hard, to a
        // file elsewhere is someone else's and stays as it is, and so does what it points to.
        const std::optional<FolderEntry> entry = examineEntry(path);
        if (!entry || !entry->regularFile || entry->names != 1 || !entry->modified.isValid())
            continue;
        if (entry->modified.date().daysTo(today) <= kMaxAgeDays)
            continue;
        // The log of this very run is never removed, whatever its date says.
        if (path == current)
            continue;
        removeEntry(path); // a file that cannot be removed is skipped silently
    }
}

void ActivityLog::OpenLogFile(const QString& path, const LogHeader& header)
{
    CloseLogFile();
    if (path != m_path)
        m_failure.clear();
    m_path = path;
    if (!m_failure.isEmpty())
        return; // GenerateNewLogFileName has said why
    if (path.isEmpty()) {
        fail(QStringLiteral("there is no file for it"));
        return;
    }
    // The file GenerateNewLogFileName made is this log's; any other existing file is someone else's and stays.
    const bool reserved = path == m_reserved;
    m_reserved.clear();
    m_file.setFileName(path);
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                     (reserved ? QIODevice::Append | QIODevice::ExistingOnly : QIODevice::NewOnly);
    if (!m_file.open(mode)) {
        fail(path + QStringLiteral(": ") + m_file.errorString());
        return;
    }

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
    const QByteArray bytes = (line + kCrLf).toLocal8Bit();
    // Each line reaches the operating system at once (the file is unbuffered), so a crash loses nothing already
    // logged. After a failed line nothing more is written: a log with a hole in it would mislead.
    if (const int error = writeAll(m_file.handle(), bytes.constData(), bytes.size())) {
        fail(m_path + QStringLiteral(": ") + errorText(error));
        m_file.close();
    }
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
    if (const int error = syncFile(m_file.handle()))
        fail(m_path + QStringLiteral(": ") + errorText(error));
    CloseLogFile();
    if (!m_failure.isEmpty())
        return;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::Append | QIODevice::ExistingOnly))
        fail(m_path + QStringLiteral(": ") + m_file.errorString());
}

void ActivityLog::CloseLogFile()
{
    if (!m_file.isOpen())
        return;
    m_file.close();
    if (m_file.error() != QFileDevice::NoError)
        fail(m_path + QStringLiteral(": ") + m_file.errorString());
}

} // namespace fw
