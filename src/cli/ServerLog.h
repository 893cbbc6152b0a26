#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace fw {

enum class LogLevel { Debug, Info, Warn, Error };

// "debug", "info", "warn" or "error"; none for anything else.
std::optional<LogLevel> logLevelNamed(const QString& name);

// What serve-metrics tells while it runs, one line each: "ferrowind serve-metrics: " and, but for info, the level
// ("debug: ", "warning: ", "error: ") before the text. Lines below the level set are dropped; callers whose text
// costs something to build ask wants() first. Lines may come from any thread.
class ServerLog {
public:
    using Sink = std::function<void(const QString& line)>;
    ServerLog() = default; // tells nothing
    ServerLog(Sink sink, LogLevel level) : m_sink(std::move(sink)), m_level(level) {}

    bool wants(LogLevel level) const { return m_sink && level >= m_level; }
    void write(LogLevel level, const QString& text) const;
    void debug(const QString& text) const { write(LogLevel::Debug, text); }
    void info(const QString& text) const { write(LogLevel::Info, text); }
    void warn(const QString& text) const { write(LogLevel::Warn, text); }
    void error(const QString& text) const { write(LogLevel::Error, text); }

private:
    Sink m_sink;
    LogLevel m_level = LogLevel::Info;
    mutable std::mutex m_mutex; // one line at a time
};

} // namespace fw
