#pragma once
#include "directory/DcLocatorBackend.h"

#include <memory>
#include <optional>

namespace fw {

// Locates a domain controller: set the inputs, call Refresh, read the results or the error.
// A failed lookup changes only LastError; the results keep the last successful lookup.
class CGetDcName {
public:
    // Runs one lookup with empty inputs at once (the local computer's own domain), as the object's
    // starting state. A null or unavailable backend never looks anything up.
    explicit CGetDcName(std::shared_ptr<DcLocatorBackend> backend);
    // Without the starting lookup, for callers that set their own inputs first (the command line).
    enum class NoInitialLookup { Tag };
    CGetDcName(std::shared_ptr<DcLocatorBackend> backend, NoInitialLookup);

    const QString& ComputerName() const { return m_computerName; }
    void setComputerName(const QString& v) { m_computerName = v; }
    bool Debugging() const { return m_debugging; }
    void setDebugging(bool v) { m_debugging = v; }
    const QString& DomainName() const { return m_domainName; }
    void setDomainName(const QString& v) { m_domainName = v; }
    // True when any bit of `flag` is set in the request flags.
    bool FlagsIn(quint32 flag) const { return (m_flagsIn & flag) != 0; }
    void setFlagsIn(quint32 flag, bool on) { m_flagsIn = on ? (m_flagsIn | flag) : (m_flagsIn & ~flag); }
    quint32 requestFlags() const { return m_flagsIn; }
    // Chose the wide or ANSI entry of the Windows locator; the backends here take the same text either way.
    bool Unicode() const { return m_unicode; }
    void setUnicode(bool v) { m_unicode = v; }

    const QString& ClientSiteName() const { return m_info.clientSiteName; }
    const QString& DcSiteName() const { return m_info.dcSiteName; }
    const QString& DnsForestName() const { return m_info.dnsForestName; }
    const QString& DomainControllerAddress() const { return m_info.domainControllerAddress; }
    qint32 DomainControllerAddressType() const { return m_info.domainControllerAddressType; }
    const QString& DomainControllerName() const { return m_info.domainControllerName; }
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; the empty GUID's text before any successful lookup.
    QString DomainGuid() const;
    qint32 FlagsOut() const { return static_cast<qint32>(m_info.flags); }
    qint32 LastError() const { return m_lastError; }
    QString LastErrorText() const { return errorText(m_lastError); }
    // What went wrong in the last failed lookup, beyond its code.
    const QString& LastErrorDetail() const { return m_lastDetail; }

    // The lookup draws from this deadline (a verdict it is part of); without one, each Refresh has its own.
    void setDeadline(const Deadline& deadline) { m_deadline = deadline; }

    void Refresh();

    static QString errorText(qint32 error);

private:
    std::shared_ptr<DcLocatorBackend> m_backend;
    bool m_available = false;
    QString m_computerName;
    QString m_domainName;
    quint32 m_flagsIn = 0;
    bool m_unicode = true;
    bool m_debugging = false;
    DomainControllerInfo m_info;
    qint32 m_lastError = 0;
    QString m_lastDetail;
    std::optional<Deadline> m_deadline;
};

} // namespace fw
