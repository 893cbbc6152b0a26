#include "monitor/MonitorErrorPath.h"

#include "context/AppContext.h"
#include "log/ActivityLog.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"

namespace fw {

namespace {
QList<ErrorSink> sinksFor(MonitorErrorPath::Order order)
{
    switch (order) {
    case MonitorErrorPath::Order::LogThenBox:
        return {ErrorSink::LogStamped, ErrorSink::MessageBox};
    case MonitorErrorPath::Order::BoxThenLogWithLine:
        return {ErrorSink::MessageBox, ErrorSink::LogStampedWithLine};
    case MonitorErrorPath::Order::BoxThenLog:
        break;
    }
    return {ErrorSink::MessageBox, ErrorSink::LogStamped};
}
} // namespace

MonitorErrorPath::MonitorErrorPath(AppContext& ctx, QString procedure, QString form, Order order)
    : ErrorScope(std::move(procedure), std::move(form), OwnerKind::Form, sinksFor(order),
                 {&ctx.debug(), &ctx.log(), &ctx.prompter()})
{
    ignoreNumber(FwError::invalidUseOfNull().number);
}

} // namespace fw
