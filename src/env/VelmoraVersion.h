#pragma once
#include <QString>

namespace fw {

class RegistryStore;

// The installed product's version.
struct VersionInfo {
    qint16 Major = 0;
    qint16 Minor = 0;
    qint16 BuildMajor = 0;
    qint16 BuildMinor = 0;
    QString Text = QStringLiteral("0.0(0.0)");

    // Decodes the two registry numbers: version 0x00040000 is 4.0, build 0x00030064 is 3.100.
    static VersionInfo fromRegistryNumbers(qint32 versionNumber, qint32 buildNumber);
};

// Reads "Version Number" and "Build Number" under Software\Kestrelon\ (missing values count as 0).
VersionInfo getVersion(const RegistryStore& store);

// True when `local` is the same as or later than the given version, field by field.
bool bIsVersionGreaterThanOrEqualTo(const VersionInfo& local, qint16 major, qint16 minor, qint16 buildMajor, qint16 buildMinor);

// 8.0(0.85) or later: the Status tab and the V8 reconnect calls.
bool bIsVersion8OrLater(const VersionInfo& local);

} // namespace fw
