#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "directory/CGetDcName.h"
#include "directory/NetlogonPacket.h"

#include <QElapsedTimer>
#include <QJsonObject>

namespace fw {
namespace {

QString flagNames(quint32 f)
{
    // clang-format off
    static const std::pair<quint32, const char*> names[] = {
        {dsflag::Pdc, "pdc"}, {dsflag::Gc, "gc"}, {dsflag::Ldap, "ldap"}, {dsflag::Ds, "ds"}, {dsflag::Kdc, "kdc"},
        {dsflag::Timeserv, "timeserv"}, {dsflag::Closest, "closest"}, {dsflag::Writable, "writable"},
        {dsflag::GoodTimeserv, "good-timeserv"}, {dsflag::Ndnc, "ndnc"}, {dsflag::SelectSecretDomain6, "read-only"},
        {dsflag::FullSecretDomain6, "full-secret"}, {dsflag::Ws, "ws"}, {dsflag::DnsController, "dns-controller"},
        {dsflag::DnsDomain, "dns-domain"}, {dsflag::DnsForest, "dns-forest"}};
    // clang-format on
    QStringList out;
    for (const auto& [bit, name] : names)
        if (f & bit)
            out << QLatin1String(name);
    return out.join(QLatin1Char(' '));
}

} // namespace

int runLocate(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Ask this server directly (its own flags answer)."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption flags(QStringLiteral("flags"),
                                   QStringLiteral("Locator request flags, hexadecimal (e.g. 0x1000 writable)."),
                                   QStringLiteral("HEX"), QStringLiteral("0"));
    const QCommandLineOption source(QStringLiteral("source"), QStringLiteral("Local address the pings leave from."),
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    p.addOptions({server, flags, source, json});
    p.addPositionalArgument(QStringLiteral("DOMAIN"), QStringLiteral("DNS name of the domain; empty: this computer's domain."));
    if (int rc = parseCommandLine(
            p, env, QStringLiteral("locate"),
            QStringLiteral("Locate a domain controller of DOMAIN the way Windows clients do (DNS SRV records, "
                           "then netlogon pings) and print every result field.\n"
                           "Exit status 1 when no domain controller answers."),
            0, 1);
        rc >= 0)
        return rc;
    bool ok = false;
    QString flagText = p.value(flags);
    const quint32 requestFlags = flagText.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? flagText.mid(2).toUInt(&ok, 16)
                                                                                               : flagText.toUInt(&ok, 16);
    if (!ok) {
        env.err << "ferrowind locate: --flags needs a hexadecimal number\n";
        return ExitUsage;
    }
    AppContext& ctx = env.context();
    auto locator = ctx.seams().locator;
    if (!locator) {
        env.err << "ferrowind locate: no domain controller locator on this system\n";
        return ExitUsage;
    }
    if (p.isSet(source)) {
        const QHostAddress a(p.value(source));
        if (a.isNull()) {
            env.err << "ferrowind locate: --source needs an IP address\n";
            return ExitUsage;
        }
        if (!locator->setSourceAddress(a)) {
            env.err << "ferrowind locate: --source cannot be used here: the system's locator chooses the address itself\n";
            return ExitUsage;
        }
    }
    CGetDcName dc(locator, CGetDcName::NoInitialLookup::Tag);
    dc.setDomainName(p.positionalArguments().value(0));
    dc.setComputerName(p.value(server));
    for (quint32 bit = 1; bit; bit <<= 1)
        if (requestFlags & bit)
            dc.setFlagsIn(bit, true);
    QElapsedTimer timer;
    timer.start();
    dc.Refresh();
    const qint64 ms = timer.elapsed();
    const bool found = dc.LastError() == 0;
    if (p.isSet(json)) {
        QJsonObject o;
        o[QStringLiteral("LastError")] = dc.LastError();
        o[QStringLiteral("LastErrorText")] = dc.LastErrorText();
        if (!found)
            o[QStringLiteral("detail")] = dc.LastErrorDetail();
        if (found) {
            o[QStringLiteral("DomainControllerName")] = dc.DomainControllerName();
            o[QStringLiteral("DomainControllerAddress")] = dc.DomainControllerAddress();
            o[QStringLiteral("DomainControllerAddressType")] = dc.DomainControllerAddressType();
            o[QStringLiteral("DomainGuid")] = dc.DomainGuid();
            o[QStringLiteral("DomainName")] = dc.DomainName();
            o[QStringLiteral("DnsForestName")] = dc.DnsForestName();
            o[QStringLiteral("FlagsOut")] = dc.FlagsOut();
            o[QStringLiteral("FlagNames")] = flagNames(static_cast<quint32>(dc.FlagsOut()));
            o[QStringLiteral("DcSiteName")] = dc.DcSiteName();
            o[QStringLiteral("ClientSiteName")] = dc.ClientSiteName();
        }
        o[QStringLiteral("elapsedMs")] = ms;
        printJson(env.out, QJsonDocument(o));
    } else if (found) {
        env.out << "DomainControllerName        " << dc.DomainControllerName() << "\n"
                << "DomainControllerAddress     " << dc.DomainControllerAddress() << "\n"
                << "DomainControllerAddressType " << dc.DomainControllerAddressType() << "\n"
                << "DomainGuid                  " << dc.DomainGuid() << "\n"
                << "DomainName                  " << dc.DomainName() << "\n"
                << "DnsForestName               " << dc.DnsForestName() << "\n"
                << "FlagsOut                    "
                << QStringLiteral("0x%1").arg(static_cast<quint32>(dc.FlagsOut()), 8, 16, QLatin1Char('0')) << " ("
                << flagNames(static_cast<quint32>(dc.FlagsOut())) << ")\n"
                << "DcSiteName                  " << dc.DcSiteName() << "\n"
                << "ClientSiteName              " << dc.ClientSiteName() << "\n"
                << "LastError                   0 (" << dc.LastErrorText() << ")\n";
    } else {
        env.out << "LastError " << dc.LastError() << " (" << dc.LastErrorText() << ")\n";
        if (!dc.LastErrorDetail().isEmpty())
            env.err << "ferrowind locate: " << dc.LastErrorDetail() << "\n";
    }
    return found ? ExitOk : ExitFailed;
}
} // namespace fw
