#pragma once
#include <QString>

namespace fw {

class AppContext;

inline constexpr const char* kHelpFileName = "FerrowindManager.htm";

// Where the help page is: beside the executable, else in the installed data folder (../share/ferrowind);
// the path beside the executable when it is in neither.
QString helpFilePath(const AppContext& ctx);

// Opens the help page with the desktop's program for it. On failure says why in a message box: no associated
// program (code 31), or the code the platform reported (2 for a missing file). True when it opened.
bool LaunchHelpFile(AppContext& ctx);

} // namespace fw
