#include "monitor/MonitorErrorPath.h"

#include "context/AppContext.h"
#include "log/ActivityLog.h"
#include "monitor/StatusSummary.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"

namespace fw {

namespace {
QList<ErrorSink> sinksFor(MonitorErrorPath::Order order)
{
    switch (order) {
    case MonitorErrorPath::Order::LogThenBox: return {ErrorSink::LogStamped, ErrorSink::MessageBox};
    case MonitorErrorPath::Order::BoxThenLogWithLine: return {ErrorSink::MessageBox, ErrorSink::LogStampedWithLine};
    case MonitorErrorPath::Order::BoxThenLog: break;
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

MonitorErrorPath::~MonitorErrorPath()
{
    if (reportedCount() > 0)
        note(lastError());
}

void MonitorErrorPath::noteFailuresIn(QList<ReadFailure>& failures, QString part)
{
    m_failures = &failures;
    m_part = std::move(part);
}

void MonitorErrorPath::reportRead(const FwError& e)
{
    report(e);
    if (e.isError())
        note(e);
}

void MonitorErrorPath::noteHole(const FwError& e)
{
    if (e.isError() && e.number != FwError::invalidUseOfNull().number)
        note(e);
}

void MonitorErrorPath::note(const FwError& e)
{
    if (!m_failures)
        return;
    for (const ReadFailure& f : *m_failures)
        if (f.part == m_part)
            return;
    m_failures->append({m_part, e});
}

} // namespace fw
