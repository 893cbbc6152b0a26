#pragma once
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>

namespace fw {

class AppContext;

// Exit codes the command line keeps to, so that scripts can trust them.
enum CliExit : int { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

// What a subcommand gets: its arguments (without the program and subcommand names), the output
// streams and a lazily built program context.
struct CliEnv {
    QStringList args;
    QTextStream& out;
    QTextStream& err;
    std::function<AppContext&()> context;
    // Answer to Yes/No questions (--yes); messages are printed to err.
    bool* assumeYes = nullptr;
};

using CliHandler = std::function<int(CliEnv&)>;

// One line of the command table (CommandTable.cpp).
struct CliCommand {
    QString name;    // "settings show" for nested commands
    QString summary; // one line for the command list
    CliHandler run;
    bool readsInstallation = false;   // its settings come from the installation's registry file
    int outputFailedExit = ExitUsage; // when its answer could not be written to standard output
};

} // namespace fw
