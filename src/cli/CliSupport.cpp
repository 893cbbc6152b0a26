#include "cli/CliSupport.h"

#include "app/StartupGate.h"

#include <QRegularExpression>

namespace fw {

int parseCommandLine(QCommandLineParser& parser, CliEnv& env, const QString& command, const QString& description,
                     int minPositional, int maxPositional)
{
    parser.setApplicationDescription(description);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    parser.addOption(help);
    QStringList argv = env.args;
    argv.prepend(QStringLiteral("ferrowind ") + command);
    if (!parser.parse(argv)) {
        env.err << "ferrowind " << command << ": " << parser.errorText() << "\n";
        return ExitUsage;
    }
    // Qt names the program by its path; the usage line names the subcommand as it is typed.
    QString text = parser.helpText();
    static const QRegularExpression usageLine(QStringLiteral("^Usage: \\S+"));
    text.replace(usageLine, QStringLiteral("Usage: ferrowind ") + command);
    if (parser.isSet(help)) {
        env.out << text;
        return ExitOk;
    }
    const int n = static_cast<int>(parser.positionalArguments().size());
    if (n < minPositional || (maxPositional >= 0 && n > maxPositional)) {
        env.err << "ferrowind " << command << ": wrong number of arguments\n\n" << text;
        return ExitUsage;
    }
    return -1;
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
