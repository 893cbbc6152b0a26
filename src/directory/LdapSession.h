#pragma once
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <optional>

typedef struct ldap LDAP;

namespace fw {

// Attribute values of one entry, names in lower case.
using LdapEntry = QHash<QString, QList<QByteArray>>;

// One LDAP connection through libldap on a socket we connect ourselves, so that the connect is bounded
// and the URL keeps the server's name (Kerberos needs it). Every operation waits at most timeoutMs.
class LdapSession {
public:
    LdapSession() = default;
    ~LdapSession();
    LdapSession(const LdapSession&) = delete;
    LdapSession& operator=(const LdapSession&) = delete;

    // Connects to `address`:port, naming the server `host` in the URL.
    bool open(const QString& host, const QHostAddress& address, quint16 port, const QHostAddress& source, int timeoutMs);
    // SASL GSSAPI with the user's Kerberos ticket. False (with error()) when there is no ticket or it fails.
    bool bindGssapi();
    // A base search; nothing when it fails (see error()).
    // `noEntry` is set when the search succeeded but returned nothing.
    std::optional<LdapEntry> readBase(const QByteArray& base, const QByteArray& filter, const QList<QByteArray>& attributes,
                                      bool* noEntry = nullptr);

    const QString& error() const { return m_error; }

private:
    LDAP* m_ld = nullptr;
    int m_timeoutMs = 5000;
    QString m_error;
};

// The value of the third element of a server object's DN (CN=DC1,CN=Servers,CN=Site,CN=Sites,...): its site.
QString siteFromServerDn(const QString& serverDn);

} // namespace fw
