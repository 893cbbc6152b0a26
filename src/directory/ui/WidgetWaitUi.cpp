#include "directory/ui/WidgetWaitUi.h"

#include <QApplication>
#include <QEvent>
#include <QProgressDialog>
#include <QEventLoop>

#include <thread>

namespace fw {

WidgetWaitUi::WidgetWaitUi(QWidget* window) : QObject(window), m_window(window) {}

WidgetWaitUi::~WidgetWaitUi()
{
    if (m_busy)
        QApplication::restoreOverrideCursor();
}

void WidgetWaitUi::setBusy(bool on)
{
    if (on == m_busy)
        return;
    m_busy = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void WidgetWaitUi::countdown(int secondsLeft)
{
    if (secondsLeft <= 0) {
        if (m_countdown)
            m_countdown->deleteLater();
        m_countdown.clear();
        return;
    }
    if (!m_countdown) {
        m_countdown = new QProgressDialog(m_window);
        m_countdown->setObjectName(QStringLiteral("dlgReconnectWait"));
        m_countdown->setWindowTitle(QStringLiteral("Ferrowind Settings Tool"));
        m_countdown->setCancelButton(nullptr);
        m_countdown->setWindowModality(Qt::WindowModal);
        m_countdown->setMinimumDuration(0);
        m_countdown->setRange(0, secondsLeft);
        m_countdown->setAutoClose(false);
        m_countdown->setAutoReset(false);
    }
    m_countdown->setLabelText(QStringLiteral("Waiting for the connector: %1 s").arg(secondsLeft));
    m_countdown->setValue(m_countdown->maximum() - secondsLeft);
    m_countdown->show();
}

bool WidgetWaitUi::eventFilter(QObject* watched, QEvent* event)
{
    if (m_blocking > 0) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride: return true;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WidgetWaitUi::runBlocking(const std::function<void()>& work)
{
    ++m_blocking;
    qApp->installEventFilter(this);
    // The window keeps painting in a local event loop that the worker ends when it is done; nothing polls.
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    qApp->removeEventFilter(this);
    --m_blocking;
}

} // namespace fw
