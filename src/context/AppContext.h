#pragma once
#include "env/VelmoraVersion.h"

#include <QString>
#include <memory>

namespace fw {

class ActivityLog;
class Clock;
class DatabaseSession;
class DebugChannel;
class EventLoop;
class ProgramEnd;
class Prompter;
class RegistryStore;
class Shell;
class Sleeper;
class WorkStationInfo;
class WorkstationSource;
// Seams of the directory, reconnect, update and language services; their subsystems define them.
class ConnectorControl;
class DcLocatorBackend;
class Directory;
class HttpClient;
class LanguageState;

// The operating-system services the program uses, each replaceable by tests. The first eight are required:
// AppContext refuses to start without one. The shared ones may be absent where a system lacks the service;
// their users say so.
struct AppSeams {
    std::unique_ptr<RegistryStore> registry;
    std::unique_ptr<DebugChannel> debug;
    std::unique_ptr<Prompter> prompter;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Sleeper> sleeper;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<WorkstationSource> workstation;
    std::unique_ptr<EventLoop> eventLoop;
    std::shared_ptr<Directory> directory;
    std::shared_ptr<DcLocatorBackend> locator;
    std::shared_ptr<ConnectorControl> connector;
    std::shared_ptr<HttpClient> http;
};

// The program-wide values and the seams. Created once by main() (or a test) and handed to every
// window and command by reference; nothing else in the program is global.
class AppContext {
public:
    // Throws std::invalid_argument when a required seam is missing.
    AppContext(AppSeams seams, QString programName, QString programFolder, QString logsDir = QString());
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    RegistryStore& registry() const { return *m_seams.registry; }
    DebugChannel& debug() const { return *m_seams.debug; }
    Prompter& prompter() const { return *m_seams.prompter; }
    const Clock& clock() const { return *m_seams.clock; }
    Sleeper& sleeper() const { return *m_seams.sleeper; }
    Shell& shell() const { return *m_seams.shell; }
    AppSeams& seams() { return m_seams; }

    ActivityLog& log() const { return *m_log; }
    // Where every window and page asks for the end of the program.
    ProgramEnd& programEnd() const { return *m_programEnd; }
    // The one workstation information object, created on first use.
    WorkStationInfo& workstation();
    // The connection the windows or the command keep to the database (see DatabaseSession). Used on one thread: the
    // one that first opened it (a window's, a command's, or serve-metrics' reader); work on another thread opens its
    // own connection.
    DatabaseSession& databaseSession();

    const QString& programName() const { return m_programName; }
    const QString& programFolder() const { return m_programFolder; }
    // The tool's own version, major.minor.revision.
    static QString programVersion();
    // The git commit the program was built from, or "unknown" (written at build time by cmake/Revision.cmake).
    static QString sourceRevision();

    // Values the start-up sequence sets and the windows share.
    VersionInfo localVersion;
    QString connectionString;
    qint16 traceSetting = 0;
    qint16 dcSafetyFactor = 0; // DistinctDCIncAndIntervalSafetyFactor
    qint16 gcSafetyFactor = 0; // DistinctGCIncAndIntervalSafetyFactor
    qint64 lastDCSyncId = 0;   // the ids are stored as floating-point numbers: they outgrow 32 bits
    qint64 lastGCSyncId = 0;
    std::shared_ptr<LanguageState> language;

private:
    AppSeams m_seams;
    QString m_programName;
    QString m_programFolder;
    std::unique_ptr<ActivityLog> m_log;
    std::unique_ptr<ProgramEnd> m_programEnd;
    std::unique_ptr<WorkStationInfo> m_workstation;
    std::unique_ptr<DatabaseSession> m_databaseSession;
};

} // namespace fw
