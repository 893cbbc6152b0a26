#pragma once
#include <QString>
#include <QStringList>

namespace fw {

// The debugger output channel: short "Entering ..."/"Exiting ..." texts and error reports.
// It never changes what the program does.
class DebugChannel {
public:
    virtual ~DebugChannel() = default;
    virtual void write(const QString& text) = 0;
};

// Writes to the logging category "ferrowind.debugger" (stderr by default).
class StderrDebugChannel final : public DebugChannel {
public:
    void write(const QString& text) override;
};

} // namespace fw
