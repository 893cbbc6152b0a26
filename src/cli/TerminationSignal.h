#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace fw {

// Turns SIGTERM and SIGINT into a call on the event loop's thread (through a self-pipe: the signal
// handler itself only writes a byte). The previous handlers come back when this object goes.
class TerminationSignal : public QObject {
public:
    explicit TerminationSignal(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TerminationSignal() override;
    // False when the self-pipe could not be made (the signals then keep their default action).
    bool isActive() const { return m_notifier != nullptr; }

private:
    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace fw
