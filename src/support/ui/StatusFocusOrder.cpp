#include "support/ui/StatusFocusOrder.h"

#include "context/AppContext.h"
#include "platform/DebugChannel.h"
#include "support/FocusOrder.h"

#include <QFocusEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace fw {

namespace {
const QString kTabMain = QStringLiteral("tabMain");

KeyStates keysOf(Qt::FocusReason reason)
{
    switch (reason) {
    case Qt::TabFocusReason: return KeyStates::tabDown();
    case Qt::BacktabFocusReason: return KeyStates::shiftTabDown();
    default: return KeyStates::none();
    }
}
} // namespace

StatusFocusOrder::StatusFocusOrder(AppContext& ctx, QWidget* window) : QObject(window), m_ctx(ctx), m_window(window)
{
    setObjectName(QStringLiteral("StatusFocusOrder"));
    attach();
}

QWidget* StatusFocusOrder::control(const QString& name) const
{
    return m_window ? m_window->findChild<QWidget*>(name) : nullptr;
}

QTabWidget* StatusFocusOrder::tabMain() const
{
    return m_window ? m_window->findChild<QTabWidget*>(kTabMain) : nullptr;
}

void StatusFocusOrder::attach()
{
    QTabWidget* tabs = tabMain();
    if (tabs) {
        if (!tabs->property(kTabIndexProperty).isValid())
            tabs->setProperty(kTabIndexProperty, 1);
        tabs->installEventFilter(this);
        tabs->tabBar()->installEventFilter(this); // the tab strip takes the focus for the tab control
    }
    for (const char* name : {"cmdExit", "txtDCSynchronizationStatus", "txtDCSynchronizationStatus2"})
        if (QWidget* w = control(QString::fromLatin1(name)))
            w->installEventFilter(this);
    // The ordinary order of the page, which takes over past the DC details button.
    QWidget* previous = nullptr;
    for (const QString& name : statusPageTabOrder()) {
        QWidget* w = control(name);
        if (!w)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

bool StatusFocusOrder::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::FocusOut)
        return QObject::eventFilter(watched, event);
    QTabWidget* tabs = tabMain();
    QString name = watched->objectName();
    if (tabs && (watched == tabs || watched == tabs->tabBar()))
        name = kTabMain;

    const KeyStates keys = keysOf(static_cast<QFocusEvent*>(event)->reason());
    qint16 state = GetTabState(keys, m_ctx.debug());
    if (state != 1)
        state = GetTabState(keys, m_ctx.debug());
    const bool statusShown = tabs && tabs->currentIndex() == kStatusTab && tabs->isVisible();
    const int tabIndex = tabs ? tabs->property(kTabIndexProperty).toInt() : -1;
    const std::optional<FocusMove> move = statusFocusMove(name, state, statusShown, tabIndex);
    if (!move)
        return QObject::eventFilter(watched, event);

    QWidget* target = move->target == kTabMain ? tabs : control(move->target);
    if (!target || !target->isVisible())
        return QObject::eventFilter(watched, event); // moves only among shown controls
    m_ctx.debug().write(move->debugLine);
    if (tabs)
        tabs->setProperty(kTabIndexProperty, move->tabMainIndex);
    // Let the window finish its own focus change first, then put the focus where the order says.
    QPointer<QWidget> to(target);
    QTimer::singleShot(0, this, [to] {
        if (to)
            to->setFocus(Qt::OtherFocusReason);
    });
    return QObject::eventFilter(watched, event);
}

} // namespace fw
