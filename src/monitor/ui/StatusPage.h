#pragma once
#include <QWidget>

namespace fw {

class AppContext;

// The "Status" tab: the state of the latest synchronisation runs.
class StatusPage : public QWidget {
    Q_OBJECT
public:
    explicit StatusPage(AppContext& ctx, QWidget* parent = nullptr);

private:
    AppContext& m_ctx;
};

} // namespace fw
