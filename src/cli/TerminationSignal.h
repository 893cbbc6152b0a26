#pragma once
#include <QObject>
#include <functional>

namespace fw {

// Turns a request to stop into a call on the event loop's thread. On Linux SIGTERM and SIGINT (through a self-pipe:
// the signal handler itself only writes a byte); on Windows Ctrl-C, Ctrl-Break and the console's closing, log-off
// and shut-down (SetConsoleCtrlHandler), numbered SIGINT, SIGBREAK and SIGTERM. The previous handlers come back
// when this object goes.
class TerminationSignal : public QObject {
public:
    explicit TerminationSignal(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TerminationSignal() override;
    // False when the handler could not be set up (the signals then keep their default action).
    bool isActive() const { return m_watcher != nullptr; }

private:
    std::function<void(int)> m_onSignal;
    QObject* m_watcher = nullptr; // what brings the signal to the event loop
};

// A terminal that closes (SIGHUP) does not end a long-running command on Linux; nothing to do on Windows.
void ignoreHangup();

} // namespace fw
