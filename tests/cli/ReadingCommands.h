#pragma once
#include <QList>
#include <QStringList>

namespace fw::test {

// The commands that only read the database, as the read-only cases run each of them.
inline const QList<QStringList> kReadingCommands{{"status"},
                                                 {"status", "--details", "dc"},
                                                 {"status", "--details", "gc"},
                                                 {"metrics"},
                                                 {"check-sync"},
                                                 {"history", "dc"},
                                                 {"history", "gc"},
                                                 {"settings", "show"}};

} // namespace fw::test
