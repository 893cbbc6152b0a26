#pragma once
#include <QObject>
#include <functional>

class QLineEdit;

namespace fw {

class AppContext;
class DomainControllersPage;
class ForcedReconnect;
class GlobalCatalogPage;
class ServerTests;
class WidgetWaitUi;

// Wires the test buttons, the validation of the manual server fields and the two Force Reconnect buttons
// of both settings panels to their logic.
class ServerChecksController : public QObject {
    Q_OBJECT
public:
    // `reload` runs the main window's load again.
    ServerChecksController(AppContext& ctx, QWidget* window, DomainControllersPage* dc, GlobalCatalogPage* gc, std::function<void()> reload);
    ~ServerChecksController() override;

    ServerTests& tests() { return *m_tests; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString selectedCell(const QString& key) const;
    void runOnField(QLineEdit* field, const std::function<void(QString&)>& test);
    void txtDCManual_Validate(QLineEdit* field);
    void txtGCManual_Validate(QLineEdit* field);

    AppContext& m_ctx;
    DomainControllersPage* m_dc;
    GlobalCatalogPage* m_gc;
    WidgetWaitUi* m_wait;
    std::unique_ptr<ServerTests> m_tests;
    std::unique_ptr<ForcedReconnect> m_reconnect;
};

} // namespace fw
