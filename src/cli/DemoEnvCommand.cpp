#include "app/DemoEnvironment.h"
#include "cli/CliSupport.h"
#include "db/ConnectionStringRedaction.h"

#include <QDir>

#include <optional>

namespace fw {
namespace {

// A count of the generator's from 0 to its bound; empty for anything else (toInt refuses what an int cannot hold).
std::optional<int> countOf(const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 0 || n > DemoData::kMaxRuns)
        return std::nullopt;
    return n;
}

} // namespace

int runDemoEnv(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption runs(QStringLiteral("runs"),
                                  QStringLiteral("Finished DC runs to generate, 0 to 10000000 (default 3000)."),
                                  QStringLiteral("N"), QStringLiteral("3000"));
    const QCommandLineOption gcRuns(QStringLiteral("gc-runs"),
                                    QStringLiteral("Finished GC runs, 0 to 10000000 (default: as --runs)."), QStringLiteral("N"));
    const QCommandLineOption changes(QStringLiteral("changes"),
                                     QStringLiteral("Increment and interval changes, 0 to 10000000 (default 3)."),
                                     QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("Replace a VelmoraDb.sqlite and velmora.reg already in DIR, or the "
                                                    "Velmora tables already in the --database (and its velmora.reg in DIR)."));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("Fill this ODBC database (a DSN or a connection string) instead of "
                                                     "creating VelmoraDb.sqlite; its engine's schema is created there."),
                                      QStringLiteral("CONNECTION"));
    p.addOption(runs);
    p.addOption(database);
    p.addOption(gcRuns);
    p.addOption(changes);
    p.addOption(replace);
    p.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Folder for VelmoraDb.sqlite and velmora.reg (with "
                                                                  "--database: for velmora.reg alone, optional)."));
    if (int rc = parseCommandLine(p, env, QStringLiteral("demo-env"),
                                  QStringLiteral("Create a demo Velmora environment: an SQLite VelmoraDb with three domains and "
                                                 "a synchronisation history, and a registry file for Velmora 8.0(0.85).\n"
                                                 "Run the tools on it with FERROWIND_REGISTRY=DIR/velmora.reg.\n"
                                                 "With --database, fill an existing ODBC database (SQL Server or SQLite) "
                                                 "instead, and write DIR/velmora.reg pointing at it when DIR is given."),
                                  0, 1);
        rc >= 0)
        return rc;

    DemoDataOptions o;
    const struct {
        const char* name;
        QString text;
        int& count;
    } counts[] = {{"runs", p.value(runs), o.dcRuns},
                  {"gc-runs", p.isSet(gcRuns) ? p.value(gcRuns) : p.value(runs), o.gcRuns},
                  {"changes", p.value(changes), o.incrementChanges}};
    for (const auto& c : counts) {
        const std::optional<int> n = countOf(c.text);
        if (!n) {
            env.err << "ferrowind demo-env: --" << c.name << " needs a whole number from 0 to " << DemoData::kMaxRuns << "\n";
            return ExitUsage;
        }
        c.count = *n;
    }
    if (p.isSet(database)) {
        const QString cs = p.value(database);
        if (cs.trimmed().isEmpty()) {
            env.err << "ferrowind demo-env: --database needs a DSN or a connection string\n";
            return ExitUsage;
        }
        // DIR, when given, gets the registry file that points the tools at the database.
        const QString dir = p.positionalArguments().isEmpty() ? QString() : QDir(p.positionalArguments().first()).absolutePath();
        if (!dir.isEmpty()) {
            if (const Result<void> free = DemoEnvironment::checkRegistry(dir, p.isSet(replace)); !free) {
                env.err << "ferrowind demo-env: " << free.error().description << "\n";
                return ExitFailed;
            }
        }
        if (const Result<void> filled = DemoEnvironment::fillDatabase(cs, o, p.isSet(replace)); !filled) {
            env.err << "ferrowind demo-env: " << filled.error().description << "\n";
            return ExitFailed;
        }
        env.out << "Filled " << redactConnectionString(cs) << "\n";
        if (dir.isEmpty())
            return ExitOk;
        if (const Result<void> written = DemoEnvironment::writeRegistry(dir, cs, p.isSet(replace)); !written) {
            env.err << "ferrowind demo-env: " << written.error().description << "\n";
            return ExitFailed;
        }
        env.out << "Created " << DemoEnvironment::registryPath(dir) << "\n";
        env.out << "Use it with: export FERROWIND_REGISTRY=" << DemoEnvironment::registryPath(dir) << "\n";
        return ExitOk;
    }
    if (p.positionalArguments().isEmpty()) {
        env.err << "ferrowind demo-env: give DIR or --database\n";
        return ExitUsage;
    }
    const QString dir = QDir(p.positionalArguments().first()).absolutePath();
    if (const Result<void> created = DemoEnvironment::create(dir, o, p.isSet(replace)); !created) {
        env.err << "ferrowind demo-env: " << created.error().description << "\n";
        return ExitFailed;
    }
    env.out << "Created " << DemoEnvironment::databasePath(dir) << "\n";
    env.out << "Created " << DemoEnvironment::registryPath(dir) << "\n";
    env.out << "Use it with: export FERROWIND_REGISTRY=" << DemoEnvironment::registryPath(dir) << "\n";
    return ExitOk;
}
} // namespace fw
