#include "platform/DebugChannel.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcDebugger, "ferrowind.debugger", QtInfoMsg)

namespace fw {

void StderrDebugChannel::write(const QString& text)
{
    // Info level: visible by default, silenced with QT_LOGGING_RULES="ferrowind.debugger=false".
    qCInfo(lcDebugger).noquote() << text;
}

} // namespace fw
