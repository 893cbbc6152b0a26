#pragma once
#include "directory/Directory.h"

#include <QHostAddress>
#include <functional>
#include <memory>

namespace fw {

class DcLocatorBackend;

struct DirectoryOptions {
    QHostAddress sourceAddress; // local address to connect from; null: the system's choice
    bool useKerberos = true;    // SASL GSSAPI when the user holds a ticket
    // Ports to use instead of the ones a path names (a directory peer on non-standard ports); 0: as named.
    quint16 ldapPort = 0;
    quint16 gcPort = 0;
};

// OpenLDAP: SASL GSSAPI with the user's Kerberos ticket, else an anonymous rootDSE read.
class LdapDirectory final : public Directory {
public:
    LdapDirectory(DirectoryOptions options, std::shared_ptr<DcLocatorBackend> locator, std::function<QString()> primaryDomain);

    Result<RootDse> bind(const QString& adsPath, const Deadline& deadline) override;
    Result<QString> siteOfServer(const QString& server, const Deadline& deadline) override;
    Result<QString> siteOfComputer(const QString& computerName, const Deadline& deadline) override;

    DirectoryOptions& options() { return m_options; }

    struct Path {
        bool valid = false;
        bool gc = false;
        QString server;
        quint16 port = 0;
    };
    // "LDAP://server:389" -> {server, 389}; "GC://server" -> {server, 3268}. Valid only with a DNS host
    // name or an IP address as the server and nothing after the port.
    static Path parsePath(const QString& adsPath);

private:
    DirectoryOptions m_options;
    std::shared_ptr<DcLocatorBackend> m_locator;
    std::function<QString()> m_primaryDomain;
};

} // namespace fw
