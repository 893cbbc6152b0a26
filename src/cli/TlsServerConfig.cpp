#include "cli/TlsServerConfig.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <functional>

namespace fw {
namespace {

struct SuiteName {
    const char* iana;
    const char* openssl;
};

// The TLS 1.2 suites the exporters' configurations name (Go's names, with its aliases for ChaCha20), and the
// name the TLS library knows each by.
// clang-format off
const SuiteName kSuites[] = {
    {"TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256", "ECDHE-RSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384", "ECDHE-ECDSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", "ECDHE-RSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-RSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305", "ECDHE-RSA-CHACHA20-POLY1305"},
    // Taken when named, never by default: no forward secrecy, or CBC.
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256", "ECDHE-ECDSA-AES128-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256", "ECDHE-RSA-AES128-SHA256"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA", "ECDHE-ECDSA-AES128-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA", "ECDHE-ECDSA-AES256-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA", "ECDHE-RSA-AES128-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA", "ECDHE-RSA-AES256-SHA"},
    {"TLS_RSA_WITH_AES_128_GCM_SHA256", "AES128-GCM-SHA256"},
    {"TLS_RSA_WITH_AES_256_GCM_SHA384", "AES256-GCM-SHA384"},
    {"TLS_RSA_WITH_AES_128_CBC_SHA256", "AES128-SHA256"},
    {"TLS_RSA_WITH_AES_128_CBC_SHA", "AES128-SHA"},
    {"TLS_RSA_WITH_AES_256_CBC_SHA", "AES256-SHA"},
    {"TLS_ECDHE_RSA_WITH_3DES_EDE_CBC_SHA", "ECDHE-RSA-DES-CBC3-SHA"},
    {"TLS_RSA_WITH_3DES_EDE_CBC_SHA", "DES-CBC3-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_RC4_128_SHA", "ECDHE-ECDSA-RC4-SHA"},
    {"TLS_ECDHE_RSA_WITH_RC4_128_SHA", "ECDHE-RSA-RC4-SHA"},
    {"TLS_RSA_WITH_RC4_128_SHA", "RC4-SHA"},
};
// clang-format on
constexpr int kDefaultSuites = 8; // the first ones: forward secrecy (ECDHE) and AEAD

const QStringList kTls13Suites = {QStringLiteral("TLS_AES_128_GCM_SHA256"), QStringLiteral("TLS_AES_256_GCM_SHA384"),
                                  QStringLiteral("TLS_CHACHA20_POLY1305_SHA256")};

FwError cipherError(const QString& name, const QString& why)
{
    return FwError{0, QStringLiteral("tls_server_config.cipher_suites: '") + name + QStringLiteral("' ") + why};
}

std::optional<QSslKey> privateKey(const QByteArray& pem, QSsl::KeyAlgorithm algorithm)
{
    QSslKey k(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
    return k.isNull() ? std::nullopt : std::optional(k);
}

// The authentication a TLS 1.2 suite must have to be used with the key, as QSslCipher names it.
QString authenticationFor(const QSslKey& key)
{
    return key.algorithm() == QSsl::Rsa ? QStringLiteral("RSA") : QStringLiteral("ECDSA");
}

// Hands the one connection it accepts over as it is.
class OneConnection final : public QTcpServer {
public:
    std::function<void(qintptr)> accepted;

protected:
    void incomingConnection(qintptr descriptor) override { accepted(descriptor); }
};

// A handshake of the configuration with itself over loopback: the one way to learn, before any client does,
// that the key belongs to the certificate and that the TLS library takes both. Qt's text when it fails.
std::optional<QString> selfHandshakeFailure(QSslConfiguration server)
{
    OneConnection listener;
    if (!listener.listen(QHostAddress::LocalHost, 0) && !listener.listen(QHostAddress::LocalHostIPv6, 0))
        return QStringLiteral("no loopback port to try it on: ") + listener.errorString();
    server.setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificate here
    QSslConfiguration client = QSslConfiguration::defaultConfiguration();
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    QSslSocket serving;
    QSslSocket asking;
    serving.setSslConfiguration(server);
    asking.setSslConfiguration(client);
    QEventLoop loop;
    std::optional<QString> failure;
    listener.accepted = [&](qintptr descriptor) {
        listener.close();
        if (!serving.setSocketDescriptor(descriptor)) {
            failure = QStringLiteral("no loopback connection to try it on");
            loop.quit();
            return;
        }
        serving.startServerEncryption();
    };
    QObject::connect(&serving, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    QObject::connect(&serving, &QSslSocket::errorOccurred, &loop, [&] {
        failure = serving.errorString();
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, [&] {
        failure = QStringLiteral("no handshake within 10 seconds");
        loop.quit();
    });
    asking.connectToHostEncrypted(listener.serverAddress().toString(), listener.serverPort());
    loop.exec();
    return serving.isEncrypted() ? std::nullopt : failure;
}

} // namespace

Result<QByteArray> WebFileReader::read(const QString& path, const QString& what)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        m_files.append({path, QByteArray()});
        return FwError{0, what + QStringLiteral(" ") + path + QStringLiteral(" cannot be read: ") + f.errorString()};
    }
    const QByteArray bytes = f.readAll();
    m_files.append({path, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)});
    return bytes;
}

