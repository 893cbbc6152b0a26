#pragma once
#include "log/FwError.h"

#include <QList>
#include <functional>
#include <optional>

namespace fw {

class ActivityLog;
class DebugChannel;
class Prompter;

// Whether a procedure belongs to a window or to a module.
enum class OwnerKind { Form, Module };

// "(error):91 (Object variable or With block variable not set) in procedure cmdDCResetToDefaults_Click of Form frmMain"
// With errorPrefix the text begins with "Error " instead of "(error):".
QString errorReportText(const FwError& e, const QString& procedure, const QString& owner, OwnerKind kind = OwnerKind::Form,
                        std::optional<int> line = std::nullopt, bool errorPrefix = false);

// Where a procedure sends its error report, in its own order.
// LogStampedWithLine writes the text with " (line#=N)" appended (N the reported line, else 0).
enum class ErrorSink { Debugger, LogStamped, LogPlain, LogStampedWithLine, MessageBox };

// One procedure's error path: report a failure to its sinks and go on with the next statement.
class ErrorScope {
public:
    struct Sinks {
        DebugChannel* debug = nullptr;
        ActivityLog* log = nullptr;
        Prompter* prompter = nullptr;
    };

    ErrorScope(QString procedure, QString owner, OwnerKind kind, QList<ErrorSink> order, Sinks sinks);

    // Report this failure now (does nothing for a non-error).
    void report(const FwError& e, std::optional<int> line = std::nullopt);

    // Runs one statement; an FwException, a std::exception or a returned FwError is reported and swallowed.
    // Returns true when the statement succeeded.
    bool step(const std::function<void()>& statement);
    bool stepResult(const std::function<FwError()>& statement);

    // Errors whose number is in this list are not reported (the monitoring windows skip 94).
    void ignoreNumber(int number) { m_ignored.append(number); }
    void setErrorPrefix(bool on) { m_errorPrefix = on; }
    // From here on failures are skipped unreported (a procedure's clean-up part).
    void ignoreFromHere() { m_ignoring = true; }
    bool ignoring() const { return m_ignoring; }

    int reportedCount() const { return m_reported; }
    const FwError& lastError() const { return m_last; }

private:
    QString m_procedure;
    QString m_owner;
    OwnerKind m_kind;
    QList<ErrorSink> m_order;
    Sinks m_sinks;
    QList<int> m_ignored;
    bool m_errorPrefix = false;
    bool m_ignoring = false;
    int m_reported = 0;
    FwError m_last;
};

} // namespace fw
