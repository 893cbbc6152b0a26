#pragma once
#include <QFile>
#include <QString>
#include <functional>

namespace fw {

class Clock;

// What the log header names.
struct LogHeader {
    QString programVersion;      // the tool's own major.minor.revision
    QString localVelmoraVersion; // the installed product's version text
    QString userName;
    QString domain;
};

// The plain-text activity log: one file per load of the main window, kept open and appended to,
// in a logs folder where this program's own log files older than 30 days are removed whenever a new log starts
// (regular files under one name: a link is never followed nor removed).
// Each log gets a file of its own, created exclusively: a name already taken (another run in the same second)
// gets a suffix, "_2", "_3"... A log that cannot be written is said, once, through failure() and the sink.
class ActivityLog {
public:
    // programName is the file-name stem ("FerrowindSettingsTool"); traceSetting gives the trace switch.
    ActivityLog(const Clock& clock, QString programName, QString logsDir, std::function<qint16()> traceSetting);
    ~ActivityLog();

    QString GenerateNewLogFileName();
    void OpenLogFile(const QString& path, const LogHeader& header);
    void WriteLog(const QString& message, bool timeStamp);
    void WriteTraceLog(const QString& message, bool timeStamp);
    void FlushLogFile();
    void CloseLogFile();
    void DeleteOldLogFiles();

    const QString& logPath() const { return m_path; }
    const QString& logsDir() const { return m_logsDir; }
    const QString& programName() const { return m_programName; }
    bool isOpen() const { return m_file.isOpen(); }
    // Why the current log could not be (wholly) written: "PATH: reason"; empty while it is being written.
    const QString& failure() const { return m_failure; }
    // Told the failure once per log, when it happens.
    void setFailureSink(std::function<void(const QString&)> sink) { m_failureSink = std::move(sink); }
    // A name this program gives its log files, suffixed or not; the clean-up touches nothing else.
    bool isOwnLogFileName(const QString& fileName) const;

    // What the choice of the logs folder depends on: where the program runs from and who runs it. Each platform
    // reads the fields it knows (log/linux, log/windows).
    struct Place {
        QString programFolder;
        QString xdgStateHome; // Linux: as the environment has it; empty or relative counts as unset
        QString home;         // Linux
        bool root = false;    // Linux
        QString localAppData; // Windows: %LOCALAPPDATA%
        static Place ofThisProcess(const QString& programFolder);
    };
    // The logs folder: `logs` beside a program that is not installed when that can be written (on Windows,
    // wherever the program is); else on Linux $XDG_STATE_HOME/ferrowind/logs when it is set, /var/log/ferrowind
    // for root, ~/.local/state/ferrowind/logs, and on Windows %LOCALAPPDATA%\Ferrowind\logs.
    // Empty when there is none (no usable XDG_STATE_HOME and no home folder; no %LOCALAPPDATA%).
    static QString chooseLogsDir(const Place& place);
    static QString chooseLogsDir(const QString& programFolder) { return chooseLogsDir(Place::ofThisProcess(programFolder)); }

    static constexpr int kMaxAgeDays = 30;
    static constexpr int kMaxNamesPerSecond = 1000;

private:
    void writeRaw(const QString& line);
    void fail(const QString& why);

    const Clock& m_clock;
    QString m_programName;
    QString m_logsDir;
    std::function<qint16()> m_trace;
    QString m_path;
    QFile m_file;
    QString m_reserved; // the file GenerateNewLogFileName created for the next OpenLogFile
    QString m_failure;
    std::function<void(const QString&)> m_failureSink;
};

} // namespace fw
