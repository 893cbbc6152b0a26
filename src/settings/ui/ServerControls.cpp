#include "settings/ui/ServerControls.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLineEdit>

namespace fw {

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
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_w.primary)
            Q_EMIT manualServerLeft(Manual::Primary);
        else if (watched == m_w.secondary)
            Q_EMIT manualServerLeft(Manual::Secondary);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace fw
