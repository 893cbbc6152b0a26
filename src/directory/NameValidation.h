#pragma once
#include <QString>
#include <functional>

namespace fw {

class Prompter;

// True when the server is written as one host label, a dot and the domain name (case ignored).
bool bServerInDomain(const QString& server, const QString& domain);

// "The server needs to be in the currently selected domain.  dc1.x is not part of the corp.example.com domain."
QString serverOutsideDomainText(const QString& server, const QString& domain);

// Why a manual server name is refused, in the words the fields show, or empty when it is accepted. The name
// must be a fully qualified DNS host name (a dot, nothing but letters, digits and hyphens in its labels, at most
// 253 characters); a domain controller must also belong to `domain` (empty or shorter than 2: not checked).
// `name` is taken as it is: the fields trim it first.
QString manualServerRefusal(const QString& name, const QString& domain);

// The validate handlers of the manual server fields, run when focus leaves a field. They never hold the
// focus; they may rewrite or clear the field and enable the panel's Save button.
class NameValidation {
public:
    // txtDCManualPrimary / txtDCManualSecondary; `selectedDomainCell` is the "Domain" cell of the selected row.
    static void validateDomainControllerField(QString& field, const QString& selectedDomainCell, Prompter& prompter,
                                              const std::function<void()>& enableSave);
    // txtGCManualPrimary / txtGCManualSecondary.
    static void validateGlobalCatalogField(QString& field, Prompter& prompter, const std::function<void()>& enableSave);
};

} // namespace fw
