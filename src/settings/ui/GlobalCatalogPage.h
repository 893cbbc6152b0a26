#pragma once
#include <QWidget>

namespace fw {

class AppContext;

// The "Global Catalog" tab: the one set of global catalog reconnect settings.
class GlobalCatalogPage : public QWidget {
    Q_OBJECT
public:
    explicit GlobalCatalogPage(AppContext& ctx, QWidget* parent = nullptr);

    void PopulateGCSettings();
    void setSaveEnabled(bool on);

private:
    AppContext& m_ctx;
};

} // namespace fw
