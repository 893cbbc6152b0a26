#pragma once
#include "log/ErrorReport.h"

namespace fw {

class AppContext;

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
};

} // namespace fw
