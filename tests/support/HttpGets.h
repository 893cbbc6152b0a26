#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>

namespace fw::test {

// Sends GETs to all `urls` at once and waits for every answer (at most `waitMs`): status code and body
// of each, in the order of `urls` (status 0 when no answer came).
QList<QPair<int, QByteArray>> getAll(const QStringList& urls, int waitMs = 20000);

} // namespace fw::test
