#pragma once
#include "log/Result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <functional>
#include <optional>

namespace fw {

// A file a web configuration was read from, and the SHA-256 of what it held (empty: it could not be read).
struct WebConfigFile {
    QString path;
    QByteArray digest;
};

// The web configuration file of Prometheus exporters (`--web.config.file`), the part of it this server
// supports: tls_server_config (cert_file, key_file, client_ca_file, client_auth_type, min_version,
// cipher_suites) and basic_auth_users (user: bcrypt hash). Relative file names are read from the file's directory.
struct WebConfig {
    std::optional<QSslConfiguration> tls;
    bool requireClientCertificate = false; // RequireAnyClientCert: a certificate, checked by no CA
    QHash<QString, QByteArray> users;      // name -> bcrypt hash
    QString path;                          // the file it was read from; empty when made otherwise
    QList<WebConfigFile> files;            // every file it was read from: itself, then certificate, key, CA

    // An error for a file that cannot be read, an unknown or unsupported key, or a certificate, key or hash
    // that is not usable.
    static Result<WebConfig> load(const QString& path);
    // The same, with the files read whether it succeeded or not: a configuration that failed is worth
    // reading again only once one of them has changed.
    static struct WebConfigAttempt attempt(const QString& path);
};

struct WebConfigAttempt {
    Result<WebConfig> config;
    QList<WebConfigFile> files;
};

// Whether one of the files holds something else now than when it was read (or can now, or no longer, be read).
bool filesChanged(const QList<WebConfigFile>& files);

// Whether `password` matches the bcrypt `hash` ($2a$, $2b$ or $2y$).
bool bcryptMatches(const QByteArray& password, const QByteArray& hash);
// Whether the text has the form of a bcrypt hash.
bool isBcryptHash(const QByteArray& hash);
// Why basic_auth_users cannot be used on this platform (Windows); empty where it can.
QString basicAuthUnsupported();

// Checks "Authorization: Basic ..." values against bcrypt hashes. Credentials found right are remembered
// (only as a salted digest, a bounded number of them) so that each scrape does not pay for bcrypt again, and
// a scrape with them need not wait behind the checks of others. A user that is not configured is checked
// against a dummy hash of the same cost, so that the time of an answer does not tell which users exist.
class BasicAuth {
public:
    using Verify = std::function<bool(const QByteArray& password, const QByteArray& hash)>;
    // What one request offers: `key` is the digest it is remembered by.
    struct Credentials {
        QString user;
        QByteArray password;
        QByteArray key;
    };
    static constexpr int kRemembered = 16;

    explicit BasicAuth(QHash<QString, QByteArray> users, Verify verify = bcryptMatches);
    // The credentials of an Authorization value; none for another scheme or a malformed value.
    std::optional<Credentials> parse(const QByteArray& authorization) const;
    // Whether these credentials were found right before (no bcrypt: quick).
    bool known(const Credentials& c) const;
    // The full check (bcrypt: slow); credentials found right are remembered.
    bool check(const Credentials& c);

private:
    QHash<QString, QByteArray> m_users;
    Verify m_verify;
    QByteArray m_dummyHash;
    QByteArray m_salt;
    mutable QMutex m_mutex;
    QSet<QByteArray> m_known;
    QList<QByteArray> m_knownOrder; // oldest first, forgotten first
};

} // namespace fw
