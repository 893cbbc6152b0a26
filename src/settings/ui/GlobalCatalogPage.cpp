#include "settings/ui/GlobalCatalogPage.h"

namespace fw {

GlobalCatalogPage::GlobalCatalogPage(AppContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx) {}

void GlobalCatalogPage::PopulateGCSettings() {}

void GlobalCatalogPage::setSaveEnabled(bool) {}

} // namespace fw
