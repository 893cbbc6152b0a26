#include "platform/ui/UpDownControl.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace fw {

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        layout->addWidget(b);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_up->setAccessibleName(QStringLiteral("Up"));
    m_down->setAccessibleName(QStringLiteral("Down"));
    connect(m_up, &QToolButton::clicked, this, &UpDownControl::stepUp);
    connect(m_down, &QToolButton::clicked, this, &UpDownControl::stepDown);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void UpDownControl::setBuddy(QLineEdit* buddy)
{
    if (m_buddy)
        m_buddy->removeEventFilter(this);
    m_buddy = buddy;
    if (m_buddy) {
        m_buddy->installEventFilter(this);
        setFixedHeight(m_buddy->sizeHint().height());
        const int w = qMax(14, m_buddy->sizeHint().height() * 2 / 3);
        m_up->setFixedWidth(w);
        m_down->setFixedWidth(w);
    }
}

void UpDownControl::setValue(int v)
{
    v = qBound(m_min, v, m_max);
    if (v == m_value)
        return;
    m_value = v;
    Q_EMIT valueChanged(v);
}

void UpDownControl::stepBy(int steps)
{
    int from = m_value;
    if (m_buddy) {
        bool ok = false;
        const int typed = m_buddy->text().trimmed().toInt(&ok);
        if (ok)
            from = qBound(m_min, typed, m_max);
    }
    const int next = qBound(m_min, from + steps * m_step, m_max);
    m_value = next;
    if (m_buddy)
        m_buddy->setText(QString::number(next));
    Q_EMIT valueChanged(next);
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event)
{
    // The arrow keys in the box step as the arrows do.
    if (watched == m_buddy && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            stepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace fw
