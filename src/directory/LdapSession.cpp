#include "directory/LdapSession.h"

#include "directory/NetTools.h"

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

bool LdapSession::arm(const char* step)
{
    const int left = m_deadline.remainingMs();
    if (left <= 0) {
        m_error = Deadline::cutShort(QString::fromLatin1(step), m_server);
        return false;
    }
    struct timeval tv {left / 1000, (left % 1000) * 1000};
    ldap_set_option(m_ld, LDAP_OPT_NETWORK_TIMEOUT, &tv);
    ldap_set_option(m_ld, LDAP_OPT_TIMEOUT, &tv);
    return true;
}

bool LdapSession::open(const QString& host, const QHostAddress& address, quint16 port, const QHostAddress& source, const Deadline& deadline)
{
    m_deadline = deadline;
    m_server = host.isEmpty() ? address.toString() : host;
    const int fd = net::connectTcp(address, port, source, deadline, &m_error, m_server);
    if (fd < 0)
        return false;
    QString urlHost = host.isEmpty() ? address.toString() : host;
    if (QHostAddress(urlHost).protocol() == QAbstractSocket::IPv6Protocol)
        urlHost = QLatin1Char('[') + urlHost + QLatin1Char(']');
    const QByteArray url = QStringLiteral("ldap://%1:%2").arg(urlHost).arg(port).toUtf8();
    const int rc = ldap_init_fd(fd, LDAP_PROTO_TCP, url.constData(), &m_ld);
    if (rc != LDAP_SUCCESS || !m_ld) {
        ::close(fd);
        m_ld = nullptr;
        m_error = QStringLiteral("LDAP session on %1: %2").arg(QString::fromUtf8(url), ldapText(rc));
        return false;
    }
    // libldap allocates whatever length a reply declares; no rootDSE or netlogon reply comes near this.
    Sockbuf* sb = nullptr;
    ber_len_t maxIncoming = kMaxIncomingBytes;
    if (ldap_get_option(m_ld, LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS || !sb ||
        ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &maxIncoming) != 1) {
        ldap_unbind_ext_s(m_ld, nullptr, nullptr);
        m_ld = nullptr;
        m_error = QStringLiteral("LDAP session on %1: the size of its replies cannot be limited").arg(QString::fromUtf8(url));
        return false;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(m_ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    // The name in the URL is the service's name; no reverse lookup of the address.
    ldap_set_option(m_ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
    return true;
}

bool LdapSession::bindGssapi()
{
    if (!m_ld || !arm("GSSAPI bind"))
        return false;
    const int rc = ldap_sasl_interactive_bind_s(m_ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET, saslInteract, nullptr);
    if (rc != LDAP_SUCCESS) {
        char* diag = nullptr;
        ldap_get_option(m_ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag);
        if (rc == LDAP_TIMEOUT || m_deadline.expired()) {
            if (diag)
                ldap_memfree(diag);
            m_error = Deadline::cutShort(QStringLiteral("GSSAPI bind"), m_server);
            return false;
        }
        m_error = QStringLiteral("GSSAPI bind to %1: %2%3").arg(m_server, ldapText(rc), diag && *diag ? QStringLiteral(" (%1)").arg(QString::fromUtf8(diag)) : QString());
        if (diag)
            ldap_memfree(diag);
        return false;
    }
    return true;
}

std::optional<LdapEntry> LdapSession::readBase(const QByteArray& base, const QByteArray& filter, const QList<QByteArray>& attributes,
                                              bool* noEntry)
{
    if (noEntry)
        *noEntry = false;
    if (!m_ld || !arm("LDAP search"))
        return std::nullopt;
    QList<QByteArray> attrCopies = attributes;
    std::vector<char*> attrs;
    for (QByteArray& a : attrCopies)
        attrs.push_back(a.data());
    attrs.push_back(nullptr);
    const int left = std::max(1, m_deadline.remainingMs()); // a zero time limit would mean none
    struct timeval tv {left / 1000, (left % 1000) * 1000};
    LDAPMessage* res = nullptr;
    const int rc = ldap_search_ext_s(m_ld, base.constData(), LDAP_SCOPE_BASE, filter.constData(), attrs.data(), 0, nullptr, nullptr, &tv,
                                     1, &res);
    if (rc != LDAP_SUCCESS) {
        m_error = rc == LDAP_TIMEOUT || m_deadline.expired() ? Deadline::cutShort(QStringLiteral("LDAP search"), m_server)
                                                             : QStringLiteral("search of %1: %2").arg(m_server, ldapText(rc));
        if (res)
            ldap_msgfree(res);
        return std::nullopt;
    }
    LDAPMessage* e = ldap_first_entry(m_ld, res);
    if (!e) {
        if (noEntry)
            *noEntry = true;
        m_error = QStringLiteral("search returned no entry");
        ldap_msgfree(res);
        return std::nullopt;
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
          QByteArray(dn[3][0]->la_value.bv_val, static_cast<qsizetype>(dn[3][0]->la_value.bv_len)).compare("Sites", Qt::CaseInsensitive) == 0))
        site.clear();
    ldap_dnfree(dn);
    return site;
}

} // namespace fw
