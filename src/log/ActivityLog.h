#pragma once
#include <QFile>
#include <QSet>
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
// in a logs folder where files older than 30 days are removed whenever a new log starts.
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

    // What the choice of the logs folder depends on: where the program runs from and who runs it.
    struct Place {
        QString programFolder;
        QString xdgStateHome; // as the environment has it; empty or relative counts as unset
        QString home;
        bool root = false;
        static Place ofThisProcess(const QString& programFolder);
    };
    // The logs folder: `logs` beside a program that is not installed when that can be written; else
    // $XDG_STATE_HOME/ferrowind/logs when it is set, /var/log/ferrowind for root, ~/.local/state/ferrowind/logs.
    static QString chooseLogsDir(const Place& place);
    static QString chooseLogsDir(const QString& programFolder) { return chooseLogsDir(Place::ofThisProcess(programFolder)); }

    static constexpr int kMaxAgeDays = 30;

private:
    void writeRaw(const QString& line);

    const Clock& m_clock;
    QString m_programName;
    QString m_logsDir;
    std::function<qint16()> m_trace;
    QString m_path;
    QFile m_file;
    QSet<QString> m_writtenThisRun;
};

} // namespace fw
