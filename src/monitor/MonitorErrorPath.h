#pragma once
#include "log/FwError.h"

#include <QString>
#include <functional>

namespace fw {

class AppContext;

// The error path of one monitoring procedure: a null used as a value (94) is skipped silently, any
// other failure goes to the message box and the time-stamped log in the procedure's own order, and
// work goes on with the next statement. From ignoreFromHere() on, failures are skipped unreported.
class MonitorErrorPath {
public:
    enum class Order {
        BoxThenLog,         // message box, then the log with the same text
        LogThenBox,         // the log, then the message box
        BoxThenLogWithLine, // message box, then the log with " (line#=0)" appended
    };

    MonitorErrorPath(AppContext& ctx, QString procedure, QString form, Order order);

    // Runs one statement; a thrown FwException (or std::exception) is handled. True when it succeeded.
    bool step(const std::function<void()>& statement);
    void report(const FwError& e);

    void ignoreFromHere() { m_ignoring = true; }
    bool ignoring() const { return m_ignoring; }
    int reportedCount() const { return m_reported; }

private:
    AppContext& m_ctx;
    QString m_procedure;
    QString m_form;
    Order m_order;
    bool m_ignoring = false;
    int m_reported = 0;
};

} // namespace fw
