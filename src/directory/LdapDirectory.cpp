#include "directory/LdapDirectory.h"

#include "directory/DcLocatorBackend.h"
#include "directory/LdapSession.h"
#include "directory/NetTools.h"

#include <QRegularExpression>

#include <atomic>

namespace fw {
namespace {

constexpr const char* kActiveDirectoryCapability = "1.2.840.113556.1.4.800";

QString first(const LdapEntry& e, const char* name)
{
    const QList<QByteArray> v = e.value(QString::fromLatin1(name));
    return v.isEmpty() ? QString() : QString::fromUtf8(v.first());
}

} // namespace

LdapDirectory::LdapDirectory(DirectoryOptions options, std::shared_ptr<DcLocatorBackend> locator,
                             std::function<QString()> primaryDomain)
    : m_options(std::move(options)), m_locator(std::move(locator)), m_primaryDomain(std::move(primaryDomain))
{
}

LdapDirectory::Path LdapDirectory::parsePath(const QString& adsPath)
{
    static const QRegularExpression re(QStringLiteral("^(LDAP|GC)://([^/:]*)(?::(\\d{1,5}))?$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(adsPath);
    Path p;
    if (!m.hasMatch())
        return p;
    p.gc = m.captured(1).compare(QLatin1String("GC"), Qt::CaseInsensitive) == 0;
    p.server = m.captured(2).trimmed();
    if (!p.server.isEmpty() && QHostAddress(p.server).isNull() && !net::isValidHostName(p.server))
        return p;
    const uint port = m.captured(3).isEmpty() ? (p.gc ? 3268u : 389u) : m.captured(3).toUInt();
    if (port == 0 || port > 65535)
        return p;
    p.port = static_cast<quint16>(port);
    p.valid = true;
    return p;
}

Result<RootDse> LdapDirectory::bind(const QString& adsPath, const Deadline& deadline)
{
    const Path p = parsePath(adsPath);
    if (!p.valid)
        return FwError{0, QStringLiteral("'%1' is not a directory path with a server name").arg(adsPath)};
    if (p.server.isEmpty())
        return FwError{0, QStringLiteral("no server name in '%1'").arg(adsPath)};
    const quint16 override = p.gc ? m_options.gcPort : m_options.ldapPort;
    const quint16 port = override ? override : p.port;
    const Result<QList<QHostAddress>> resolved = net::resolveHost(p.server, deadline);
    if (!resolved)
        return resolved.error();
    const QList<QHostAddress> addrs = *resolved;
    struct Attempt {
        std::optional<LdapEntry> entry;
        QString error;
    };
    // A session per attempt: after a failed SASL exchange the server may have dropped the connection.
    // The whole attempt runs where it can be abandoned: the Kerberos library talks to the KDC with
    // timeouts of its own.
    auto attempt = [&](bool kerberos) -> Attempt {
        const DirectoryOptions o = m_options;
        const QString server = p.server;
        // Where the attempt is, so that a cut names the step it cut.
        enum Step { Connect, Bind, Search };
        auto step = std::make_shared<std::atomic<int>>(Connect);
        auto run = runWithin<Attempt>(deadline, [=]() {
            Attempt a;
            for (const QHostAddress& address : addrs) {
                LdapSession s;
                *step = Connect;
                if (const Result<void> opened = s.open(server, address, port, o.sourceAddress, deadline); !opened) {
                    a.error = opened.error().description;
                    continue;
                }
                *step = Bind;
                if (kerberos) {
                    if (const Result<void> bound = s.bindAsUser(); !bound) {
                        a.error = bound.error().description;
                        return a;
                    }
                }
                *step = Search;
                Result<LdapEntry> read = s.readBase(
                    QByteArray(), QByteArrayLiteral("(objectClass=*)"),
                    {"dnsHostName", "serverName", "defaultNamingContext", "isGlobalCatalogReady", "supportedCapabilities"});
                if (read) {
                    a.entry = std::move(read).value();
                    return a;
                }
                a.error = read.error().description;
            }
            return a;
        });
        if (run)
            return *run;
        const QString names[] = {QStringLiteral("LDAP connect"),
                                 QString::fromLatin1(LdapSession::bindMechanism()) + QStringLiteral(" bind"),
                                 QStringLiteral("LDAP search")};
        return {std::nullopt, Deadline::cutShort(names[step->load()], p.server)};
    };
    RootDse root;
    Attempt a;
    if (m_options.useKerberos) {
        a = attempt(true);
        root.authenticated = a.entry.has_value();
    }
    if (!a.entry && !deadline.expired())
        a = attempt(false);
    if (!a.entry)
        return FwError{0, a.error};
    const LdapEntry& entry = *a.entry;
    root.dnsHostName = first(entry, "dnshostname");
    root.serverName = first(entry, "servername");
    root.defaultNamingContext = first(entry, "defaultnamingcontext");
    root.globalCatalogReady = first(entry, "isglobalcatalogready").compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
    for (const QByteArray& c : entry.value(QStringLiteral("supportedcapabilities")))
        if (c == kActiveDirectoryCapability)
            root.activeDirectory = true;
    if (!root.activeDirectory || root.serverName.isEmpty())
        return FwError{0, QStringLiteral("%1 is not an Active Directory domain controller").arg(p.server)};
    if (p.gc && !root.globalCatalogReady)
        return FwError{0, QStringLiteral("%1 is not a ready global catalog").arg(p.server)};
    return root;
}

Result<QString> LdapDirectory::siteOfServer(const QString& server, const Deadline& deadline)
{
    const Result<RootDse> root = bind(QStringLiteral("LDAP://%1:389").arg(server), deadline);
    if (!root)
        return root.error();
    return siteFromServerDn(root->serverName);
}

Result<QString> LdapDirectory::siteOfComputer(const QString&, const Deadline& deadline)
{
    // Only this computer's site can be found out this way: its domain's DCs name the site of the
    // subnet our pings come from.
    if (!m_locator || !m_locator->available())
        return QString();
    const QString domain = m_primaryDomain ? m_primaryDomain() : QString();
    DcLookupRequest request{QString(), domain, 0};
    request.deadline = deadline;
    const DcLookupResult r = m_locator->locate(request);
    if (r.error != dcerr::Ok)
        return FwError{r.error, r.detail};
    return r.info.clientSiteName;
}

} // namespace fw
