#include "directory/NetlogonPacket.h"

#include <lber.h>
#include <ldap.h>

#include <memory>
#include <optional>

// The CLDAP ping's LDAP framing, encoded and decoded with OpenLDAP's BER library. Only the Linux locator pings:
// on Windows the system's locator does.
namespace fw::netlogon {
namespace {

struct BerFree {
    void operator()(BerElement* b) const { ber_free(b, 1); }
};
using BerPtr = std::unique_ptr<BerElement, BerFree>;

} // namespace

QByteArray encodePingRequest(int messageId, const QString& dnsDomain, quint32 ntVersion)
{
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber)
        return {};
    const QByteArray domain = dnsDomain.toUtf8();
    const QByteArray nt = ntVerBytes(ntVersion);
    // LDAPMessage { messageID, SearchRequest { "", base, never, 0, 0, FALSE, filter, { "Netlogon" } } }
    if (ber_printf(ber.get(), "{it{seeiib", static_cast<ber_int_t>(messageId), static_cast<ber_tag_t>(LDAP_REQ_SEARCH), "",
                   static_cast<ber_int_t>(LDAP_SCOPE_BASE), static_cast<ber_int_t>(LDAP_DEREF_NEVER), 0, 0, 0) < 0)
        return {};
    const ber_tag_t andTag = LDAP_FILTER_AND;
    const ber_tag_t eqTag = LDAP_FILTER_EQUALITY;
    int rc = 0;
    if (!domain.isEmpty()) {
        rc |= ber_printf(ber.get(), "t[", andTag) < 0;
        rc |= ber_printf(ber.get(), "t{so}", eqTag, "DnsDomain", domain.constData(), static_cast<ber_len_t>(domain.size())) < 0;
    }
    rc |= ber_printf(ber.get(), "t{so}", eqTag, "NtVer", nt.constData(), static_cast<ber_len_t>(nt.size())) < 0;
    if (!domain.isEmpty())
        rc |= ber_printf(ber.get(), "]") < 0;
    rc |= ber_printf(ber.get(), "{s}}}", "Netlogon") < 0;
    if (rc)
        return {};
    struct berval* bv = nullptr;
    if (ber_flatten(ber.get(), &bv) != 0 || !bv)
        return {};
    QByteArray out(bv->bv_val, static_cast<qsizetype>(bv->bv_len));
    ber_bvfree(bv);
    return out;
}

Result<QByteArray> decodePingReply(const QByteArray& datagram, int expectedMessageId, bool* declined)
{
    if (declined)
        *declined = false;
    if (datagram.isEmpty())
        return FwError{0, QStringLiteral("empty datagram")};
    struct berval in;
    in.bv_len = static_cast<ber_len_t>(datagram.size());
    in.bv_val = const_cast<char*>(datagram.constData());
    BerPtr ber(ber_init(&in)); // copies the bytes
    if (!ber)
        return FwError{0, QStringLiteral("out of memory")};
    ber_int_t id = 0;
    if (ber_scanf(ber.get(), "{i", &id) == LBER_ERROR)
        return FwError{0, QStringLiteral("not an LDAP message")};
    if (id != expectedMessageId)
        return FwError{0, QStringLiteral("reply to message %1, expected %2").arg(id).arg(expectedMessageId)};
    ber_len_t len = 0;
    const ber_tag_t op = ber_peek_tag(ber.get(), &len);
    if (op == LDAP_RES_SEARCH_RESULT) {
        ber_int_t code = 0;
        ber_scanf(ber.get(), "{e", &code);
        if (declined)
            *declined = true;
        return FwError{0, QStringLiteral("no entry in the reply (result %1)").arg(code)};
    }
    if (op != LDAP_RES_SEARCH_ENTRY)
        return FwError{0, QStringLiteral("unexpected operation 0x%1 in the reply").arg(op, 0, 16)};
    struct berval dn {};
    if (ber_scanf(ber.get(), "{m", &dn) == LBER_ERROR)
        return FwError{0, QStringLiteral("malformed search entry")};
    char* last = nullptr;
    for (ber_tag_t t = ber_first_element(ber.get(), &len, &last); t != LBER_DEFAULT;
         t = ber_next_element(ber.get(), &len, last)) {
        struct berval type {};
        BerVarray vals = nullptr;
        if (ber_scanf(ber.get(), "{m[W]}", &type, &vals) == LBER_ERROR)
            return FwError{0, QStringLiteral("malformed attribute in the reply")};
        const bool isNetlogon =
            QByteArray(type.bv_val, static_cast<qsizetype>(type.bv_len)).compare("Netlogon", Qt::CaseInsensitive) == 0;
        std::optional<QByteArray> value;
        if (isNetlogon && vals && vals[0].bv_val)
            value = QByteArray(vals[0].bv_val, static_cast<qsizetype>(vals[0].bv_len));
        ber_bvarray_free(vals);
        if (value)
            return *std::move(value);
    }
    return FwError{0, QStringLiteral("the reply holds no Netlogon value")};
}

} // namespace fw::netlogon