Result<QList<QSslCipher>> tls12Ciphers(const std::optional<QStringList>& names)
{
    QList<QSslCipher> chosen;
    if (!names) {
        // Those the TLS library offers; where it offers none by these names, its own choice stands.
        for (int i = 0; i < kDefaultSuites; ++i)
            if (const QSslCipher c(QLatin1String(kSuites[i].openssl)); !c.isNull())
                chosen.append(c);
        return chosen;
    }
    if (names->isEmpty())
        return FwError{0, QStringLiteral("tls_server_config.cipher_suites names no suite")};
    for (const QString& name : *names) {
        const auto known = std::find_if(std::begin(kSuites), std::end(kSuites),
                                        [&](const SuiteName& s) { return name == QLatin1String(s.iana); });
        if (known == std::end(kSuites)) {
            if (kTls13Suites.contains(name))
                return cipherError(name, QStringLiteral("is a TLS 1.3 suite: cipher_suites chooses among TLS 1.2's"));
            return cipherError(name, QStringLiteral("is not a known cipher suite (IANA's names, for example "
                                                    "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256)"));
        }
        const QSslCipher c(QLatin1String(known->openssl));
        if (c.isNull())
            return cipherError(name, QStringLiteral("is not offered by the TLS library"));
        if (!chosen.contains(c))
            chosen.append(c);
    }
    return chosen;
}

