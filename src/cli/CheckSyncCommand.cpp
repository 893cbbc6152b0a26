#include "app/ContextFactory.h"
#include "cli/CliSupport.h"
#include "cli/FleetCli.h"
#include "cli/StandardOutput.h"
#include "context/AppContext.h"
#include "monitor/SyncCheck.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "platform/WriteAll.h"

#include <QLoggingCategory>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace fw {
namespace {

// Monitoring systems read any exit status above 3 as UNKNOWN too, but a usage error must say so itself.
constexpr int kPluginUnknown = SyncCheckResult::Unknown;
// Ten years: far beyond any sync interval, and small enough that the limit in seconds stays exact.
constexpr qint64 kMaxMinutes = 5256000;
constexpr int kDefaultTimeout = 10; // seconds, as the monitoring plugins'
constexpr int kMaxTimeout = 3600;

// Ends the check with its UNKNOWN line when it has not printed its own by the time given (-t), as a monitoring
// plugin's alarm does: whichever comes first prints, the other nothing.
class Watchdog {
public:
    explicit Watchdog(int seconds)
        : m_thread([this, seconds] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; }))
                  return;
              if (m_claimed.exchange(true))
                  return;
              const QByteArray line = QStringLiteral(
                                          "FERROWIND UNKNOWN - the check did not finish within %1 second%2 (--timeout)\n")
                                          .arg(seconds)
                                          .arg(seconds == 1 ? QString() : QStringLiteral("s"))
                                          .toUtf8();
              std::fflush(stdout);
              (void)writeAll(kStandardOutput, line.constData(), line.size());
              std::_Exit(kPluginUnknown); // the check's thread still reads: nothing may be destroyed under it
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    // False when the time is up: the watchdog has printed, or is printing, the line.
    bool claim() { return !m_claimed.exchange(true); }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::atomic_bool m_claimed{false};
    std::thread m_thread;
};

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
    const QCommandLineOption warning(QStringList{QStringLiteral("w"), QStringLiteral("warning")},
                                     QStringLiteral("WARNING when a side's newest finished run ended more than MIN minutes "
                                                    "ago, 1 to 5256000 (default: three sync intervals of that run)."),
                                     QStringLiteral("MIN"));
    const QCommandLineOption critical(QStringList{QStringLiteral("c"), QStringLiteral("critical")},
                                      QStringLiteral("CRITICAL when it ended more than MIN minutes ago, not below --warning, "
                                                     "given or by default (default: six sync intervals)."),
                                      QStringLiteral("MIN"));
    const QCommandLineOption timeout(QStringList{QStringLiteral("t"), QStringLiteral("timeout")},
                                     QStringLiteral("UNKNOWN when the check has not finished within SEC seconds, 1 to 3600 "
                                                    "(default 10)."),
                                     QStringLiteral("SEC"));
    const QCommandLineOption version(QStringList{QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version (exit status 3, as with --help)."));
    p.addOptions({warning, critical, timeout, version});
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
    // Help and version are no check's result: UNKNOWN, as the monitoring plugins' are.
    if (*read)
        return kPluginUnknown;
    if (p.isSet(version)) {
        env.out << "ferrowind check-sync " << AppContext::programVersion() << "\n";
        return kPluginUnknown;
    }
    bool okWarn = false;
    bool okCrit = false;
    const std::optional<qint64> warn = minutesOption(p, warning, &okWarn);
    const std::optional<qint64> crit = minutesOption(p, critical, &okCrit);
    if (!okWarn || !okCrit) {
        env.out << "FERROWIND UNKNOWN - --warning and --critical take a whole number of minutes from 1 to " << kMaxMinutes
                << "\n";
        return kPluginUnknown;
    }
    int seconds = kDefaultTimeout;
    if (p.isSet(timeout)) {
        bool ok = false;
        seconds = p.value(timeout).toInt(&ok);
        if (!ok || seconds < 1 || seconds > kMaxTimeout) {
            env.out << "FERROWIND UNKNOWN - --timeout takes a whole number of seconds from 1 to " << kMaxTimeout << "\n";
            return kPluginUnknown;
        }
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
    if (const QString problem = registryFileProblem(registry); !problem.isEmpty()) {
        env.out << "FERROWIND UNKNOWN - the registry file " << registry << ' ' << problem
                << "; set FERROWIND_REGISTRY to the installation's registry file\n";
        return kPluginUnknown;
    }
    AppContext& ctx = env.context();
    ctx.prompter().setSilencedWhen([] { return true; });
    Watchdog watchdog(seconds);
    const SyncCheckResult r = SyncCheck::evaluate(readFleetForCli(ctx), warn, crit);
    if (!watchdog.claim())
        for (;;) // the watchdog prints the line and ends the program
            std::this_thread::sleep_for(std::chrono::seconds(1));
    env.out << r.line << "\n";
    return r.status;
}
} // namespace fw
