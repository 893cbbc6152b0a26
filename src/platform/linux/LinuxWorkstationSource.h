#pragma once
#include "platform/WorkstationSource.h"

namespace fw {

// Linux: host name; the realm the machine is joined to (sssd, Samba's smb.conf or Kerberos' default realm),
// else Samba's workgroup, else the DNS domain; the user from the password database.
class LinuxWorkstationSource final : public WorkstationSource {
public:
    // `root` lets tests point the configuration files at a folder of their own.
    explicit LinuxWorkstationSource(QString root = QStringLiteral("/"));
    bool isSupportedPlatform() const override { return true; }
    std::optional<ComputerFacts> queryComputer() const override;
    std::optional<UserFacts> queryUser() const override;

    // Exposed for tests: the joined domain from the configuration files below root.
    QString joinedDomain() const;

private:
    QString file(const QString& rel) const;
    QString m_root;
};

} // namespace fw
