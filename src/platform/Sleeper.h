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

// Returns at once and remembers how long it was asked to wait.
class InstantSleeper final : public Sleeper {
public:
    void sleepMs(int ms) override { totalMs += ms; ++calls; }
    long long totalMs = 0;
    int calls = 0;
};

} // namespace fw
