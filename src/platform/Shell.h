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

// The platform's own shell: DesktopShell (platform/linux, xdg-open) and WindowsShell (platform/windows,
// ShellExecuteW).

} // namespace fw
