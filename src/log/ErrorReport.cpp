#include "log/ErrorReport.h"

#include "log/ActivityLog.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"

namespace fw {

QString errorReportText(const FwError& e, const QString& procedure, const QString& owner, OwnerKind kind, std::optional<int> line,
                        bool errorPrefix)
{
    QString s = (errorPrefix ? QStringLiteral("Error ") : QStringLiteral("(error):")) + QString::number(e.number) +
                QStringLiteral(" (") + e.description + QStringLiteral(") in procedure ") + procedure +
                (kind == OwnerKind::Form ? QStringLiteral(" of Form ") : QStringLiteral(" of Module ")) + owner;
    if (line)
        s += QStringLiteral(" (line#=") + QString::number(*line) + QLatin1Char(')');
    return s;
}

ErrorScope::ErrorScope(QString procedure, QString owner, OwnerKind kind, QList<ErrorSink> order, Sinks sinks)
    : m_procedure(std::move(procedure)), m_owner(std::move(owner)), m_kind(kind), m_order(std::move(order)), m_sinks(sinks)
{
}

void ErrorScope::report(const FwError& e, std::optional<int> line)
{
    if (!e.isError() || m_ignoring || m_ignored.contains(e.number))
        return;
    ++m_reported;
    m_last = e;
    const QString text = errorReportText(e, m_procedure, m_owner, m_kind, line, m_errorPrefix);
    for (const ErrorSink sink : m_order) {
        switch (sink) {
        case ErrorSink::Debugger:
            if (m_sinks.debug)
                m_sinks.debug->write(text);
            break;
        case ErrorSink::LogStamped:
            if (m_sinks.log)
                m_sinks.log->WriteLog(text, true);
            break;
        case ErrorSink::LogPlain:
            if (m_sinks.log)
                m_sinks.log->WriteLog(text, false);
            break;
        case ErrorSink::LogStampedWithLine:
            if (m_sinks.log)
                m_sinks.log->WriteLog(line ? text : errorReportText(e, m_procedure, m_owner, m_kind, 0, m_errorPrefix), true);
            break;
        case ErrorSink::MessageBox:
            if (m_sinks.prompter)
                m_sinks.prompter->inform(text);
            break;
        }
    }
}

FwError ErrorScope::fromException(const std::exception& ex)
{
    return {5, QString::fromLocal8Bit(ex.what())};
}

} // namespace fw
