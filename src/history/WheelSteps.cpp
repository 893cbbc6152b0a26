#include "history/WheelSteps.h"

namespace fw {

int WheelSteps::add(QPoint angleDelta)
{
    const int delta = angleDelta.y() != 0 ? angleDelta.y() : angleDelta.x();
    // A change of direction drops what was left over from the other one.
    if ((delta > 0 && m_rest < 0) || (delta < 0 && m_rest > 0))
        m_rest = 0;
    m_rest += delta * m_stepsPerNotch;
    const int steps = m_rest / 120; // toward zero: the rest keeps its sign
    m_rest -= steps * 120;
    return steps;
}

} // namespace fw
