#include "cli/TerminationSignal.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {
namespace {

int g_pipe[2] = {-1, -1}; // the only state a signal handler may touch
struct sigaction g_oldTerm;
struct sigaction g_oldInt;

void onSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
}

} // namespace

TerminationSignal::TerminationSignal(std::function<void(int)> handler, QObject* parent)
    : QObject(parent), m_onSignal(std::move(handler))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    m_watcher = notifier;
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char b = 0;
        if (::read(g_pipe[0], &b, 1) == 1)
            m_onSignal(b);
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, &g_oldTerm);
    sigaction(SIGINT, &sa, &g_oldInt);
}

TerminationSignal::~TerminationSignal()
{
    if (!m_watcher)
        return;
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    sigaction(SIGINT, &g_oldInt, nullptr);
    delete m_watcher;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void ignoreHangup()
{
    std::signal(SIGHUP, SIG_IGN);
}

} // namespace fw
