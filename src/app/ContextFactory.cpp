#include "app/ContextFactory.h"

#include "db/Database.h"
#include "directory/ConnectorControl.h"
#include "directory/LdapDirectory.h"
#include "directory/LinuxDcLocator.h"
#include "platform/Clock.h"
#include "platform/DebugChannel.h"
#include "platform/EventLoop.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "platform/Shell.h"
#include "platform/Sleeper.h"
#include "platform/WorkstationSource.h"
#include "support/HttpClient.h"

namespace fw {

QString registryFilePath()
{
    const QString env = qEnvironmentVariable("FERROWIND_REGISTRY");
    return env.isEmpty() ? QStringLiteral("/etc/ferrowind/velmora.reg") : env;
}

std::unique_ptr<AppContext> makeSystemContext(const QString& programName, const QString& programFolder,
                                              std::unique_ptr<Prompter> prompter, std::unique_ptr<Sleeper> sleeper,
                                              std::unique_ptr<DebugChannel> debug)
{
    AppSeams s;
    s.debug = debug ? std::move(debug) : std::make_unique<StderrDebugChannel>();
    // Decided here, where the debugger channel can say so, before any database is opened.
    Database::sqliteLockWaitsShared(s.debug.get());
    s.registry = std::make_unique<RegFileStore>(registryFilePath(), s.debug.get());
    s.prompter = std::move(prompter);
    s.clock = std::make_unique<SystemClock>();
    s.sleeper = std::move(sleeper);
    s.shell = std::make_unique<DesktopShell>();
    s.workstation = std::make_unique<LinuxWorkstationSource>();
    s.eventLoop = std::make_unique<QtEventLoop>();
    s.http = std::make_shared<NetworkHttpClient>();
    // The domain this computer belongs to, for lookups that name none.
    auto primaryDomain = [ws = std::make_shared<LinuxWorkstationSource>()] {
        const auto c = ws->queryComputer();
        return c ? c->domain : QString();
    };
    s.locator = std::make_shared<LinuxDcLocator>(LocatorOptions{}, primaryDomain);
    s.directory = std::make_shared<LdapDirectory>(DirectoryOptions{}, s.locator, primaryDomain);
    s.connector = std::make_shared<CommandConnectorControl>(*s.registry);
    return std::make_unique<AppContext>(std::move(s), programName, programFolder);
}

} // namespace fw
