#include "app/ContextFactory.h"
#include "app/PlatformSeams.h"
#include "cli/CliPrompter.h"
#include "cli/CommandTable.h"
#include "cli/StandardOutput.h"
#include "context/AppContext.h"
#include "db/DriverWarnings.h"
#include "platform/DebugChannel.h"
#include "platform/LeftThreads.h"
#include "platform/RegistryFileExposure.h"
#include "platform/RegistryStore.h"
#include "platform/Sleeper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>

namespace fw {

namespace {

void usage(QTextStream& s)
{
    s << "Usage: ferrowind COMMAND [OPTIONS]\n\n"
         "The command-line companion of the Ferrowind settings tool for Velmora servers.\n"
         "Every command takes --help. Exit status: 0 ok, 1 the checked thing failed, 2 usage or environment error\n"
         "(an answer that could not be written to standard output included).\n\n"
         "Commands:\n";
    for (const CliCommand& c : commandTable())
        s << "  " << c.name.leftJustified(18) << c.summary << '\n';
    s << "\nOptions:\n  --help      show this help\n  --version   show the tool's version\n";
    s << "\nThe installation's registry is read from $FERROWIND_REGISTRY (" << registryWhenUnset() << ").\n";
}

// The commands of a group ("show" and "set" of "settings"), as `settings` alone or with --help lists them.
void groupUsage(QTextStream& s, const QString& group)
{
    s << "Usage: ferrowind " << group << " COMMAND [OPTIONS]\n\nCommands:\n";
    for (const CliCommand& c : commandTable())
        if (c.name.startsWith(group + QLatin1Char(' ')))
            s << "  " << c.name.mid(group.size() + 1).leftJustified(18) << c.summary << '\n';
    s << "\nEvery command takes --help.\n";
}

bool isGroup(const QString& word)
{
    const QList<CliCommand>& table = commandTable();
    return std::any_of(table.begin(), table.end(),
                       [&](const CliCommand& c) { return c.name.startsWith(word + QLatin1Char(' ')); });
}

bool asksForHelp(const QString& arg)
{
    return arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg == QLatin1String("help");
}

// The command the arguments name, once found, and what is made for it. Kept by main(), so that the context
// outlives any thread the command leaves behind.
struct CommandRun {
    const CliCommand* chosen = nullptr;
    bool assumeYes = false;
    std::unique_ptr<AppContext> ctx;
};

// Runs the command the arguments name.
int dispatch(const QStringList& args, QTextStream& out, QTextStream& err, CommandRun& run)
{
    if (args.isEmpty() || asksForHelp(args.first())) {
        usage(args.isEmpty() ? err : out);
        return args.isEmpty() ? ExitUsage : ExitOk;
    }
    if (args.first() == QLatin1String("--version")) {
        out << "ferrowind " << AppContext::programVersion() << '\n';
        return ExitOk;
    }

    // Longest name in the table that matches the leading words ("settings show" before "settings").
    const CliCommand*& chosen = run.chosen;
    int words = 0;
    for (const CliCommand& c : commandTable()) {
        const QStringList parts = c.name.split(QLatin1Char(' '));
        if (parts.size() <= args.size() && args.mid(0, parts.size()) == parts && parts.size() > words) {
            chosen = &c;
            words = static_cast<int>(parts.size());
        }
    }
    if (!chosen && isGroup(args.first())) {
        const QString& group = args.first();
        if (args.size() > 1 && asksForHelp(args[1])) {
            groupUsage(out, group);
            return ExitOk;
        }
        if (args.size() > 1)
            err << "ferrowind " << group << ": unknown command '" << args.mid(1).join(QLatin1Char(' ')) << "'\n\n";
        groupUsage(err, group);
        return ExitUsage;
    }
    if (!chosen) {
        err << "ferrowind: unknown command '" << args.join(QLatin1Char(' ')) << "'\n\n";
        usage(err);
        return ExitUsage;
    }

    const QFileInfo exe(QCoreApplication::applicationFilePath());
    CliEnv env{args.mid(words), out, err, {}, &run.assumeYes};
    const CliCommand* command = chosen;
    std::unique_ptr<AppContext>& ctx = run.ctx;
    env.context = [&]() -> AppContext& {
        if (!ctx) {
            auto debug = std::make_unique<StderrDebugChannel>();
            auto prompter = std::make_unique<CliPrompter>(err, run.assumeYes);
            ctx = makeSystemContext(exe.completeBaseName(), exe.absolutePath(), std::move(prompter),
                                    std::make_unique<ThreadSleeper>(), std::move(debug));
            // Without a readable file every setting reads as its default, and the failure that follows (a database
            // that cannot be opened, a version not found) would not say why.
            const QString registry = registryFilePath();
            if (command->readsInstallation) {
                if (const QString problem = registryFileProblem(registry); !problem.isEmpty())
                    err << "ferrowind " << command->name << ": the registry file " << registry << ' ' << problem
                        << "; set FERROWIND_REGISTRY to the installation's registry file\n";
                if (const QString warning = passwordExposureWarning(registry); !warning.isEmpty())
                    err << "ferrowind " << command->name << ": " << warning << "\n";
            }
        }
        return *ctx;
    };
    return command->run(env);
}

} // namespace
} // namespace fw

int main(int argc, char* argv[])
{
    // Before anything opens a file: a closed standard output must not become some file's descriptor.
    const bool stdoutClosed = fw::reserveStandardDescriptors();
    fw::ignoreWriteSignals();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ferrowind"));
    // A failed statement is said once, in the command's own words.
    fw::quietenDriverWarnings();
    // Debugger-channel chatter stays out of scripts' output unless asked for.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("ferrowind.debugger=false"));

    fw::StandardOutput stdoutDevice(fw::kStandardOutput, stdoutClosed);
    QTextStream out(&stdoutDevice);
    QTextStream err(stderr);
    fw::CommandRun run;
    int rc = fw::dispatch(QCoreApplication::arguments().mid(1), out, err, run);
    const fw::CliCommand* chosen = run.chosen;

    // An answer that did not reach its reader is no success, whatever the command found.
    out.flush();
    if (!stdoutDevice.failure().isEmpty()) {
        err << "ferrowind" << (chosen ? QStringLiteral(" ") + chosen->name : QString())
            << ": standard output could not be written: " << stdoutDevice.failure() << '\n';
        rc = chosen ? chosen->outputFailedExit : fw::ExitUsage;
    }
    err.flush();
    // A thread left behind (a login, a lookup, a metrics read) may still use the context and Qt's globals.
    return fw::endProgram(rc);
}
