#include "support/FileAccess.h"

#include <QFile>

#include <sys/stat.h>

namespace fw::test {

bool othersMayAccess(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) != 0 || (st.st_mode & 077) != 0;
}

} // namespace fw::test
