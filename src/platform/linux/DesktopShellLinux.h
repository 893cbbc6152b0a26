#pragma once
#include "platform/Shell.h"

namespace fw {

// xdg-open for documents, folders and addresses, QProcess::startDetached for programs. A document whose type
// xdg-mime knows no program for is refused with code 31, as the platform reports a missing association.
class DesktopShell final : public Shell {
public:
    explicit DesktopShell(QString opener = QStringLiteral("xdg-open"), QString mimeQuery = QStringLiteral("xdg-mime"))
        : m_opener(std::move(opener)), m_mimeQuery(std::move(mimeQuery))
    {
    }
    Result openDocument(const QString& path) override;
    Result openFolder(const QString& path) override;
    Result openAddress(const QString& address) override;
    Result startProgram(const QString& program, const QStringList& args) override;

private:
    // False only when the association query ran and named no program for the type.
    bool hasAssociation(const QString& mimeType) const;
    QString m_opener;
    QString m_mimeQuery;
};

} // namespace fw
