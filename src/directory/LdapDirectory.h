#pragma once
#include "directory/Directory.h"

#include <QHostAddress>
#include <functional>
#include <memory>

namespace fw {

class DcLocatorBackend;

struct DirectoryOptions {
    QHostAddress sourceAddress; // local address to connect from; null: the system's choice
    int timeoutMs = 5000;       // one whole bind: name lookup, connect, authentication and rootDSE read
    bool useKerberos = true;    // SASL GSSAPI when the user holds a ticket
};

// OpenLDAP: SASL GSSAPI with the user's Kerberos ticket, else an anonymous rootDSE read.
class LdapDirectory final : public Directory {
public:
    LdapDirectory(DirectoryOptions options, std::shared_ptr<DcLocatorBackend> locator, std::function<QString()> primaryDomain);

    BindResult bind(const QString& adsPath) override;
    QString siteOfServer(const QString& server) override;
    QString siteOfComputer(const QString& computerName) override;

    DirectoryOptions& options() { return m_options; }

    struct Path {
        bool valid = false;
        bool gc = false;
        QString server;
        quint16 port = 0;
    };
    // "LDAP://server:389" -> {server, 389}; "GC://server" -> {server, 3268}.
    static Path parsePath(const QString& adsPath);

private:
    DirectoryOptions m_options;
    std::shared_ptr<DcLocatorBackend> m_locator;
    std::function<QString()> m_primaryDomain;
};

} // namespace fw
