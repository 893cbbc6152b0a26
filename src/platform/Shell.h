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
        int code = 0;       // 0 on success; 2 for a missing file, as the platform reports it
        QString message;    // what went wrong, for the administrator
    };
    virtual ~Shell() = default;
    virtual Result openDocument(const QString& path) = 0;
    virtual Result openFolder(const QString& path) = 0;
    virtual Result startProgram(const QString& program, const QStringList& args) = 0;
};

// xdg-open for documents and folders, QProcess::startDetached for programs.
class DesktopShell final : public Shell {
public:
    Result openDocument(const QString& path) override;
    Result openFolder(const QString& path) override;
    Result startProgram(const QString& program, const QStringList& args) override;
};

// Records the requests; answers with `next`.
class RecordingShell final : public Shell {
public:
    struct Call { QString kind; QString target; QStringList args; };
    Result openDocument(const QString& path) override { calls.append({"document", path, {}}); return next; }
    Result openFolder(const QString& path) override { calls.append({"folder", path, {}}); return next; }
    Result startProgram(const QString& program, const QStringList& args) override
    {
        calls.append({"program", program, args});
        return next;
    }
    QList<Call> calls;
    Result next{true, 0, {}};
};

} // namespace fw
