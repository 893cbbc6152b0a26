#pragma once
#include <QObject>
#include <QPointer>

class QTabWidget;
class QWidget;

namespace fw {

class AppContext;

// Steers Tab and Shift+Tab through the Status page: from Exit to the tab strip, to the two DC status fields and
// on to the DC details button, and back. The key comes from the reason of the focus change, so a click with the
// mouse moves no focus. Works on the controls of `window` found by their names.
class StatusFocusOrder : public QObject {
    Q_OBJECT
public:
    static constexpr int kStatusTab = 2;
    // tabMain's tab-order position is kept in this property.
    static constexpr const char* kTabIndexProperty = "TabIndex";

    StatusFocusOrder(AppContext& ctx, QWidget* window);

    // Puts the Status page's controls into their design-time order and watches the controls of the order.
    // Call again when the page's controls were replaced.
    void attach();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* control(const QString& name) const;
    QTabWidget* tabMain() const;

    AppContext& m_ctx;
    QPointer<QWidget> m_window;
};

} // namespace fw
