#include "settings/ui/ServerControls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>

namespace fw {
namespace {

// The user left the field for another control of the same window. A switch to another application, a
// context menu or another window takes the focus only for a while: the half-typed name stays unchecked.
bool leftForAnotherControl(const QFocusEvent& event, const QWidget* field)
{
    switch (event.reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::ShortcutFocusReason: break;
    default: return false;
    }
    const QWidget* next = QApplication::focusWidget();
    return next && next != field && next->window() == field->window();
}

} // namespace

ServerControls::ServerControls(const Widgets& widgets, QObject* parent) : QObject(parent), m_w(widgets)
{
    connect(m_w.testConnection, &QAbstractButton::clicked, this, &ServerControls::testConnectionClicked);
    connect(m_w.testPrimary, &QAbstractButton::clicked, this, [this] { Q_EMIT testManualClicked(Manual::Primary); });
    connect(m_w.testSecondary, &QAbstractButton::clicked, this, [this] { Q_EMIT testManualClicked(Manual::Secondary); });
    connect(m_w.forceReconnect, &QAbstractButton::clicked, this, &ServerControls::forceReconnectClicked);
    m_w.primary->installEventFilter(this);
    m_w.secondary->installEventFilter(this);
}

QLineEdit* ServerControls::field(Manual which) const
{
    return which == Manual::Primary ? m_w.primary : m_w.secondary;
}

QString ServerControls::manualServer(Manual which) const
{
    return field(which)->text();
}

void ServerControls::setManualServer(Manual which, const QString& name)
{
    if (field(which)->text() != name)
        field(which)->setText(name);
}

bool ServerControls::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut && (watched == m_w.primary || watched == m_w.secondary) &&
        leftForAnotherControl(*static_cast<QFocusEvent*>(event), static_cast<QWidget*>(watched)))
        Q_EMIT manualServerLeft(watched == m_w.primary ? Manual::Primary : Manual::Secondary);
    return QObject::eventFilter(watched, event);
}

} // namespace fw
