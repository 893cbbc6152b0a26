#include "directory/NameValidation.h"

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
    return QStringLiteral("The server needs to be in the currently selected domain.  ") + server + QStringLiteral(" is not part of the ") +
           domain + QStringLiteral(" domain.");
}

void NameValidation::validateDomainControllerField(QString& field, const QString& selectedDomainCell, Prompter& prompter,
                                                   const std::function<void()>& enableSave)
{
    field = field.trimmed();
    if (field.isEmpty())
        return;
    if (!field.contains(QLatin1Char('.'))) {
        prompter.inform(server_text::kNoDot);
        field.clear();
        return;
    }
    const QString domain = selectedDomainCell.trimmed();
    if (domain.size() < 2)
        return;
    if (!bServerInDomain(field, domain)) {
        prompter.inform(serverOutsideDomainText(field, domain));
        field.clear();
        return;
    }
    if (enableSave)
        enableSave();
}

void NameValidation::validateGlobalCatalogField(QString& field, Prompter& prompter, const std::function<void()>& enableSave)
{
    field = field.trimmed();
    if (field.isEmpty())
        return;
    if (!field.contains(QLatin1Char('.'))) {
        prompter.inform(server_text::kNoDot);
        field.clear();
    }
    if (enableSave)
        enableSave();
}

} // namespace fw
