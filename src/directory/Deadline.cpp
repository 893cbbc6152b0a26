#include "directory/Deadline.h"

namespace fw {

int Deadline::remainingMs() const
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

QString Deadline::cutShort(const QString& step, const QString& server)
{
    return QStringLiteral("%1 of %2 cut short at the %3-second deadline").arg(step, server).arg(kVerdictMs / 1000);
}

} // namespace fw
