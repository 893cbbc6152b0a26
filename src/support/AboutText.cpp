#include "support/AboutText.h"

namespace fw {

namespace {
QString signedNumber(int n)
{
    return (n < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + QString::number(qAbs(static_cast<qint64>(n)));
}
} // namespace

QString aboutVersionText(int major, int minor, int revision)
{
    return signedNumber(major) + QLatin1Char('.') + QString::number(minor) + QStringLiteral(" Build") + signedNumber(revision);
}

QString aboutVersionText()
{
    return aboutVersionText(FERROWIND_VERSION_MAJOR, FERROWIND_VERSION_MINOR, FERROWIND_VERSION_PATCH);
}

QString aboutLegalText()
{
    return QStringLiteral(
        "Copyright \u00A9 2026 the Ferrowind developers.\n\n"
        "Ferrowind is free software: you can redistribute it and/or modify it under the terms of the GNU General "
        "Public License as published by the Free Software Foundation, either version 3 of the License, or (at your "
        "option) any later version. It is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; "
        "without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE. See the LICENSE "
        "file that came with the program for details.\n\n"
        "Ferrowind changes how Velmora's directory connectors reconnect. Change these settings only when you know "
        "why; the defaults suit almost every installation. Velmora and the names of other products mentioned are "
        "the trademarks of their owners.");
}

} // namespace fw
