#include "cli/ServerLog.h"

namespace fw {

std::optional<LogLevel> logLevelNamed(const QString& name)
{
    if (name == QLatin1String("debug"))
        return LogLevel::Debug;
    if (name == QLatin1String("info"))
        return LogLevel::Info;
    if (name == QLatin1String("warn"))
        return LogLevel::Warn;
    if (name == QLatin1String("error"))
        return LogLevel::Error;
    return std::nullopt;
}

void ServerLog::write(LogLevel level, const QString& text) const
{
    if (!wants(level))
        return;
    const char* tag = level == LogLevel::Debug   ? "debug: "
                      : level == LogLevel::Warn  ? "warning: "
                      : level == LogLevel::Error ? "error: "
                                                 : "";
    const QString line = QStringLiteral("ferrowind serve-metrics: ") + QLatin1String(tag) + text;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sink(line);
}

} // namespace fw
