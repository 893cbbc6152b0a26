#pragma once
#include "history/HistoryBuilder.h"

#include <QObject>
#include <atomic>
#include <functional>

class QThread;

namespace fw {

// Collects the history points on a thread of its own, with a database connection opened there, so that the
// windows keep painting while a long history is read. The runs read so far can be asked for at any time;
// cancel() makes the builder abandon the load at its next progress check.
class BackgroundHistoryBuild {
public:
    explicit BackgroundHistoryBuild(HistoryBuilder& builder);
    ~BackgroundHistoryBuild(); // abandons a build still running and waits for its thread
    BackgroundHistoryBuild(const BackgroundHistoryBuild&) = delete;
    BackgroundHistoryBuild& operator=(const BackgroundHistoryBuild&) = delete;

    // `done` runs in `receiver`'s thread once the build has ended, finished or abandoned.
    void start(QObject* receiver, std::function<void()> done);
    void cancel() { m_cancel = true; }
    bool cancelled() const { return m_cancel; }
    bool running() const;
    qint64 read() const { return m_read; }
    qint64 total() const { return m_total; }
    // The builder's result; read it once done has run.
    HistoryResult& result() { return m_result; }

private:
    HistoryBuilder& m_builder;
    QThread* m_thread = nullptr;
    HistoryResult m_result;
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_read{0};
    std::atomic<qint64> m_total{0};
};

} // namespace fw
