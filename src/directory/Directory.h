#pragma once
#include <QString>

#include "directory/Deadline.h"
#include "log/Result.h"

namespace fw {

// What a directory server's rootDSE says about it.
struct RootDse {
    QString dnsHostName;
    QString serverName; // DN of its server object, under its site
    QString defaultNamingContext;
    bool activeDirectory = false; // an AD domain controller (not a lightweight directory instance)
    bool globalCatalogReady = false;
    bool authenticated = false; // bound with the user's Kerberos ticket rather than anonymously
};

// Binding to domain controllers and global catalogs, and the site lookups of the server tests. Each call
// gives up at the deadline of the verdict it serves.
class Directory {
public:
    virtual ~Directory() = default;
    // "LDAP://server:389" or "GC://server:3268": its rootDSE when the server answered as a domain controller
    // (and, on a GC path, as a ready global catalog); else why not, for logs and the command line.
    virtual Result<RootDse> bind(const QString& adsPath, const Deadline& deadline) = 0;
    // The site of a domain controller; an error says why it cannot be found out.
    virtual Result<QString> siteOfServer(const QString& server, const Deadline& deadline) = 0;
    // The site of this computer, as its domain's controllers place it; empty when there is no way to ask,
    // an error when asking failed.
    virtual Result<QString> siteOfComputer(const QString& computerName, const Deadline& deadline) = 0;
};

} // namespace fw
