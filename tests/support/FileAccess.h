#pragma once
#include <QString>

namespace fw::test {

// Whether anyone but the file's owner may read or write it: the group's and others' mode bits on Linux, the access
// list's entries for others (Everyone) on Windows.
bool othersMayAccess(const QString& path);

} // namespace fw::test
