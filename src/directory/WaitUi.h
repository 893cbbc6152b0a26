#pragma once
#include <functional>

namespace fw {

// How a long check or pause shows itself: the wait cursor, a countdown, and a way to run blocking work
// while the window keeps painting but takes no input. The default does nothing and runs work inline
// (the command line and tests).
class WaitUi {
public:
    virtual ~WaitUi() = default;
    virtual void setBusy(bool) {}
    // Seconds left of a pause; 0 when it is over.
    virtual void countdown(int) {}
    virtual void runBlocking(const std::function<void()>& work) { work(); }
};

} // namespace fw
