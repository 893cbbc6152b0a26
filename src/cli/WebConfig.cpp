#include "cli/WebConfig.h"

#include "cli/TlsServerConfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <yaml.h>

#include <cctype>
#include <functional>
#include <memory>

namespace fw {
namespace {

// The keys of the exporter toolkit's format that this server leaves to others: refused, not ignored.
const QStringList kUnsupportedTls = {QStringLiteral("max_version"), QStringLiteral("curve_preferences"),
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

    // The texts of a sequence; an error for anything but a sequence of texts.
    Result<QStringList> textList(yaml_node_t* list, const QString& where)
    {
        const FwError notAList{0, where + QStringLiteral(" must be a list of names")};
        if (!list || list->type != YAML_SEQUENCE_NODE)
            return notAList;
        QStringList out;
        for (yaml_node_item_t* i = list->data.sequence.items.start; i < list->data.sequence.items.top; ++i) {
            yaml_node_t* item = node(*i);
            if (!isScalar(item))
                return notAList;
            out.append(text(item));
        }
        return out;
    }

private:
    yaml_document_t m_doc{};
    bool m_loaded = false;
};

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

} // namespace

bool isBcryptHash(const QByteArray& hash)
{
    return hash.size() == 60 && (hash.startsWith("$2a$") || hash.startsWith("$2b$") || hash.startsWith("$2y$"));
}

namespace {

// The cost of a bcrypt hash already checked by bcryptProblem.
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

namespace {

Result<WebConfig> readWebConfig(const QString& path, WebFileReader& files)
{
    const auto fail = [&](const QString& why) -> Result<WebConfig> {
        return FwError{0, QStringLiteral("the web configuration ") + path + QStringLiteral(" ") + why};
    };
    const Result<QByteArray> text = files.read(path, QStringLiteral("file"));
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
                        if (k == QLatin1String("cipher_suites")) {
                            Result<QStringList> names = doc.textList(v, QStringLiteral("tls_server_config.cipher_suites"));
                            if (!names)
                                return names.error();
                            tls.cipherSuites = *names;
                            return Result<void>::success();
                        }
                        QString* field = k == QLatin1String("cert_file")          ? &tls.cert
                                         : k == QLatin1String("key_file")         ? &tls.key
                                         : k == QLatin1String("client_ca_file")   ? &tls.clientCa
                                         : k == QLatin1String("client_auth_type") ? &tls.clientAuth
                                         : k == QLatin1String("min_version")      ? &tls.minVersion
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
        if (const Result<void> built = buildTls(tls, base, files, c); !built)
            return fail(built.error().description);
    }
    return c;
}

} // namespace

Result<WebConfig> WebConfig::load(const QString& path)
{
    return attempt(path).config;
}

WebConfigAttempt WebConfig::attempt(const QString& path)
{
    WebFileReader files;
    Result<WebConfig> config = readWebConfig(path, files);
    if (config) {
        config->path = path;
        config->files = files.files();
    }
    return {std::move(config), files.files()};
}

bool filesChanged(const QList<WebConfigFile>& files)
{
    for (const WebConfigFile& f : files) {
        QFile file(f.path);
        const QByteArray now = file.open(QIODevice::ReadOnly)
                                   ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                   : QByteArray();
        if (now != f.digest)
            return true;
    }
    return false;
}

} // namespace fw
