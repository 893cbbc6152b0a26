#include "monitor/MonitorErrorPath.h"

#include "app/AppContext.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "platform/Prompter.h"

namespace fw {

MonitorErrorPath::MonitorErrorPath(AppContext& ctx, QString procedure, QString form, Order order)
    : m_ctx(ctx), m_procedure(std::move(procedure)), m_form(std::move(form)), m_order(order)
{
}

void MonitorErrorPath::report(const FwError& e)
{
    if (!e.isError() || m_ignoring || e.number == FwError::invalidUseOfNull().number)
        return;
    ++m_reported;
    const QString text = errorReportText(e, m_procedure, m_form, OwnerKind::Form);
    switch (m_order) {
    case Order::BoxThenLog:
        m_ctx.prompter().inform(text);
        m_ctx.log().WriteLog(text, true);
        break;
    case Order::LogThenBox:
        m_ctx.log().WriteLog(text, true);
        m_ctx.prompter().inform(text);
        break;
    case Order::BoxThenLogWithLine:
        m_ctx.prompter().inform(text);
        m_ctx.log().WriteLog(errorReportText(e, m_procedure, m_form, OwnerKind::Form, 0), true);
        break;
    }
}

bool MonitorErrorPath::step(const std::function<void()>& statement)
{
    try {
        statement();
        return true;
    } catch (const FwException& ex) {
        report(ex.error);
    } catch (const std::exception& ex) {
        report({5, QString::fromLocal8Bit(ex.what())});
    }
    return false;
}

} // namespace fw
