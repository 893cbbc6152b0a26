#include "support/OdbcPath.h"

namespace fw::test {

QString odbcFilePath(const QString& path)
{
    return path;
}

} // namespace fw::test
