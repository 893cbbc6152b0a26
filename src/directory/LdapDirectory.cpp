#include "directory/LdapDirectory.h"

#include "directory/DcLocatorBackend.h"
#include "directory/LdapSession.h"
#include "directory/NetTools.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace fw {
namespace {

constexpr const char* kActiveDirectoryCapability = "1.2.840.113556.1.4.800";

QString first(const LdapEntry& e, const char* name)
{
    const QList<QByteArray> v = e.value(QString::fromLatin1(name));
    return v.isEmpty() ? QString() : QString::fromUtf8(v.first());
}

} // namespace

LdapDirectory::LdapDirectory(DirectoryOptions options, std::shared_ptr<DcLocatorBackend> locator, std::function<QString()> primaryDomain)
    : m_options(std::move(options)), m_locator(std::move(locator)), m_primaryDomain(std::move(primaryDomain))
{
}

LdapDirectory::Path LdapDirectory::parsePath(const QString& adsPath)
{
    static const QRegularExpression re(QStringLiteral("^(LDAP|GC)://([^/:]*)(?::(\\d{1,5}))?(?:/.*)?$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(adsPath);
    Path p;
    if (!m.hasMatch())
        return p;
    p.gc = m.captured(1).compare(QLatin1String("GC"), Qt::CaseInsensitive) == 0;
    p.server = m.captured(2).trimmed();
    const uint port = m.captured(3).isEmpty() ? (p.gc ? 3268u : 389u) : m.captured(3).toUInt();
    if (port == 0 || port > 65535)
        return p;
    p.port = static_cast<quint16>(port);
    p.valid = true;
    return p;
}

BindResult LdapDirectory::bind(const QString& adsPath)
{
    BindResult r;
    const Path p = parsePath(adsPath);
    if (!p.valid) {
        r.error = QStringLiteral("'%1' is not a directory path").arg(adsPath);
        return r;
    }
    if (p.server.isEmpty()) {
        r.error = QStringLiteral("no server name in '%1'").arg(adsPath);
        return r;
    }
    QElapsedTimer clock;
    clock.start();
    auto left = [&] { return std::max<int>(1, m_options.timeoutMs - static_cast<int>(clock.elapsed())); };
    const QList<QHostAddress> addrs = net::resolveHost(p.server, std::min(left(), 2500), &r.error);
    if (addrs.isEmpty())
        return r;
    // A session per attempt: after a failed SASL exchange the server may have dropped the connection.
    auto attempt = [&](bool kerberos) -> std::optional<LdapEntry> {
        for (const QHostAddress& a : addrs) {
            if (clock.elapsed() >= m_options.timeoutMs) {
                r.error = QStringLiteral("no answer from %1 within %2 ms").arg(p.server).arg(m_options.timeoutMs);
                return std::nullopt;
            }
            LdapSession s;
            if (!s.open(p.server, a, p.port, m_options.sourceAddress, left())) {
                r.error = s.error();
                continue;
            }
            if (kerberos && !s.bindGssapi()) {
                r.error = s.error();
                return std::nullopt;
            }
            auto e = s.readBase(QByteArray(), QByteArrayLiteral("(objectClass=*)"),
                                {"dnsHostName", "serverName", "defaultNamingContext", "isGlobalCatalogReady", "supportedCapabilities"});
            if (!e) {
                r.error = s.error();
                continue;
            }
            r.root.authenticated = kerberos;
            return e;
        }
        return std::nullopt;
    };
    std::optional<LdapEntry> entry;
    if (m_options.useKerberos)
        entry = attempt(true);
    if (!entry)
        entry = attempt(false);
    if (!entry)
        return r;
    r.root.dnsHostName = first(*entry, "dnshostname");
    r.root.serverName = first(*entry, "servername");
    r.root.defaultNamingContext = first(*entry, "defaultnamingcontext");
    r.root.globalCatalogReady = first(*entry, "isglobalcatalogready").compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
    for (const QByteArray& c : entry->value(QStringLiteral("supportedcapabilities")))
        if (c == kActiveDirectoryCapability)
            r.root.activeDirectory = true;
    if (!r.root.activeDirectory || r.root.serverName.isEmpty()) {
        r.error = QStringLiteral("%1 is not an Active Directory domain controller").arg(p.server);
        return r;
    }
    if (p.gc && !r.root.globalCatalogReady) {
        r.error = QStringLiteral("%1 is not a ready global catalog").arg(p.server);
        return r;
    }
    r.error.clear();
    r.ok = true;
    return r;
}

QString LdapDirectory::siteOfServer(const QString& server)
{
    const BindResult b = bind(QStringLiteral("LDAP://%1:389").arg(server));
    return b.ok ? siteFromServerDn(b.root.serverName) : QString();
}

QString LdapDirectory::siteOfComputer(const QString&)
{
    // Only this computer's site can be found out this way: its domain's DCs name the site of the
    // subnet our pings come from.
    if (!m_locator || !m_locator->available())
        return {};
    const QString domain = m_primaryDomain ? m_primaryDomain() : QString();
    const DcLookupResult r = m_locator->locate({QString(), domain, 0});
    return r.error == dcerr::Ok ? r.info.clientSiteName : QString();
}

} // namespace fw
