#pragma once

namespace fw {

// The program's event loop. Leaving it ends the program with the given exit status.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    virtual void exit(int exitCode) = 0;
};

// The Qt application's loop; a no-op while none runs (the command line).
class QtEventLoop final : public EventLoop {
public:
    void exit(int exitCode) override;
};

} // namespace fw
