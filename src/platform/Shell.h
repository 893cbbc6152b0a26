#pragma once
#include <QString>
#include <QStringList>
#include <QList>

namespace fw {

// Opening documents and folders with the desktop's associated program, and starting programs.
// Never goes through a command interpreter: programs get their arguments as a list.
class Shell {
public:
    struct Result {
        bool ok = false;
        int code = 0;    // 0 on success; 2 for a missing file, as the platform reports it
        QString message; // what went wrong, for the administrator
    };
    virtual ~Shell() = default;
    virtual Result openDocument(const QString& path) = 0;
    virtual Result openFolder(const QString& path) = 0;
    // A web address (http or https only), in the desktop's browser.
    virtual Result openAddress(const QString& address) = 0;
    virtual Result startProgram(const QString& program, const QStringList& args) = 0;
};

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
