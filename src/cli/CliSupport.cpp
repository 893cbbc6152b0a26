#include "cli/CliSupport.h"

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
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("Usage: ferrowind ") + command, QStringLiteral("Usage: ferrowind ") + command);
        env.out << text;
        return ExitOk;
    }
    const int n = static_cast<int>(parser.positionalArguments().size());
    if (n < minPositional || (maxPositional >= 0 && n > maxPositional)) {
        env.err << "ferrowind " << command << ": wrong number of arguments\n\n" << parser.helpText();
        return ExitUsage;
    }
    return -1;
}

void printJson(QTextStream& out, const QJsonDocument& doc)
{
    out << doc.toJson(QJsonDocument::Indented);
}

} // namespace fw
