#include "platform/ui/PaintingSleeper.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

namespace fw {

void PaintingSleeper::sleepMs(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(20, ms - t.elapsed() > 0 ? ms - t.elapsed() : 0)));
    }
}

} // namespace fw
