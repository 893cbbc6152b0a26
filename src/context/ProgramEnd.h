#pragma once

namespace fw {

class EventLoop;

// The one owner of ending the program. Windows and pages ask it to end the program instead of leaving
// the event loop themselves, and it remembers that the end was asked for, so a caller can tell whether
// to go on.
class ProgramEnd {
public:
    explicit ProgramEnd(EventLoop& loop) : m_loop(loop) {}

    // Ends the program with `exitCode`. Every request is passed on to the event loop.
    void request(int exitCode);
    bool requested() const { return m_requested; }

private:
    EventLoop& m_loop;
    bool m_requested = false;
};

} // namespace fw
