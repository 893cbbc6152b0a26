#include "context/AppContext.h"

#include "context/ProgramEnd.h"
#include "db/DatabaseSession.h"
#include "env/WorkStationInfo.h"
#include "log/ActivityLog.h"
#include "platform/Clock.h"
#include "platform/DebugChannel.h"
#include "platform/EventLoop.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "platform/Shell.h"
#include "platform/Sleeper.h"
#include "platform/WorkstationSource.h"

#include <stdexcept>
#include <string>

namespace fw {

namespace {

// A missing seam is a wiring fault of the caller, never replaced by a stand-in.
template <typename T>
void require(const T& seam, const char* name)
{
    if (!seam)
        throw std::invalid_argument(std::string("AppContext: the ") + name + " seam is missing");
}

} // namespace

AppContext::AppContext(AppSeams seams, QString programName, QString programFolder, QString logsDir)
    : m_seams(std::move(seams)), m_programName(std::move(programName)), m_programFolder(std::move(programFolder))
{
    require(m_seams.registry, "registry");
    require(m_seams.debug, "debug channel");
    require(m_seams.prompter, "prompter");
    require(m_seams.clock, "clock");
    require(m_seams.sleeper, "sleeper");
    require(m_seams.shell, "shell");
    require(m_seams.workstation, "workstation");
    require(m_seams.eventLoop, "event loop");
    m_seams.prompter->setEcho(m_seams.debug.get());
    if (logsDir.isEmpty())
        logsDir = ActivityLog::chooseLogsDir(m_programFolder);
    m_log = std::make_unique<ActivityLog>(*m_seams.clock, m_programName, logsDir, [this] { return traceSetting; });
    // Logging never stops the program, but a log that is not being written is never silent.
    m_log->setFailureSink(
        [this](const QString& why) { m_seams.debug->write(QStringLiteral("The activity log could not be written: ") + why); });
    m_programEnd = std::make_unique<ProgramEnd>(*m_seams.eventLoop);
    // After the end no message box may open: whatever still runs stays silent.
    m_seams.prompter->setSilencedWhen([end = m_programEnd.get()] { return end->requested(); });
}

AppContext::~AppContext() = default;

WorkStationInfo& AppContext::workstation()
{
    if (!m_workstation)
        m_workstation = std::make_unique<WorkStationInfo>(*m_seams.workstation);
    return *m_workstation;
}

DatabaseSession& AppContext::databaseSession()
{
    if (!m_databaseSession)
        m_databaseSession = std::make_unique<DatabaseSession>();
    return *m_databaseSession;
}

QString AppContext::programVersion()
{
    return QStringLiteral("%1.%2.%3").arg(FERROWIND_VERSION_MAJOR).arg(FERROWIND_VERSION_MINOR).arg(FERROWIND_VERSION_PATCH);
}

} // namespace fw
