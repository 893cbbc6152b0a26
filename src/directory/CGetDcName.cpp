#include "directory/CGetDcName.h"

#include "directory/NetlogonPacket.h"

namespace fw {

CGetDcName::CGetDcName(std::shared_ptr<DcLocatorBackend> backend)
    : m_backend(std::move(backend)), m_available(m_backend && m_backend->available())
{
    Refresh();
}

CGetDcName::CGetDcName(std::shared_ptr<DcLocatorBackend> backend, NoInitialLookup)
    : m_backend(std::move(backend)), m_available(m_backend && m_backend->available())
{
}

QString CGetDcName::DomainGuid() const
{
    const QByteArray g = m_info.domainGuid.size() == 16 ? m_info.domainGuid : QByteArray(16, '\0');
    return netlogon::guidText(g);
}

void CGetDcName::Refresh()
{
    if (!m_available)
        return;
    DcLookupRequest request{m_computerName, m_domainName, m_flagsIn};
    if (m_deadline)
        request.deadline = *m_deadline;
    const DcLookupResult r = m_backend->locate(request);
    m_lastError = r.error;
    m_lastDetail = r.detail;
    if (r.error != dcerr::Ok)
        return;
    m_info = r.info;
    m_domainName = r.info.domainName;
}

QString CGetDcName::errorText(qint32 error)
{
    switch (error) {
    case 0: return QStringLiteral("No error.");
    case 8: return QStringLiteral("Insufficient memory is available.");
    case 1004: return QStringLiteral("The Flags parameter has conflicting or superfluous bits set.");
    case 1212:
        return QStringLiteral("The format of the "
                              "specified DomainName is invalid.");
    case 1355:
        return QStringLiteral("No DC is available for the "
                              "specified domain or the domain does not exist.");
    default: return QString();
    }
}

} // namespace fw
