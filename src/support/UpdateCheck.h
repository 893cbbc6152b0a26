#pragma once
#include "log/Result.h"
#include "support/HttpClient.h"

#include <QString>

namespace fw {

class AppContext;

// The site's list of all downloads, beside the home page on the same site.
inline constexpr const char* kDownloadListPath = "/SiteList/AllDownloads/AllDownloads.XML";

namespace update_text {
inline const QString kUnreachable = QStringLiteral(
    "Unable to contact application home page to check for version.  You can access the home page and check for "
    "updated versions of all Tarvik Velmora tools by going to ");
inline const QString kOfferTitle = QStringLiteral("Updated version is available");
inline const QString kOfferBefore = QStringLiteral("An updated version of this tool is available on ");
inline const QString kOfferAfter = QStringLiteral(".  Click OK to open the application home page now");
inline const QString kUpToDate = QStringLiteral("You have the most up to date version of this tool installed");
} // namespace update_text

// The body of an http or https resource as text, fetched through the context's HttpClient (bounded in time and
// size); on failure the error says why.
Result<QString> DownloadText(AppContext& ctx, const QString& address, int accessType);

// The download list's address for a home page: the home page's scheme, host and port with kDownloadListPath.
// Empty when the home page is not an http or https address with a path.
QString downloadListAddress(const QString& homePage);

// What the site says about this tool.
struct LatestVersionLookup {
    QString listAddress;
    QString published;  // as written on the site, e.g. 1.0.46
    QString comparable; // PadVersionString of it; empty when no usable version was found
    FwError error;      // why no comparable version was found
};
LatestVersionLookup lookupLatestVersion(AppContext& ctx, const QString& homePage, const QString& extraKey);

// The site's version of the tool as a comparable version, or empty text. The tool's entry in the list is
// found by the home page's path.
QString GetLatestVersion(AppContext& ctx, const QString& homePage, const QString& extraKey);

// Every dot-separated part as a number of at least four digits ("1.0.46" gives "0001.0000.0046"), so that
// versions compare in numeric order. Empty text for fewer than 4 characters; error 13 (type mismatch) for a part
// that is not a number. A trailing dot is ignored; an empty part gives empty text. Callers that only compare take
// an error as empty text.
Result<QString> PadVersionString(const QString& version);

// Orders two comparable versions part by part in numeric order (negative, zero, positive). For parts of up to
// four digits this is the plain text order of the padded forms.
int compareComparableVersions(const QString& a, const QString& b);

enum class UpdateCheckOutcome { Unreachable, NewerAvailable, UpToDate };

// The check of the Help menu: looks the tool up on the site and says what it found in a message box; on an
// offered update and OK, opens the home page in the browser. Nothing downloaded is ever opened or run.
UpdateCheckOutcome checkForUpdatedVersion_Foreground(AppContext& ctx, const QString& homePage, const QString& extraKey,
                                                     const QString& runningVersion);
UpdateCheckOutcome checkForUpdatedVersion_Foreground(AppContext& ctx, const QString& homePage, const QString& extraKey);

} // namespace fw
