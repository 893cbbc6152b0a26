#pragma once
#include <QString>
#include <optional>

namespace fw {

// Facts about the local computer (the workstation service's level 102 record).
struct ComputerFacts {
    QString computerName;
    QString domain; // the joined domain or realm, else the workgroup or DNS domain
    QString lanRoot;
    qint32 loggedOnUsers = 0;
    qint32 platformId = 0;
    qint32 verMajor = 0;
    qint32 verMinor = 0;
};

// Facts about the logged-on user (level 1 record).
struct UserFacts {
    QString userName;
    QString logonDomain;
    QString otherDomains;
    QString logonServer;
};

// Where WorkStationInfo gets its facts. Each query may fail on its own.
class WorkstationSource {
public:
    virtual ~WorkstationSource() = default;
    // Whether the system is one the workstation queries work on (the NT family on Windows).
    virtual bool isSupportedPlatform() const = 0;
    virtual std::optional<ComputerFacts> queryComputer() const = 0;
    virtual std::optional<UserFacts> queryUser() const = 0;
};

// The platform's own source is in platform/linux (LinuxWorkstationSource) and platform/windows
// (WindowsWorkstationSource).

} // namespace fw
