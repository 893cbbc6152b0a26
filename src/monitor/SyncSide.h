#pragma once
#include <QString>

namespace fw {

// The two halves of the directory synchronisation: per-domain DC runs and global catalog runs.
enum class SyncSide { DC, GC };

inline QString syncSideName(SyncSide s)
{
    return s == SyncSide::DC ? QStringLiteral("DC") : QStringLiteral("GC");
}

} // namespace fw
