#pragma once
#include <QString>

namespace fw {

// An installed program lives under /usr. It never writes into its installation folders; a program run from
// anywhere else (a build tree, a copied folder) may keep its logs beside the executable.
bool isInstalledProgramFolder(const QString& programFolder);

// The read-only data of an installation (help page, language libraries): share/ferrowind beside the bin
// folder the executable is in.
QString installedDataFolder(const QString& programFolder);

} // namespace fw
