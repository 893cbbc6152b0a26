#include "cli/WebConfig.h"

#include "cli/ServerSockets.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <QEventLoop>

#include <yaml.h>

#include <cctype>
#include <functional>

namespace fw {
namespace {

// The keys of the exporter toolkit's format that this server leaves to others: refused, not ignored.
const QStringList kUnsupportedTls = {QStringLiteral("min_version"), QStringLiteral("max_version"),
                                     QStringLiteral("cipher_suites"), QStringLiteral("curve_preferences"),
                                     QStringLiteral("prefer_server_cipher_suites")};

class YamlDoc {
public:
    Result<void> load(const QByteArray& text)
    {
        yaml_parser_t parser;
        yaml_parser_initialize(&parser);
        yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.constData()),
                                     static_cast<size_t>(text.size()));
        const bool ok = yaml_parser_load(&parser, &m_doc) != 0;
        Result<void> loaded;
        if (!ok)
            loaded = FwError{0, QStringLiteral("is not valid YAML (line %1: %2)")
                                    .arg(parser.problem_mark.line + 1)
                                    .arg(QString::fromUtf8(parser.problem ? parser.problem : "unreadable"))};
        yaml_parser_delete(&parser);
        m_loaded = ok;
        return loaded;
    }
    ~YamlDoc()
    {
        if (m_loaded)
            yaml_document_delete(&m_doc);
    }
    yaml_node_t* root() { return yaml_document_get_root_node(&m_doc); }
    yaml_node_t* node(int index) { return yaml_document_get_node(&m_doc, index); }

    static bool isScalar(const yaml_node_t* n) { return n && n->type == YAML_SCALAR_NODE; }
    static QString text(const yaml_node_t* n)
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(n->data.scalar.value),
                                 static_cast<qsizetype>(n->data.scalar.length));
    }
    static bool isEmpty(const yaml_node_t* n) { return isScalar(n) && n->data.scalar.length == 0; }

    // Calls `each(key, value)` for each pair of a mapping until one fails; an error too for a node that is no
    // mapping or a key that is no text.
    Result<void> forEachPair(yaml_node_t* map, const QString& where,
                             const std::function<Result<void>(const QString&, yaml_node_t*)>& each)
    {
        if (isEmpty(map))
            return Result<void>::success();
        if (!map || map->type != YAML_MAPPING_NODE)
            return FwError{0, where + QStringLiteral(" must be a mapping")};
        QSet<QString> seen;
        for (yaml_node_pair_t* p = map->data.mapping.pairs.start; p < map->data.mapping.pairs.top; ++p) {
            yaml_node_t* key = node(p->key);
            if (!isScalar(key))
                return FwError{0, where + QStringLiteral(" has a key that is not text")};
            // YAML leaves a second one to the reader; which one counts would be a guess.
            if (seen.contains(text(key)))
                return FwError{0, where + QStringLiteral(" has the key '") + text(key) + QStringLiteral("' twice")};
            seen.insert(text(key));
            if (Result<void> r = each(text(key), node(p->value)); !r)
                return r;
        }
        return Result<void>::success();
    }

private:
    yaml_document_t m_doc{};
    bool m_loaded = false;
};

Result<QByteArray> readFile(const QString& path, const QString& what)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return FwError{0, what + QStringLiteral(" ") + path + QStringLiteral(" cannot be read: ") + f.errorString()};
    return f.readAll();
}

std::optional<QSslKey> privateKey(const QByteArray& pem)
{
    for (QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey k(pem, a, QSsl::Pem, QSsl::PrivateKey);
        if (!k.isNull())
            return k;
    }
    return std::nullopt;
}

// Whether `hash`, the password of `user`, is a bcrypt hash whose cost bcrypt takes.
Result<void> usableBcrypt(const QString& user, const QByteArray& hash)
{
    static const QByteArrayView alphabet = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    bool wellFormed = isBcryptHash(hash) && std::isdigit(hash[4]) && std::isdigit(hash[5]) && hash[6] == '$';
    for (qsizetype i = 7; wellFormed && i < hash.size(); ++i)
        wellFormed = alphabet.contains(hash[i]);
    if (!wellFormed)
        return FwError{0,
                       QStringLiteral("basic_auth_users: the password of '") + user + QStringLiteral("' is not a bcrypt hash")};
    const int cost = hash.mid(4, 2).toInt();
    if (cost < 4 || cost > 31)
        return FwError{0, QStringLiteral("basic_auth_users: the bcrypt hash of '") + user + QStringLiteral("' has cost ") +
                              QString::fromLatin1(hash.mid(4, 2)) + QStringLiteral(", not 04 to 31")};
    return Result<void>::success();
}

