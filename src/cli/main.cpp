#include "app/ContextFactory.h"
#include "cli/CliCommand.h"
#include "cli/CliPrompter.h"
#include "context/AppContext.h"
#include "platform/DebugChannel.h"
#include "platform/RegistryFileExposure.h"
#include "platform/RegistryStore.h"
#include "platform/Sleeper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>

namespace fw {

CliRegistry& CliRegistry::instance()
{
    static CliRegistry r;
    return r;
}

namespace {

void usage(QTextStream& s)
{
    s << "Usage: ferrowind COMMAND [OPTIONS]\n\n"
         "The command-line companion of the Ferrowind settings tool for Velmora servers.\n"
         "Every command takes --help. Exit status: 0 ok, 1 the checked thing failed, 2 usage or environment error.\n\n"
         "Commands:\n";
    for (const CliCommand& c : CliRegistry::instance().commands())
        s << "  " << c.name.leftJustified(18) << c.summary << '\n';
    s << "\nOptions:\n  --help      show this help\n  --version   show the tool's version\n";
    s << "\nThe installation's registry is read from $FERROWIND_REGISTRY (default /etc/ferrowind/velmora.reg).\n";
}

} // namespace
} // namespace fw

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ferrowind"));
    // Debugger-channel chatter stays out of scripts' output unless asked for.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("ferrowind.debugger=false"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments().mid(1);

    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h") ||
        args.first() == QLatin1String("help")) {
        fw::usage(args.isEmpty() ? err : out);
        return args.isEmpty() ? fw::ExitUsage : fw::ExitOk;
    }
    if (args.first() == QLatin1String("--version")) {
        out << "ferrowind " << fw::AppContext::programVersion() << Qt::endl;
        return fw::ExitOk;
    }

    // Longest registered name that matches the leading words ("settings show" before "settings").
    const fw::CliCommand* chosen = nullptr;
    int words = 0;
    for (const fw::CliCommand& c : fw::CliRegistry::instance().commands()) {
        const QStringList parts = c.name.split(QLatin1Char(' '));
        if (parts.size() <= args.size() && args.mid(0, parts.size()) == parts && parts.size() > words) {
            chosen = &c;
            words = parts.size();
        }
    }
    if (!chosen) {
        err << "ferrowind: unknown command '" << args.join(QLatin1Char(' ')) << "'\n\n";
        fw::usage(err);
        return fw::ExitUsage;
    }

    bool assumeYes = false;
    std::unique_ptr<fw::AppContext> ctx;
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    fw::CliEnv env{args.mid(words), out, err, {}, &assumeYes};
    env.context = [&]() -> fw::AppContext& {
        if (!ctx) {
            auto debug = std::make_unique<fw::StderrDebugChannel>();
            auto prompter = std::make_unique<fw::CliPrompter>(err, assumeYes);
            ctx = fw::makeSystemContext(exe.completeBaseName(), exe.absolutePath(), std::move(prompter),
                                        std::make_unique<fw::ThreadSleeper>(), std::move(debug));
            // Without a readable file every setting reads as its default, and the failure that follows (a database
            // that cannot be opened, a version not found) would not say why.
            const QString registry = fw::registryFilePath();
            if (chosen->readsInstallation) {
                if (const QString problem = fw::RegFileStore::problemWith(registry); !problem.isEmpty())
                    err << "ferrowind " << chosen->name << ": the registry file " << registry << ' ' << problem
                        << "; set FERROWIND_REGISTRY to the installation's registry file\n";
                if (const QString warning = fw::passwordExposureWarning(registry); !warning.isEmpty())
                    err << "ferrowind " << chosen->name << ": " << warning << "\n";
            }
        }
        return *ctx;
    };
    const int rc = chosen->run(env);
    out.flush();
    err.flush();
    return rc;
}
