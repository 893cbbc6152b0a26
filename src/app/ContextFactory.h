#pragma once
#include "context/AppContext.h"

#include <memory>

namespace fw {

// The registry file: $FERROWIND_REGISTRY, else /etc/ferrowind/velmora.reg on Linux; empty on Windows, where the
// system's registry is read unless FERROWIND_REGISTRY names a file.
QString registryFilePath();
// What keeps that file from being read (RegFileStore::problemWith); empty when it reads or there is none to read.
QString registryFileProblem(const QString& path);

// Builds the context with the real operating-system services. The desktop tool passes its message-box
// prompter and painting sleeper; the command line its own.
std::unique_ptr<AppContext> makeSystemContext(const QString& programName, const QString& programFolder,
                                              std::unique_ptr<Prompter> prompter, std::unique_ptr<Sleeper> sleeper,
                                              std::unique_ptr<DebugChannel> debug = nullptr);

} // namespace fw
