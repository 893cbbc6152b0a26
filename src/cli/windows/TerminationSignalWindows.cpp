#include "cli/TerminationSignal.h"

#include <QMetaObject>

#include <atomic>
#include <csignal>
#include <mutex>

#include <windows.h>

namespace fw {
namespace {

// What the console's handler thread may reach: the object to post to and the call to make there.
std::mutex g_mutex;
QObject* g_watcher = nullptr;
std::function<void(int)> g_handler;
// Windows ends the process once the handler returns from a close, log-off or shut-down event (or after about
// five seconds): waiting here gives the command that time to drain.
constexpr DWORD kCloseGraceMs = 4500;
// Set while such a wait runs. The console holds its lock of the handler list while a handler runs, so the handler
// is then left in place: taking it out would wait for the grace to end before the command may exit.
std::atomic<bool> g_closing{false};

BOOL WINAPI onConsoleEvent(DWORD type)
{
    int sig = SIGTERM;
    if (type == CTRL_C_EVENT)
        sig = SIGINT;
    else if (type == CTRL_BREAK_EVENT)
        sig = SIGBREAK;
    const bool closing = type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    {
        std::lock_guard lock(g_mutex);
        if (!g_watcher)
            return FALSE;
        if (closing)
            g_closing = true; // before the command can see the stop and go
        // Posted: a call to an object that is gone by then is dropped with it.
        QMetaObject::invokeMethod(
            g_watcher, [sig, handler = g_handler] { handler(sig); }, Qt::QueuedConnection);
    }
    if (closing)
        Sleep(kCloseGraceMs);
    return TRUE;
}

} // namespace

TerminationSignal::TerminationSignal(std::function<void(int)> handler, QObject* parent)
    : QObject(parent), m_onSignal(std::move(handler))
{
    auto* watcher = new QObject(this);
    {
        std::lock_guard lock(g_mutex);
        g_watcher = watcher;
        g_handler = m_onSignal;
    }
    if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        std::lock_guard lock(g_mutex);
        g_watcher = nullptr;
        g_handler = nullptr;
        delete watcher;
        return;
    }
    m_watcher = watcher;
}

TerminationSignal::~TerminationSignal()
{
    if (!m_watcher)
        return;
    if (!g_closing)
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    std::lock_guard lock(g_mutex);
    g_watcher = nullptr;
    g_handler = nullptr;
    delete m_watcher;
}

void ignoreHangup() {}

} // namespace fw
