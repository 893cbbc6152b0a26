#pragma once
#include <QObject>

class QAbstractButton;
class QLineEdit;

namespace fw {

// The server-check controls of one settings panel: Test Connection, the two manual servers with their
// Test buttons, and Force Reconnect. The server checks work through this alone; the panel's other
// controls stay its own.
class ServerControls : public QObject {
    Q_OBJECT
public:
    enum class Manual { Primary, Secondary };

    struct Widgets {
        QAbstractButton* testConnection = nullptr;
        QAbstractButton* testPrimary = nullptr;
        QAbstractButton* testSecondary = nullptr;
        QAbstractButton* forceReconnect = nullptr;
        QLineEdit* primary = nullptr;
        QLineEdit* secondary = nullptr;
    };
    ServerControls(const Widgets& widgets, QObject* parent);

    QString manualServer(Manual which) const;
    // Changes the field only when the text differs, so an unchanged name is no edit.
    void setManualServer(Manual which, const QString& name);

Q_SIGNALS:
    void testConnectionClicked();
    void testManualClicked(fw::ServerControls::Manual which);
    void forceReconnectClicked();
    // The focus moved from a manual field to another control of the same window (Tab, Backtab, a click,
    // a shortcut); it always leaves.
    void manualServerLeft(fw::ServerControls::Manual which);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field(Manual which) const;

    Widgets m_w;
};

} // namespace fw
