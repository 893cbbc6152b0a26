#pragma once
#include "log/FwError.h"
#include "log/Result.h"

#include <QList>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

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

    // Runs one statement that gives back a Result (or nothing, for window code that cannot fail but through a
    // std::exception); a failed Result or a std::exception is reported and work goes on. True when it succeeded.
    template <typename Statement>
    bool step(Statement&& statement)
    {
        using R = std::invoke_result_t<Statement&>;
        if constexpr (std::is_void_v<R>) {
            return stepResult([&]() -> Result<void> {
                       statement();
                       return Result<void>::success();
                   })
                .ok();
        } else {
            return stepResult(statement).ok();
        }
    }
    // As step(), keeping the value a succeeding statement gives in `target`.
    template <typename T, typename Statement>
    bool stepInto(T& target, Statement&& statement)
    {
        auto r = stepResult(statement);
        if (r)
            target = std::move(*r);
        return r.ok();
    }
    // As step(), handing back the statement's Result (a std::exception becomes error 5 with its text).
    template <typename Statement>
    std::invoke_result_t<Statement&> stepResult(Statement&& statement)
    {
        using R = std::invoke_result_t<Statement&>;
        try {
            R r = statement();
            if (!r)
                report(r.error());
            return r;
        } catch (const std::exception& ex) {
            const FwError e = fromException(ex);
            report(e);
            return R(e);
        }
    }

    // Errors whose number is in this list are not reported (the monitoring windows skip 94).
    void ignoreNumber(int number) { m_ignored.append(number); }
    void setErrorPrefix(bool on) { m_errorPrefix = on; }
    // From here on failures are skipped unreported (a procedure's clean-up part).
    void ignoreFromHere() { m_ignoring = true; }
    bool ignoring() const { return m_ignoring; }

    int reportedCount() const { return m_reported; }
    const FwError& lastError() const { return m_last; }

private:
    static FwError fromException(const std::exception& ex);

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
