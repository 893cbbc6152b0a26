#pragma once
#include "cli/CliCommand.h"
#include "log/Result.h"

#include <QCommandLineParser>
#include <QJsonDocument>

namespace fw {

class StartupGate;

// Parses a subcommand's options and prints its --help: true when it did, false to go on, or the usage error in one
// line (Qt's words for an option it could not parse, or "wrong number of arguments").
Result<bool> readCommandLine(QCommandLineParser& parser, CliEnv& env, const QString& command, const QString& description,
                             int minPositional = 0, int maxPositional = 0);

// The same, printing the usage error itself. Returns -1 to go on, or the exit code to return at once.
int parseCommandLine(QCommandLineParser& parser, CliEnv& env, const QString& command, const QString& description,
                     int minPositional = 0, int maxPositional = 0);

void printJson(QTextStream& out, const QJsonDocument& doc);

// The checks the windows make before anything can be seen or changed (version, connector, failover role).
// A refusal is printed as "ferrowind COMMAND: " + the windows' message; true means the command stops with exit 2.
bool gateRefuses(CliEnv& env, const QString& command, StartupGate& gate);

} // namespace fw
