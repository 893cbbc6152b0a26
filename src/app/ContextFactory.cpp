#include "app/ContextFactory.h"

#include "app/PlatformSeams.h"
#include "db/Database.h"
#include "directory/ConnectorControl.h"
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
    return env.isEmpty() ? defaultRegistryFile() : env;
}

QString registryFileProblem(const QString& path)
{
    return path.isEmpty() ? QString() : RegFileStore::problemWith(path);
}

std::unique_ptr<AppContext> makeSystemContext(const QString& programName, const QString& programFolder,
                                              std::unique_ptr<Prompter> prompter, std::unique_ptr<Sleeper> sleeper,
                                              std::unique_ptr<DebugChannel> debug)
{
    AppSeams s;
    s.debug = debug ? std::move(debug) : std::make_unique<StderrDebugChannel>();
    // Decided here, where the debugger channel can say so, before any database is opened.
    Database::sqliteLockWaitsShared(s.debug.get());
    addPlatformSeams(s, registryFilePath());
    s.prompter = std::move(prompter);
    s.clock = std::make_unique<SystemClock>();
    s.sleeper = std::move(sleeper);
    s.eventLoop = std::make_unique<QtEventLoop>();
    s.http = std::make_shared<NetworkHttpClient>();
    s.connector = std::make_shared<CommandConnectorControl>(*s.registry);
    return std::make_unique<AppContext>(std::move(s), programName, programFolder);
}

} // namespace fw
