#include "directory/LdapSession.h"

#include <algorithm>
#include <vector>

#include <windows.h>
#include <winldap.h>
#include <winber.h>

namespace fw {
namespace {

QString ldapText(ULONG rc)
{
    const wchar_t* text = ldap_err2stringW(rc);
    return text ? QString::fromWCharArray(text) : QStringLiteral("LDAP error %1").arg(rc);
}

const wchar_t* wide(const QString& s)
{
    return reinterpret_cast<const wchar_t*>(s.utf16());
}

l_timeval timeLeft(const Deadline& d)
{
    const int left = std::max(1, d.remainingMs()); // a zero time would mean none
    return l_timeval{left / 1000, (left % 1000) * 1000};
}

} // namespace

LdapSession::~LdapSession()
{
    if (m_ld)
        ldap_unbind(m_ld);
}

const char* LdapSession::bindMechanism()
{
    return "Negotiate";
}

Result<void> LdapSession::arm(const char* step)
{
    const int left = m_deadline.remainingMs();
    if (left <= 0)
        return FwError{0, Deadline::cutShort(QString::fromLatin1(step), m_server)};
    ULONG seconds = static_cast<ULONG>(std::max(1, (left + 999) / 1000));
    ldap_set_optionW(m_ld, LDAP_OPT_TIMELIMIT, &seconds);
    ULONG ms = static_cast<ULONG>(left);
    ldap_set_optionW(m_ld, LDAP_OPT_PING_LIMIT, &ms);
    return Result<void>::success();
}

Result<void> LdapSession::open(const QString& host, const QHostAddress& address, quint16 port, const QHostAddress& source,
                               const Deadline& deadline)
{
    m_deadline = deadline;
    m_server = host.isEmpty() ? address.toString() : host;
    if (!source.isNull())
        return FwError{0, QStringLiteral("LDAP session on %1: Windows cannot connect from a chosen source address (%2)")
                              .arg(m_server, source.toString())};
    // The server's name, not its address, when there is one: Negotiate asks Kerberos for ldap/NAME. wldap32
    // resolves it itself, to the same addresses the caller resolved.
    const QString target = host.isEmpty() ? address.toString() : host;
    m_ld = ldap_initW(const_cast<PWCHAR>(wide(target)), port);
    if (!m_ld)
        return FwError{0, QStringLiteral("LDAP session on %1: %2").arg(m_server, ldapText(LdapGetLastError()))};
    ULONG version = LDAP_VERSION3;
    ldap_set_optionW(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_optionW(m_ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    if (!host.isEmpty())
        ldap_set_optionW(m_ld, LDAP_OPT_AREC_EXCLUSIVE, LDAP_OPT_ON);
    if (Result<void> armed = arm("LDAP connect"); !armed)
        return armed;
    l_timeval tv = timeLeft(m_deadline);
    const ULONG rc = ldap_connect(m_ld, &tv);
    if (rc != LDAP_SUCCESS) {
        ldap_unbind(m_ld);
        m_ld = nullptr;
        if (rc == LDAP_TIMEOUT || m_deadline.expired())
            return FwError{0, Deadline::cutShort(QStringLiteral("LDAP connect"), m_server)};
        return FwError{0, QStringLiteral("LDAP connect to %1:%2: %3").arg(m_server).arg(port).arg(ldapText(rc))};
    }
    return Result<void>::success();
}

Result<void> LdapSession::bindAsUser()
{
    if (!m_ld)
        return FwError{0, QStringLiteral("Negotiate bind without an LDAP session")};
    if (Result<void> armed = arm("Negotiate bind"); !armed)
        return armed;
    // No credentials: those of the logged-on user's session.
    const ULONG rc = ldap_bind_sW(m_ld, nullptr, nullptr, LDAP_AUTH_NEGOTIATE);
    if (rc != LDAP_SUCCESS) {
        if (rc == LDAP_TIMEOUT || m_deadline.expired())
            return FwError{0, Deadline::cutShort(QStringLiteral("Negotiate bind"), m_server)};
        return FwError{0, QStringLiteral("Negotiate bind to %1: %2").arg(m_server, ldapText(rc))};
    }
    return Result<void>::success();
}

Result<LdapEntry> LdapSession::readBase(const QByteArray& base, const QByteArray& filter, const QList<QByteArray>& attributes,
                                        bool* noEntry)
{
    if (noEntry)
        *noEntry = false;
    if (!m_ld)
        return FwError{0, QStringLiteral("LDAP search without an LDAP session")};
    if (Result<void> armed = arm("LDAP search"); !armed)
        return armed.error();
    QList<QString> names;
    for (const QByteArray& a : attributes)
        names.append(QString::fromUtf8(a));
    std::vector<PWCHAR> attrs;
    for (const QString& n : names)
        attrs.push_back(const_cast<PWCHAR>(wide(n)));
    attrs.push_back(nullptr);
    const QString wbase = QString::fromUtf8(base);
    const QString wfilter = QString::fromUtf8(filter);
    l_timeval tv = timeLeft(m_deadline);
    LDAPMessage* res = nullptr;
    const ULONG rc = ldap_search_ext_sW(m_ld, const_cast<PWCHAR>(wide(wbase)), LDAP_SCOPE_BASE, const_cast<PWCHAR>(wide(wfilter)),
                                        attrs.data(), 0, nullptr, nullptr, &tv, 1, &res);
    if (rc != LDAP_SUCCESS) {
        if (res)
            ldap_msgfree(res);
        return FwError{0, rc == LDAP_TIMEOUT || m_deadline.expired()
                              ? Deadline::cutShort(QStringLiteral("LDAP search"), m_server)
                              : QStringLiteral("search of %1: %2").arg(m_server, ldapText(rc))};
    }
    LDAPMessage* e = ldap_first_entry(m_ld, res);
    if (!e) {
        if (noEntry)
            *noEntry = true;
        ldap_msgfree(res);
        return FwError{0, QStringLiteral("search returned no entry")};
    }
    LdapEntry out;
    BerElement* ber = nullptr;
    for (PWCHAR a = ldap_first_attributeW(m_ld, e, &ber); a; a = ldap_next_attributeW(m_ld, e, ber)) {
        berval** vals = ldap_get_values_lenW(m_ld, e, a);
        QList<QByteArray>& list = out[QString::fromWCharArray(a).toLower()];
        for (int i = 0; vals && vals[i]; ++i)
            list.append(QByteArray(vals[i]->bv_val, static_cast<qsizetype>(vals[i]->bv_len)));
        if (vals)
            ldap_value_free_len(vals);
        ldap_memfreeW(a);
    }
    if (ber)
        ber_free(ber, 0);
    ldap_msgfree(res);
    return out;
}

QString siteFromServerDn(const QString& serverDn)
{
    if (serverDn.isEmpty())
        return {};
    PWCHAR* parts = ldap_explode_dnW(const_cast<PWCHAR>(wide(serverDn)), 1);
    if (!parts)
        return {};
    int n = 0;
    while (n < 4 && parts[n])
        ++n;
    // Only a DN under CN=Sites names a site.
    QString site;
    if (n == 4 && QString::fromWCharArray(parts[3]).compare(QLatin1String("Sites"), Qt::CaseInsensitive) == 0)
        site = QString::fromWCharArray(parts[2]);
    ldap_value_freeW(parts);
    return site;
}

} // namespace fw
