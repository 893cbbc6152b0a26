#pragma once
#include "context/AppContext.h"

#include <QHostAddress>
#include <functional>

namespace fw {

// What differs per platform when the system context is built (app/linux, app/windows).

// The registry, shell, workstation facts, locator and directory of this platform. `registryFile` is the
// FERROWIND_REGISTRY file, empty when none is named.
void addPlatformSeams(AppSeams& s, const QString& registryFile);
// A locator and a directory of this platform that take `primaryDomain` for the computer's domain and connect from
// `source` (null: the system's choice), in place of those `s` has.
void replaceDirectorySeams(AppSeams& s, std::function<QString()> primaryDomain, const QHostAddress& source);
// The registry file read when FERROWIND_REGISTRY is unset; empty where the system's own registry is read instead.
QString defaultRegistryFile();
// What the help says is read when FERROWIND_REGISTRY is unset.
QString registryWhenUnset();
// Why the desktop tool cannot show a window here (no display named); empty when it can.
QString noDisplayReason();

} // namespace fw
