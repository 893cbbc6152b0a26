#pragma once
#include "log/Result.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <optional>

namespace fw {

// The web configuration file of Prometheus exporters (`--web.config.file`), the part of it this server
// supports: tls_server_config (cert_file, key_file, client_ca_file, client_auth_type) and
// basic_auth_users (user: bcrypt hash). Relative file names are read from the file's directory.
struct WebConfig {
    std::optional<QSslConfiguration> tls;
    bool requireClientCertificate = false; // RequireAnyClientCert: a certificate, checked by no CA
    QHash<QString, QByteArray> users;      // name -> bcrypt hash

    // An error for a file that cannot be read, an unknown or unsupported key, or a certificate, key or hash
    // that is not usable.
    static Result<WebConfig> load(const QString& path);
};

// Checks "Authorization: Basic ..." values against bcrypt hashes. Passwords found right are remembered
// (as a digest) so that each scrape does not pay for bcrypt again.
class BasicAuth {
public:
    explicit BasicAuth(QHash<QString, QByteArray> users) : m_users(std::move(users)) {}
    bool allows(const QByteArray& authorization);

private:
    QHash<QString, QByteArray> m_users;
    QMutex m_mutex;
    QSet<QByteArray> m_known;
};

// Whether `password` matches the bcrypt `hash` ($2a$, $2b$ or $2y$).
bool bcryptMatches(const QByteArray& password, const QByteArray& hash);
// Whether the text has the form of a bcrypt hash.
bool isBcryptHash(const QByteArray& hash);
// Why basic_auth_users cannot be used on this platform (Windows); empty where it can.
QString basicAuthUnsupported();

} // namespace fw