// A handshake of the configuration with itself, over a socket pair: the one way to learn, before any client
// does, that the key belongs to the certificate and that the TLS library takes both. Qt's text when it fails.
std::optional<QString> selfHandshakeFailure(QSslConfiguration server)
{
    const Result<std::pair<qintptr, qintptr>> pair = connectedSocketPair();
    if (!pair)
        return QStringLiteral("no socket pair to try it on: ") + pair.error().description;
    server.setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificate here
    QSslConfiguration client = QSslConfiguration::defaultConfiguration();
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    QSslSocket serving;
    QSslSocket asking;
    serving.setSslConfiguration(server);
    asking.setSslConfiguration(client);
    if (!serving.setSocketDescriptor(pair->first) || !asking.setSocketDescriptor(pair->second)) {
        closeSocket(pair->first);
        closeSocket(pair->second);
        return QStringLiteral("no socket pair to try it on");
    }
    QEventLoop loop;
    std::optional<QString> failure;
    QObject::connect(&serving, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    QObject::connect(&serving, &QSslSocket::errorOccurred, &loop, [&] {
        failure = serving.errorString();
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, [&] {
        failure = QStringLiteral("no handshake within 10 seconds");
        loop.quit();
    });
    serving.startServerEncryption();
    asking.startClientEncryption();
    if (!serving.isEncrypted() && !failure)
        loop.exec();
    return serving.isEncrypted() ? std::nullopt : failure;
}

struct TlsFields {
    QString cert, key, clientCa, clientAuth;
};

Result<void> buildTls(const TlsFields& f, const QDir& base, WebConfig& c)
{
    if (f.cert.isEmpty() || f.key.isEmpty())
        return FwError{0, QStringLiteral("tls_server_config needs both cert_file and key_file")};
    const Result<QByteArray> certPem = readFile(base.absoluteFilePath(f.cert), QStringLiteral("cert_file"));
    if (!certPem)
        return certPem.error();
    const Result<QByteArray> keyPem = readFile(base.absoluteFilePath(f.key), QStringLiteral("key_file"));
    if (!keyPem)
        return keyPem.error();
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certPem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return FwError{0, QStringLiteral("cert_file ") + base.absoluteFilePath(f.cert) +
                              QStringLiteral(" holds no PEM certificate")};
    const std::optional<QSslKey> key = privateKey(*keyPem);
    if (!key)
        return FwError{0, QStringLiteral("key_file ") + base.absoluteFilePath(f.key) +
                              QStringLiteral(" holds no unencrypted PEM private key (RSA, EC or DSA)")};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(*key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    const QString auth = f.clientAuth.isEmpty() ? QStringLiteral("NoClientCert") : f.clientAuth;
    if (!f.clientCa.isEmpty()) {
        const Result<QByteArray> caPem = readFile(base.absoluteFilePath(f.clientCa), QStringLiteral("client_ca_file"));
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

// The cost of a bcrypt hash already checked by usableBcrypt.
int bcryptCost(const QByteArray& hash)
{
    return hash.mid(4, 2).toInt();
}

} // namespace

BasicAuth::BasicAuth(QHash<QString, QByteArray> users, Verify verify) : m_users(std::move(users)), m_verify(std::move(verify))
{
    // An unknown user is checked against the costliest hash there is (and refused whatever it says): its
    // answer takes as long as a known user's.
    for (const QByteArray& hash : std::as_const(m_users))
        if (m_dummyHash.isEmpty() || bcryptCost(hash) > bcryptCost(m_dummyHash))
            m_dummyHash = hash;
    m_salt.resize(32);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(m_salt.data()), m_salt.size() / 4);
}

std::optional<BasicAuth::Credentials> BasicAuth::parse(const QByteArray& authorization) const
{
    // The scheme's name is case-insensitive; spaces may follow it.
    if (authorization.size() < 6 || qstrnicmp(authorization.constData(), "basic ", 6) != 0)
        return std::nullopt;
    const QByteArray decoded = QByteArray::fromBase64(authorization.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    Credentials c;
    c.user = QString::fromUtf8(decoded.left(colon));
    c.password = decoded.mid(colon + 1);
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(m_salt);
    digest.addData(decoded);
    c.key = digest.result();
    return c;
}

bool BasicAuth::known(const Credentials& c) const
{
    QMutexLocker lock(&m_mutex);
    return m_known.contains(c.key);
}

bool BasicAuth::check(const Credentials& c)
{
    const auto it = m_users.constFind(c.user);
    const bool user = it != m_users.constEnd();
    // bcrypt reads the password up to its first NUL: what follows would go unchecked.
    const bool whole = !c.password.contains('\0');
    if (!m_verify(c.password, user ? it.value() : m_dummyHash) || !user || !whole)
        return false;
    QMutexLocker lock(&m_mutex);
    if (!m_known.contains(c.key)) {
        if (m_knownOrder.size() >= kRemembered)
            m_known.remove(m_knownOrder.takeFirst());
        m_known.insert(c.key);
        m_knownOrder.append(c.key);
    }
    return true;
}

Result<WebConfig> WebConfig::load(const QString& path)
{
    const auto fail = [&](const QString& why) -> Result<WebConfig> {
        return FwError{0, QStringLiteral("the web configuration ") + path + QStringLiteral(" ") + why};
    };
    const Result<QByteArray> text = readFile(path, QStringLiteral("file"));
    if (!text)
        return fail(QStringLiteral("cannot be read: ") + text.error().description.section(QStringLiteral(": "), -1));
    YamlDoc doc;
    if (const Result<void> parsed = doc.load(*text); !parsed)
        return fail(parsed.error().description);
    WebConfig c;
    TlsFields tls;
    bool hasTls = false;
    const QDir base = QFileInfo(path).absoluteDir();
    // An empty file asks for nothing: plain HTTP without authentication.
    Result<void> read;
    if (doc.root())
        read = doc.forEachPair(
            doc.root(), QStringLiteral("the file"), [&](const QString& key, yaml_node_t* value) -> Result<void> {
                if (key == QLatin1String("tls_server_config")) {
                    hasTls = !YamlDoc::isEmpty(value);
                    return doc.forEachPair(value, key, [&](const QString& k, yaml_node_t* v) -> Result<void> {
                        QString* field = k == QLatin1String("cert_file")          ? &tls.cert
                                         : k == QLatin1String("key_file")         ? &tls.key
                                         : k == QLatin1String("client_ca_file")   ? &tls.clientCa
                                         : k == QLatin1String("client_auth_type") ? &tls.clientAuth
                                                                                  : nullptr;
                        if (!field)
                            return FwError{0, QStringLiteral("tls_server_config.") + k +
                                                  (kUnsupportedTls.contains(k) ? QStringLiteral(" is not supported")
                                                                               : QStringLiteral(" is not a known key"))};
                        if (!YamlDoc::isScalar(v))
                            return FwError{0, QStringLiteral("tls_server_config.") + k + QStringLiteral(" must be text")};
                        *field = YamlDoc::text(v);
                        return Result<void>::success();
                    });
                }
                if (key == QLatin1String("basic_auth_users")) {
                    if (const QString why = basicAuthUnsupported(); !why.isEmpty())
                        return FwError{0, why};
                    return doc.forEachPair(value, key, [&](const QString& user, yaml_node_t* v) -> Result<void> {
                        const QByteArray hash = YamlDoc::isScalar(v) ? YamlDoc::text(v).toUtf8() : QByteArray();
                        if (Result<void> usable = usableBcrypt(user, hash); !usable)
                            return usable;
                        c.users.insert(user, hash);
                        return Result<void>::success();
                    });
                }
                return FwError{0, key + (key == QLatin1String("http_server_config") ? QStringLiteral(" is not supported")
                                                                                    : QStringLiteral(" is not a known key"))};
            });
    if (!read)
        return fail(read.error().description);
    if (hasTls) {
        if (const Result<void> built = buildTls(tls, base, c); !built)
            return fail(built.error().description);
    }
    return c;
}

bool isBcryptHash(const QByteArray& hash)
{
    return hash.size() == 60 && (hash.startsWith("$2a$") || hash.startsWith("$2b$") || hash.startsWith("$2y$"));
}

} // namespace fw
