#pragma once
#include "directory/WaitUi.h"

#include <QObject>
#include <QPointer>

class QProgressDialog;
class QWidget;

namespace fw {

// The wait cursor, a countdown box for the pauses, and blocking work run on a worker thread while the
// window keeps painting; user input that arrives meanwhile is dropped, not replayed afterwards.
class WidgetWaitUi final : public QObject, public WaitUi {
    Q_OBJECT
public:
    explicit WidgetWaitUi(QWidget* window);
    ~WidgetWaitUi() override;

    void setBusy(bool on) override;
    void countdown(int secondsLeft) override;
    void runBlocking(const std::function<void()>& work) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    bool m_busy = false;
    int m_blocking = 0;
    QPointer<QProgressDialog> m_countdown;
};

} // namespace fw
