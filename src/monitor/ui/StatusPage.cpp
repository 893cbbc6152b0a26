#include "monitor/ui/StatusPage.h"

namespace fw {

StatusPage::StatusPage(AppContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx) {}

} // namespace fw
