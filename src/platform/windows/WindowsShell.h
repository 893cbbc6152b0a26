#pragma once
#include "platform/Shell.h"

namespace fw {

// ShellExecuteW: documents and folders open with their associated program, addresses in the default browser,
// programs start with their arguments quoted for CommandLineToArgvW (no command interpreter in between).
class WindowsShell final : public Shell {
public:
    Result openDocument(const QString& path) override;
    Result openFolder(const QString& path) override;
    Result openAddress(const QString& address) override;
    Result startProgram(const QString& program, const QStringList& args) override;

    // The arguments as one command line that CommandLineToArgvW splits back into them.
    static QString quoteArguments(const QStringList& args);
};

} // namespace fw
