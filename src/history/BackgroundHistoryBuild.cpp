#include "history/BackgroundHistoryBuild.h"

#include <QThread>

namespace fw {

BackgroundHistoryBuild::BackgroundHistoryBuild(HistoryBuilder& builder) : m_builder(builder) {}

BackgroundHistoryBuild::~BackgroundHistoryBuild()
{
    if (!m_thread)
        return;
    m_cancel = true;
    m_thread->wait();
    delete m_thread;
}

void BackgroundHistoryBuild::start(QObject* receiver, std::function<void()> done)
{
    m_builder.setProgress([this](qint64 read, qint64 total) {
        m_read = read;
        m_total = total;
        return !m_cancel;
    });
    m_thread = QThread::create([this] {
        m_result = m_builder.collect();
        if (m_cancel)
            m_result.cancelled = true; // asked while the last query ran: abandoned all the same
    });
    QObject::connect(
        m_thread, &QThread::finished, receiver, [done = std::move(done)] { done(); }, Qt::QueuedConnection);
    m_thread->start();
}

bool BackgroundHistoryBuild::running() const
{
    return m_thread && !m_thread->isFinished();
}

} // namespace fw
