#include "app/ContextFactory.h"
#include "cli/CliSupport.h"
#include "cli/FleetCli.h"
#include "context/AppContext.h"
#include "monitor/SyncCheck.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"

#include <QLoggingCategory>

namespace fw {
namespace {

// Monitoring systems read any exit status above 3 as UNKNOWN too, but a usage error must say so itself.
constexpr int kPluginUnknown = SyncCheckResult::Unknown;
// Ten years: far beyond any sync interval, and small enough that the limit in seconds stays exact.
constexpr qint64 kMaxMinutes = 5256000;

std::optional<qint64> minutesOption(const QCommandLineParser& p, const QCommandLineOption& o, bool* ok)
{
    *ok = true;
    if (!p.isSet(o))
        return std::nullopt;
    const qint64 v = p.value(o).toLongLong(ok);
    if (!*ok || v <= 0 || v > kMaxMinutes) {
        *ok = false;
        return std::nullopt;
    }
    return v;
}

} // namespace

int runCheckSync(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption warning(QStringLiteral("warning"),
                                     QStringLiteral("WARNING when a side's newest finished run ended more than MIN minutes "
                                                    "ago, 1 to 5256000 (default: three sync intervals of that run)."),
                                     QStringLiteral("MIN"));
    const QCommandLineOption critical(QStringLiteral("critical"),
                                      QStringLiteral("CRITICAL when it ended more than MIN minutes ago, not below --warning, "
                                                     "given or by default (default: six sync intervals)."),
                                      QStringLiteral("MIN"));
    p.addOptions({warning, critical});
    const Result<bool> read = readCommandLine(
        p, env, QStringLiteral("check-sync"),
        QStringLiteral("Monitoring-plugin check of the age of the newest finished DC and GC "
                       "synchronisation runs, for Nagios, Icinga and Naemon. Prints one line "
                       "'FERROWIND OK|WARNING|CRITICAL|UNKNOWN - summary | perfdata' and exits "
                       "0, 1, 2 or 3. A database that cannot be read, a side without a finished "
                       "run, a run ending in the future and a usage error are UNKNOWN (3). Prints "
                       "nothing else."));
    if (!read) {
        // Qt's sentence loses its full stop inside the line; a newline in an option's name would split it.
        QString why = read.error().description.simplified();
        if (why.endsWith(QLatin1Char('.')))
            why.chop(1);
        env.out << "FERROWIND UNKNOWN - usage error: " << why << " (see ferrowind check-sync --help)\n";
        return kPluginUnknown;
    }
    if (*read)
        return ExitOk;
    bool okWarn = false;
    bool okCrit = false;
    const std::optional<qint64> warn = minutesOption(p, warning, &okWarn);
    const std::optional<qint64> crit = minutesOption(p, critical, &okCrit);
    if (!okWarn || !okCrit) {
        env.out << "FERROWIND UNKNOWN - --warning and --critical take a whole number of minutes from 1 to " << kMaxMinutes
                << "\n";
        return kPluginUnknown;
    }
    if (warn && crit && *warn > *crit) {
        env.out << "FERROWIND UNKNOWN - --warning (" << *warn << ") is above --critical (" << *crit << ")\n";
        return kPluginUnknown;
    }

    // A plugin's output is its status line: the windows' error messages and the debugger channel stay out of
    // it (a monitoring system merges stderr in), and what went wrong is said in the UNKNOWN line instead.
    // Installed once: a second installation would take the first for the rules before it and call itself.
    static QLoggingCategory::CategoryFilter rules = nullptr;
    static bool installed = false;
    if (!installed) {
        installed = true;
        rules = QLoggingCategory::installFilter([](QLoggingCategory* category) {
            if (rules)
                rules(category);
            if (qstrcmp(category->categoryName(), "ferrowind.debugger") == 0)
                for (QtMsgType t : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
                    category->setEnabled(t, false);
        });
    }
    // Said in the status line, not on a line of its own before it.
    const QString registry = registryFilePath();
    if (const QString problem = RegFileStore::problemWith(registry); !problem.isEmpty()) {
        env.out << "FERROWIND UNKNOWN - the registry file " << registry << ' ' << problem
                << "; set FERROWIND_REGISTRY to the installation's registry file\n";
        return kPluginUnknown;
    }
    AppContext& ctx = env.context();
    ctx.prompter().setSilencedWhen([] { return true; });
    const SyncCheckResult r = SyncCheck::evaluate(readFleetForCli(ctx), warn, crit);
    env.out << r.line << "\n";
    return r.status;
}
} // namespace fw
