#pragma once
#include "cli/WebConfig.h"
#include "log/Result.h"

#include <QDir>
#include <QList>
#include <QSslCipher>
#include <QStringList>
#include <optional>

namespace fw {

// Reads the files of a web configuration, keeping each one's path and a digest of what it held, so that a
// change to any of them can be seen later (filesChanged).
class WebFileReader {
public:
    // The file's bytes, or "WHAT PATH cannot be read: REASON".
    Result<QByteArray> read(const QString& path, const QString& what);
    const QList<WebConfigFile>& files() const { return m_files; }

private:
    QList<WebConfigFile> m_files;
};

// The keys of tls_server_config this server takes.
struct TlsFields {
    QString cert, key, clientCa, clientAuth, minVersion;
    std::optional<QStringList> cipherSuites; // as given; none: the defaults
};

// The TLS 1.2 suites to offer: those named (IANA names, as the Prometheus exporters take them), or by default
// those with forward secrecy and an AEAD cipher (no RSA key exchange, no CBC). TLS 1.3's own suites are not
// chosen here. An error for a name that is unknown, of TLS 1.3, or not offered by the TLS library.
Result<QList<QSslCipher>> tls12Ciphers(const std::optional<QStringList>& names);

// Sets `c.tls` (and whether a client certificate is required) from the fields, relative file names read from
// `base`: an error for a file that cannot be read, a certificate or key that is not usable, a setting that
// is not supported, or a key that is not the certificate's (the configuration makes a TLS handshake with itself).
Result<void> buildTls(const TlsFields& f, const QDir& base, WebFileReader& files, WebConfig& c);

} // namespace fw
