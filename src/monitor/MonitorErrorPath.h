#pragma once
#include "log/ErrorReport.h"

#include <QList>
#include <QString>

namespace fw {

class AppContext;
struct ReadFailure;

// The error path of one monitoring procedure: a null used as a value (94) is skipped silently, any
// other failure goes to the message box and the time-stamped log in the procedure's own order, and
// work goes on with the next statement. From ignoreFromHere() on, failures are skipped unreported.
class MonitorErrorPath : public ErrorScope {
public:
    enum class Order {
        BoxThenLog,         // message box, then the log with the same text
        LogThenBox,         // the log, then the message box
        BoxThenLogWithLine, // message box, then the log with " (line#=0)" appended
    };

    MonitorErrorPath(AppContext& ctx, QString procedure, QString form, Order order);
    ~MonitorErrorPath();
    MonitorErrorPath(const MonitorErrorPath&) = delete;
    MonitorErrorPath& operator=(const MonitorErrorPath&) = delete;

    // When the procedure ends having reported a failure, `part` goes into `failures` (once) with the
    // last failure, so the caller can tell a complete reading from one with holes.
    void noteFailuresIn(QList<ReadFailure>& failures, QString part);
    // Reports a failed read as report() does; even where the procedure skips its reports (its clean-up
    // part) the read stays a hole in what is shown, so it is noted all the same.
    void reportRead(const FwError& e);
    // Notes a value that could not be read as a hole in what is shown, without reporting it again (a null, which
    // shows as nothing, is none).
    void noteHole(const FwError& e);

private:
    void note(const FwError& e);

    QList<ReadFailure>* m_failures = nullptr;
    QString m_part;
};

} // namespace fw
