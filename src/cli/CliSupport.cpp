#include "cli/CliSupport.h"

#include "app/StartupGate.h"

#include <QRegularExpression>

namespace fw {

namespace {

// The help text as the subcommand prints it: Qt names the program by its path, the usage line names the subcommand as
// it is typed.
QString helpText(const QCommandLineParser& parser, const QString& command)
{
    QString text = parser.helpText();
    static const QRegularExpression usageLine(QStringLiteral("^Usage: \\S+"));
    text.replace(usageLine, QStringLiteral("Usage: ferrowind ") + command);
    return text;
}

} // namespace

Result<bool> readCommandLine(QCommandLineParser& parser, CliEnv& env, const QString& command, const QString& description,
                             int minPositional, int maxPositional)
{
    parser.setApplicationDescription(description);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    parser.addOption(help);
    QStringList argv = env.args;
    argv.prepend(QStringLiteral("ferrowind ") + command);
    if (!parser.parse(argv))
        return FwError{5, parser.errorText()};
    if (parser.isSet(help)) {
        env.out << helpText(parser, command);
        return true;
    }
    const int n = static_cast<int>(parser.positionalArguments().size());
    if (n < minPositional || (maxPositional >= 0 && n > maxPositional))
        return FwError{5, QStringLiteral("wrong number of arguments")};
    return false;
}

int parseCommandLine(QCommandLineParser& parser, CliEnv& env, const QString& command, const QString& description,
                     int minPositional, int maxPositional)
{
    const Result<bool> read = readCommandLine(parser, env, command, description, minPositional, maxPositional);
    if (read)
        return *read ? ExitOk : -1;
    env.err << "ferrowind " << command << ": " << read.error().description << "\n";
    // Options Qt could not parse say what was wrong; a wrong count of arguments is shown what the command takes.
    if (parser.errorText().isEmpty())
        env.err << "\n" << helpText(parser, command);
    return ExitUsage;
}

void printJson(QTextStream& out, const QJsonDocument& doc)
{
    out << doc.toJson(QJsonDocument::Indented);
}

bool gateRefuses(CliEnv& env, const QString& command, StartupGate& gate)
{
    const QString refused = gate.refusal();
    if (refused.isEmpty())
        return false;
    env.err << "ferrowind " << command << ": " << refused << "\n";
    return true;
}

} // namespace fw