Result<void> buildTls(const TlsFields& f, const QDir& base, WebFileReader& files, WebConfig& c)
{
    if (f.cert.isEmpty() || f.key.isEmpty())
        return FwError{0, QStringLiteral("tls_server_config needs both cert_file and key_file")};
    const Result<QByteArray> certPem = files.read(base.absoluteFilePath(f.cert), QStringLiteral("cert_file"));
    if (!certPem)
        return certPem.error();
    const Result<QByteArray> keyPem = files.read(base.absoluteFilePath(f.key), QStringLiteral("key_file"));
    if (!keyPem)
        return keyPem.error();
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certPem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return FwError{0, QStringLiteral("cert_file ") + base.absoluteFilePath(f.cert) +
                              QStringLiteral(" holds no PEM certificate")};
    std::optional<QSslKey> key = privateKey(*keyPem, QSsl::Rsa);
    if (!key)
        key = privateKey(*keyPem, QSsl::Ec);
    // TLS 1.3 takes no DSA key, nor do TLS 1.2's suites with forward secrecy that the TLS library can serve.
    if (!key && privateKey(*keyPem, QSsl::Dsa))
        return FwError{0, QStringLiteral("key_file ") + base.absoluteFilePath(f.key) +
                              QStringLiteral(" holds a DSA key, which no TLS suite offered here takes (use an RSA or EC key)")};
    if (!key)
        return FwError{0, QStringLiteral("key_file ") + base.absoluteFilePath(f.key) +
                              QStringLiteral(" holds no unencrypted PEM private key (RSA or EC)")};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    const bool tls13Only = f.minVersion == QLatin1String("TLS13");
    if (!f.minVersion.isEmpty() && f.minVersion != QLatin1String("TLS12") && !tls13Only)
        return FwError{0, QStringLiteral("tls_server_config.min_version '") + f.minVersion +
                              QStringLiteral("' is not supported (TLS12 or TLS13)")};
    tls.setProtocol(tls13Only ? QSsl::TlsV1_3OrLater : QSsl::TlsV1_2OrLater);
    if (tls13Only && f.cipherSuites)
        return FwError{0, QStringLiteral("tls_server_config.cipher_suites chooses among TLS 1.2's suites, which min_version "
                                         "TLS13 leaves out")};
    const Result<QList<QSslCipher>> suites = tls12Ciphers(f.cipherSuites);
    if (!suites)
        return suites.error();
    if (!suites->isEmpty()) {
        if (!tls13Only && std::none_of(suites->begin(), suites->end(),
                                       [&](const QSslCipher& s) { return s.authenticationMethod() == authenticationFor(*key); }))
            return FwError{0, QStringLiteral("tls_server_config.cipher_suites has no suite for the key's type (") +
                                  authenticationFor(*key) + QStringLiteral("): TLS 1.2 clients could not connect")};
        QList<QSslCipher> offered = *suites;
        for (const QSslCipher& s : QSslConfiguration::supportedCiphers())
            if (s.protocol() == QSsl::TlsV1_3)
                offered.append(s);
        tls.setCiphers(offered);
    }
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(*key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    const QString auth = f.clientAuth.isEmpty() ? QStringLiteral("NoClientCert") : f.clientAuth;
    if (!f.clientCa.isEmpty()) {
        const Result<QByteArray> caPem = files.read(base.absoluteFilePath(f.clientCa), QStringLiteral("client_ca_file"));
        if (!caPem)
            return caPem.error();
        const QList<QSslCertificate> cas = QSslCertificate::fromData(*caPem, QSsl::Pem);
        if (cas.isEmpty())
            return FwError{0, QStringLiteral("client_ca_file ") + base.absoluteFilePath(f.clientCa) +
                                  QStringLiteral(" holds no PEM certificate")};
        tls.setCaCertificates(cas);
        if (auth != QLatin1String("RequireAndVerifyClientCert"))
            return FwError{0, QStringLiteral("client_ca_file is given, so client_auth_type must be RequireAndVerifyClientCert")};
    }
    if (auth == QLatin1String("RequireAndVerifyClientCert")) {
        if (f.clientCa.isEmpty())
            return FwError{0, QStringLiteral("client_auth_type RequireAndVerifyClientCert needs client_ca_file")};
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    } else if (auth == QLatin1String("RequestClientCert") || auth == QLatin1String("RequireAnyClientCert")) {
        tls.setPeerVerifyMode(QSslSocket::QueryPeer);
        c.requireClientCertificate = auth == QLatin1String("RequireAnyClientCert");
    } else if (auth != QLatin1String("NoClientCert")) {
        return FwError{0, QStringLiteral("client_auth_type '") + auth +
                              QStringLiteral("' is not supported (NoClientCert, RequestClientCert, RequireAnyClientCert or "
                                             "RequireAndVerifyClientCert)")};
    }
    if (std::optional<QString> failure = selfHandshakeFailure(tls)) {
        while (failure->endsWith(QLatin1Char(' ')) || failure->endsWith(QLatin1Char(':')))
            failure->chop(1);
        return FwError{0, QStringLiteral("cert_file ") + base.absoluteFilePath(f.cert) + QStringLiteral(" and key_file ") +
                              base.absoluteFilePath(f.key) +
                              QStringLiteral(" make no TLS server (is the key the certificate's own?): ") + *failure};
    }
    c.tls = tls;
    return Result<void>::success();
}

} // namespace fw
