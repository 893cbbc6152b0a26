#pragma once
#include <QString>
#include <optional>

namespace fw {

struct FleetState;

// The monitoring-plugin verdict on the age of each side's newest finished run.
struct SyncCheckResult {
    enum Status : int { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };
    Status status = Unknown;
    QString line; // "FERROWIND <STATUS> - <summary> | <perfdata>"
};

class SyncCheck {
public:
    // Defaults: warning at three and critical at six sync intervals of the side's newest finished run.
    static constexpr int kWarningIntervals = 3;
    static constexpr int kCriticalIntervals = 6;

    // Limits in minutes (an age above the limit counts); unset ones follow each side's interval. One given that crosses
    // the other's default is a usage error, UNKNOWN.
    static SyncCheckResult evaluate(const FleetState& state, std::optional<qint64> warningMinutes,
                                    std::optional<qint64> criticalMinutes);

    static QString statusWord(SyncCheckResult::Status s);
};

} // namespace fw
