#pragma once
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include "directory/Deadline.h"
#include "log/Result.h"

typedef struct ldap LDAP;

namespace fw {

// Attribute values of one entry, names in lower case.
using LdapEntry = QHash<QString, QList<QByteArray>>;

// One LDAP connection: on Linux through libldap on a socket we connect ourselves, so that the connect is bounded
// and the URL keeps the server's name (Kerberos needs it); on Windows through wldap32. Every operation waits only
// until the deadline given to open(); the library's own timeouts are set from what is left before each step.
// Replies are limited in size (kMaxIncomingBytes) where the library allows it (libldap).
class LdapSession {
public:
    // A reply that declares more than this is refused before anything is allocated for it.
    static constexpr unsigned kMaxIncomingBytes = 1024 * 1024;

    LdapSession() = default;
    ~LdapSession();
    LdapSession(const LdapSession&) = delete;
    LdapSession& operator=(const LdapSession&) = delete;

    // Connects to `address`:port, naming the server `host` in the URL.
    Result<void> open(const QString& host, const QHostAddress& address, quint16 port, const QHostAddress& source,
                      const Deadline& deadline);
    // As the logged-on user: SASL GSSAPI with the user's Kerberos ticket (Linux), Negotiate with the logon
    // session's credentials (Windows). An error when there are none or the bind fails.
    // The Kerberos exchange with the KDC is not bounded by the LDAP library: callers that must keep
    // the deadline run this through runWithin().
    Result<void> bindAsUser();
    // How bindAsUser() binds, for messages: "GSSAPI" or "Negotiate".
    static const char* bindMechanism();
    // A base search. `noEntry` is set when the search succeeded but returned nothing (an error too).
    Result<LdapEntry> readBase(const QByteArray& base, const QByteArray& filter, const QList<QByteArray>& attributes,
                               bool* noEntry = nullptr);

private:
    // Sets libldap's timeouts from what is left; an error when nothing is.
    Result<void> arm(const char* step);

    LDAP* m_ld = nullptr;
    Deadline m_deadline{0};
    QString m_server;
};

// The value of the third element of a server object's DN (CN=DC1,CN=Servers,CN=Site,CN=Sites,...): its site.
QString siteFromServerDn(const QString& serverDn);

} // namespace fw
