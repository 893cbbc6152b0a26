#include "directory/NameValidation.h"

#include "directory/NetTools.h"
#include "directory/ServerTests.h"
#include "platform/Prompter.h"

namespace fw {

bool bServerInDomain(const QString& server, const QString& domain)
{
    if (server.size() <= domain.size() || domain.isEmpty())
        return false;
    // The domain must be the name's tail, after a dot: "dc1xcorp.example.com" is not in corp.example.com.
    if (!server.endsWith(QLatin1Char('.') + domain, Qt::CaseInsensitive))
        return false;
    const QString host = server.left(server.size() - domain.size() - 1);
    return !host.isEmpty() && !host.contains(QLatin1Char('.'));
}

QString serverOutsideDomainText(const QString& server, const QString& domain)
{
    return QStringLiteral("The server needs to be in the currently selected domain.  ") + server +
           QStringLiteral(" is not part of the ") + domain + QStringLiteral(" domain.");
}

QString manualServerRefusal(const QString& name, const QString& domain)
{
    // A name that is no host name (blanks, ';', '!', a line break, thousands of characters) is refused with the
    // same words as one without a dot: it could only fail every test, and would end up in the log as it is.
    if (!name.contains(QLatin1Char('.')) || !net::isValidHostName(name))
        return server_text::kNoDot;
    if (domain.size() >= 2 && !bServerInDomain(name, domain))
        return serverOutsideDomainText(name, domain);
    return {};
}

void NameValidation::validateDomainControllerField(QString& field, const QString& selectedDomainCell, Prompter& prompter,
                                                   const std::function<void()>& enableSave)
{
    field = field.trimmed();
    if (field.isEmpty())
        return;
    const QString domain = selectedDomainCell.trimmed();
    if (const QString refused = manualServerRefusal(field, domain); !refused.isEmpty()) {
        prompter.inform(refused);
        field.clear();
        return;
    }
    if (domain.size() < 2)
        return;
    if (enableSave)
        enableSave();
}

void NameValidation::validateGlobalCatalogField(QString& field, Prompter& prompter, const std::function<void()>& enableSave)
{
    field = field.trimmed();
    if (field.isEmpty())
        return;
    if (const QString refused = manualServerRefusal(field, QString()); !refused.isEmpty()) {
        prompter.inform(refused);
        field.clear();
    }
    if (enableSave)
        enableSave();
}

} // namespace fw
