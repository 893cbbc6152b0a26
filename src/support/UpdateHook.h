#pragma once
#include <QString>
#include <QStringList>

namespace fw {

class AppContext;

// Where the tool's own web site is; the registry value "UpdateSite" under the tool's key replaces the default.
QString updateSite(const AppContext& ctx);
// The tool's home page on that site.
QString homePageAddress(const AppContext& ctx);

// The start-up hook: starts the script named by the tool's registry value "UpdateCheckScript" (a path, relative
// ones beside the program) with the running version, the home page and, when it has two or more characters, the
// extra text as separate arguments. Nothing is started when no script is configured; failures are ignored.
// Returns the arguments used, or an empty list when nothing was started.
QStringList RunBackgroundUpdateCheck(AppContext& ctx, const QString& homePage, const QString& extra);

inline constexpr const char* kHomePagePath = "/Applications/Velmora/Ferrowind/Ferrowind.html";
inline constexpr const char* kDefaultUpdateSite = "https://ferrowind.example.net";

} // namespace fw
