#pragma once
#include <QString>

namespace fw {

// The About window's version label: " 1.2 Build 15" for version 1.2, revision 15. The blank before the major
// and the revision number is where a minus sign would stand; the minor number has none.
QString aboutVersionText(int major, int minor, int revision);
// The same for the running program.
QString aboutVersionText();

// The legal notices of the About window.
QString aboutLegalText();

} // namespace fw
