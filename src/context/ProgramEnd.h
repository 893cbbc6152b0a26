#pragma once

namespace fw {

class EventLoop;

// The one owner of ending the program. Windows and pages ask it to end the program instead of leaving
// the event loop themselves, and it remembers that the end was asked for: from then on no step of a
// sequence runs and the prompter shows nothing more.
class ProgramEnd {
public:
    explicit ProgramEnd(EventLoop& loop) : m_loop(loop) {}

    // Ends the program with `exitCode`. Only the first request reaches the event loop: a later one
    // (a window closing after a refusal) must not turn a failure's exit status into success.
    void request(int exitCode);
    bool requested() const { return m_requested; }

private:
    EventLoop& m_loop;
    bool m_requested = false;
};

} // namespace fw
