#include "log/LogFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace fw {

namespace {
bool canWriteInto(const QString& dir)
{
    QDir d(dir);
    if (!d.exists())
        return false;
    QTemporaryFile probe(d.filePath(QStringLiteral(".write-probe-XXXXXX")));
    return probe.open();
}
} // namespace

QString writableLogsBeside(const QString& programFolder)
{
    const QString beside = QDir(programFolder).filePath(QStringLiteral("logs"));
    if (canWriteInto(beside) || (!QFileInfo::exists(beside) && canWriteInto(programFolder)))
        return beside;
    return QString();
}

} // namespace fw
