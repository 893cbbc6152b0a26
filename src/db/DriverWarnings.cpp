#include "db/DriverWarnings.h"

#include <QtGlobal>

#include <cstdio>
#include <mutex>

namespace fw {

namespace {

QtMessageHandler g_previous = nullptr;

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool defaultCategory = !context.category || qstrcmp(context.category, "default") == 0;
    if (type == QtWarningMsg && defaultCategory && isDriverWarning(message))
        return;
    if (g_previous) {
        g_previous(type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    std::fflush(stderr);
}

} // namespace

bool isDriverWarning(const QString& message)
{
    return message.startsWith(QLatin1String("QODBCResult::")) || message.startsWith(QLatin1String("QODBCDriver"));
}

void quietenDriverWarnings()
{
    static std::once_flag once;
    std::call_once(once, [] { g_previous = qInstallMessageHandler(handle); });
}

} // namespace fw
