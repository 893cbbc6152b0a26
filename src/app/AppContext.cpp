#include "app/AppContext.h"

#include "env/WorkStationInfo.h"
#include "log/ActivityLog.h"
#include "platform/Clock.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "platform/Shell.h"
#include "platform/Sleeper.h"
#include "platform/WorkstationSource.h"

namespace fw {

AppContext::AppContext(AppSeams seams, QString programName, QString programFolder, QString logsDir)
    : m_seams(std::move(seams)), m_programName(std::move(programName)), m_programFolder(std::move(programFolder))
{
    if (!m_seams.debug)
        m_seams.debug = std::make_unique<StderrDebugChannel>();
    if (!m_seams.registry)
        m_seams.registry = std::make_unique<MemoryRegistryStore>();
    if (!m_seams.prompter)
        m_seams.prompter = std::make_unique<ScriptedPrompter>();
    m_seams.prompter->setEcho(m_seams.debug.get());
    if (!m_seams.clock)
        m_seams.clock = std::make_unique<SystemClock>();
    if (!m_seams.sleeper)
        m_seams.sleeper = std::make_unique<ThreadSleeper>();
    if (!m_seams.shell)
        m_seams.shell = std::make_unique<DesktopShell>();
    if (!m_seams.workstation)
        m_seams.workstation = std::make_unique<LinuxWorkstationSource>();
    if (logsDir.isEmpty())
        logsDir = ActivityLog::chooseLogsDir(m_programFolder);
    m_log = std::make_unique<ActivityLog>(*m_seams.clock, m_programName, logsDir, [this] { return traceSetting; });
}

AppContext::~AppContext() = default;

WorkStationInfo& AppContext::workstation()
{
    if (!m_workstation)
        m_workstation = std::make_unique<WorkStationInfo>(*m_seams.workstation);
    return *m_workstation;
}

QString AppContext::programVersion()
{
    return QStringLiteral("%1.%2.%3").arg(FERROWIND_VERSION_MAJOR).arg(FERROWIND_VERSION_MINOR).arg(FERROWIND_VERSION_PATCH);
}

} // namespace fw
