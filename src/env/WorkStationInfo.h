#pragma once
#include "platform/WorkstationSource.h"

namespace fw {

// Facts about the local computer and the logged-on user. Empty until Refresh has filled them;
// on an unsupported platform they stay empty.
class WorkStationInfo {
public:
    explicit WorkStationInfo(const WorkstationSource& source);

    const QString& ComputerName() const { return m_computer.computerName; }
    const QString& Domain() const { return m_computer.domain; }
    const QString& LanRoot() const { return m_computer.lanRoot; }
    qint32 LoggedOnUsers() const { return m_computer.loggedOnUsers; }
    qint32 PlatformId() const { return m_computer.platformId; }
    qint32 VerMajor() const { return m_computer.verMajor; }
    qint32 VerMinor() const { return m_computer.verMinor; }
    const QString& LogonDomain() const { return m_user.logonDomain; }
    const QString& LogonServer() const { return m_user.logonServer; }
    const QString& OtherDomains() const { return m_user.otherDomains; }
    const QString& UserName() const { return m_user.userName; }

    // Queries both records again; a failing query leaves its members as they were.
    void Refresh();

private:
    const WorkstationSource& m_source;
    bool m_supported = false;
    ComputerFacts m_computer;
    UserFacts m_user;
};

} // namespace fw
