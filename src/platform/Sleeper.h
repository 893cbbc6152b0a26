#pragma once

namespace fw {

// Waits a number of milliseconds. The desktop tool's sleeper keeps painting its windows while it waits.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int ms) = 0;
};

// Blocks the calling thread; for the command line.
class ThreadSleeper final : public Sleeper {
public:
    void sleepMs(int ms) override;
};

} // namespace fw
