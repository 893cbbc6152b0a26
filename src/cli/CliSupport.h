#pragma once
#include "cli/CliCommand.h"

#include <QCommandLineParser>
#include <QJsonDocument>

namespace fw {

// Parses a subcommand's options; prints its --help or the usage error itself.
// Returns -1 to go on, or the exit code to return at once.
int parseCommandLine(QCommandLineParser& parser, CliEnv& env, const QString& command, const QString& description,
                     int minPositional = 0, int maxPositional = 0);

void printJson(QTextStream& out, const QJsonDocument& doc);

} // namespace fw
