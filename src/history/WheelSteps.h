#pragma once
#include <QPoint>

namespace fw {

// Turns wheel and touchpad deltas (eighths of a degree, 120 to a notch) into whole scroll steps, keeping what
// is left over, so that many small deltas add up to a step just as one notch does. Vertical input scrolls;
// where there is none, horizontal input does.
class WheelSteps {
public:
    explicit WheelSteps(int stepsPerNotch) : m_stepsPerNotch(stepsPerNotch) {}

    // The steps to move back (towards the start) for one wheel event: positive when the wheel turns away from
    // the user or to the left.
    int add(QPoint angleDelta);
    void reset() { m_rest = 0; }

private:
    int m_stepsPerNotch;
    int m_rest = 0; // in 1/120 steps
};

} // namespace fw
