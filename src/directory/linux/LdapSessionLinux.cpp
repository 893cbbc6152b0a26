#include "directory/LdapSession.h"

#include "directory/linux/LinuxSockets.h"

#include <ldap.h>
#include <openldap.h>
#include <sasl/sasl.h>
#include <unistd.h>

namespace fw {
namespace {

// Answers the SASL prompts with their defaults: GSSAPI needs no user input.
int saslInteract(LDAP*, unsigned, void*, void* in)
{
    for (auto* p = static_cast<sasl_interact_t*>(in); p && p->id != SASL_CB_LIST_END; ++p) {
        p->result = p->defresult ? p->defresult : "";
        p->len = p->defresult ? static_cast<unsigned>(strlen(p->defresult)) : 0;
    }
    return LDAP_SUCCESS;
}

QString ldapText(int rc)
{
    return QString::fromUtf8(ldap_err2string(rc));
}

} // namespace

LdapSession::~LdapSession()
{
    if (m_ld)
        ldap_unbind_ext_s(m_ld, nullptr, nullptr);
}

Result<void> LdapSession::arm(const char* step)
{
    const int left = m_deadline.remainingMs();
    if (left <= 0)
        return FwError{0, Deadline::cutShort(QString::fromLatin1(step), m_server)};
    struct timeval tv {
        left / 1000, (left % 1000) * 1000
    };
    ldap_set_option(m_ld, LDAP_OPT_NETWORK_TIMEOUT, &tv);
    ldap_set_option(m_ld, LDAP_OPT_TIMEOUT, &tv);
    return Result<void>::success();
}

Result<void> LdapSession::open(const QString& host, const QHostAddress& address, quint16 port, const QHostAddress& source,
                               const Deadline& deadline)
{
    m_deadline = deadline;
    m_server = host.isEmpty() ? address.toString() : host;
    const Result<int> connected = net::connectTcp(address, port, source, deadline, m_server);
    if (!connected)
        return connected.error();
    const int fd = *connected;
    QString urlHost = host.isEmpty() ? address.toString() : host;
    if (QHostAddress(urlHost).protocol() == QAbstractSocket::IPv6Protocol)
        urlHost = QLatin1Char('[') + urlHost + QLatin1Char(']');
    const QByteArray url = QStringLiteral("ldap://%1:%2").arg(urlHost).arg(port).toUtf8();
    const int rc = ldap_init_fd(fd, LDAP_PROTO_TCP, url.constData(), &m_ld);
    if (rc != LDAP_SUCCESS || !m_ld) {
        ::close(fd);
        m_ld = nullptr;
        return FwError{0, QStringLiteral("LDAP session on %1: %2").arg(QString::fromUtf8(url), ldapText(rc))};
    }
    // libldap allocates whatever length a reply declares; no rootDSE or netlogon reply comes near this.
    Sockbuf* sb = nullptr;
    ber_len_t maxIncoming = kMaxIncomingBytes;
    if (ldap_get_option(m_ld, LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS || !sb ||
        ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &maxIncoming) != 1) {
        ldap_unbind_ext_s(m_ld, nullptr, nullptr);
        m_ld = nullptr;
        return FwError{
            0, QStringLiteral("LDAP session on %1: the size of its replies cannot be limited").arg(QString::fromUtf8(url))};
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(m_ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    // The name in the URL is the service's name; no reverse lookup of the address.
    ldap_set_option(m_ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
    return Result<void>::success();
}

const char* LdapSession::bindMechanism()
{
    return "GSSAPI";
}

Result<void> LdapSession::bindAsUser()
{
    if (!m_ld)
        return FwError{0, QStringLiteral("GSSAPI bind without an LDAP session")};
    if (Result<void> armed = arm("GSSAPI bind"); !armed)
        return armed;
    const int rc = ldap_sasl_interactive_bind_s(m_ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET, saslInteract,
                                                nullptr);
    if (rc != LDAP_SUCCESS) {
        char* diag = nullptr;
        ldap_get_option(m_ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag);
        if (rc == LDAP_TIMEOUT || m_deadline.expired()) {
            if (diag)
                ldap_memfree(diag);
            return FwError{0, Deadline::cutShort(QStringLiteral("GSSAPI bind"), m_server)};
        }
        const FwError e{0, QStringLiteral("GSSAPI bind to %1: %2%3")
                               .arg(m_server, ldapText(rc),
                                    diag && *diag ? QStringLiteral(" (%1)").arg(QString::fromUtf8(diag)) : QString())};
        if (diag)
            ldap_memfree(diag);
        return e;
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
    QList<QByteArray> attrCopies = attributes;
    std::vector<char*> attrs;
    for (QByteArray& a : attrCopies)
        attrs.push_back(a.data());
    attrs.push_back(nullptr);
    const int left = std::max(1, m_deadline.remainingMs()); // a zero time limit would mean none
    struct timeval tv {
        left / 1000, (left % 1000) * 1000
    };
    LDAPMessage* res = nullptr;
    const int rc = ldap_search_ext_s(m_ld, base.constData(), LDAP_SCOPE_BASE, filter.constData(), attrs.data(), 0, nullptr,
                                     nullptr, &tv, 1, &res);
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
    for (char* a = ldap_first_attribute(m_ld, e, &ber); a; a = ldap_next_attribute(m_ld, e, ber)) {
        struct berval** vals = ldap_get_values_len(m_ld, e, a);
        QList<QByteArray>& list = out[QString::fromUtf8(a).toLower()];
        for (int i = 0; vals && vals[i]; ++i)
            list.append(QByteArray(vals[i]->bv_val, static_cast<qsizetype>(vals[i]->bv_len)));
        ldap_value_free_len(vals);
        ldap_memfree(a);
    }
    if (ber)
        ber_free(ber, 0);
    ldap_msgfree(res);
    return out;
}

QString siteFromServerDn(const QString& serverDn)
{
    LDAPDN dn = nullptr;
    const QByteArray raw = serverDn.toUtf8();
    if (raw.isEmpty() || ldap_str2dn(raw.constData(), &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS || !dn)
        return {};
    QString site;
    int i = 0;
    for (; dn[i] && i < 3; ++i) {
        if (i == 2 && dn[i][0])
            site = QString::fromUtf8(dn[i][0]->la_value.bv_val, static_cast<qsizetype>(dn[i][0]->la_value.bv_len));
    }
    // Only a DN under CN=Sites names a site.
    if (!(dn[0] && dn[1] && dn[2] && dn[3] &&
          QByteArray(dn[3][0]->la_value.bv_val, static_cast<qsizetype>(dn[3][0]->la_value.bv_len))
                  .compare("Sites", Qt::CaseInsensitive) == 0))
        site.clear();
    ldap_dnfree(dn);
    return site;
}

} // namespace fw
