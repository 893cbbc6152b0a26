#include "support/UpdateCheck.h"

#include "context/AppContext.h"
#include "log/ErrorReport.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"

#include <QStringList>
#include <QUrl>

namespace fw {

namespace {
const QString kModule = QStringLiteral("modUpdateCheck");
constexpr int kMinListLength = 10;
constexpr int kPartWidth = 4;

HttpClient& httpClient(AppContext& ctx)
{
    std::shared_ptr<HttpClient>& slot = ctx.seams().http;
    if (!slot)
        slot = std::make_shared<NetworkHttpClient>();
    return *slot;
}

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString siteHost(const QString& homePage)
{
    const QUrl url(homePage);
    return url.host().isEmpty() ? homePage : url.host();
}

bool isDigits(const QString& s)
{
    if (s.isEmpty())
        return false;
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

QString withoutLeadingZeros(const QString& digits)
{
    int i = 0;
    while (i < digits.size() - 1 && digits.at(i) == QLatin1Char('0'))
        ++i;
    return digits.mid(i);
}

void reportPadError(AppContext& ctx, const FwError& e)
{
    ErrorScope scope(QStringLiteral("PadVersionString"), kModule, OwnerKind::Module, {ErrorSink::MessageBox},
                     {&ctx.debug(), nullptr, &ctx.prompter()});
    scope.report(e);
}
} // namespace

Result<QString> DownloadText(AppContext& ctx, const QString& address, int accessType)
{
    const HttpResponse r = httpClient(ctx).get(QUrl(address), accessType == 1 ? HttpAccess::Direct : HttpAccess::System);
    if (!r.ok())
        return r.error;
    return QString::fromUtf8(r.body);
}

QString downloadListAddress(const QString& homePage)
{
    const QUrl home(homePage);
    if (!isWebAddress(home) || home.path().size() < 2)
        return {};
    QUrl list = home.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    list.setPath(QString::fromLatin1(kDownloadListPath));
    return list.toString();
}

LatestVersionLookup lookupLatestVersion(AppContext& ctx, const QString& homePage, const QString& extraKey)
{
    LatestVersionLookup out;
    out.listAddress = downloadListAddress(homePage);
    if (out.listAddress.isEmpty()) {
        out.error = {5, QStringLiteral("the home page %1 is not an http or https address with a path").arg(homePage)};
        return out;
    }
    const Result<QString> downloaded = DownloadText(ctx, out.listAddress, 0);
    if (!downloaded) {
        out.error = downloaded.error();
        return out;
    }
    const QString& list = *downloaded;
    if (list.size() < kMinListLength) {
        out.error = {
            5, QStringLiteral("the download list at %1 is too short (%2 characters)").arg(out.listAddress).arg(list.size())};
        return out;
    }

    const QString key = QUrl(homePage).path();
    const QString search = (extraKey.size() <= 1 ? QString() : extraKey) + QLatin1Char('^') + key + QStringLiteral("^ifram_a");
    const qsizetype at = list.indexOf(search, 0, Qt::CaseInsensitive);
    if (at < 0) {
        out.error = {5, QStringLiteral("the download list has no entry for %1").arg(key)};
        return out;
    }
    const qsizetype cell = list.indexOf(QStringLiteral("<cell>"), at, Qt::CaseInsensitive);
    if (cell < 0) {
        out.error = {5, QStringLiteral("the entry for %1 has no version cell").arg(key)};
        return out;
    }
    qsizetype i = cell + 6;
    while (i < list.size() &&
           (list.at(i) == QLatin1Char('.') || (list.at(i) >= QLatin1Char('0') && list.at(i) <= QLatin1Char('9'))))
        ++i;
    out.published = list.mid(cell + 6, i - cell - 6);

    const Result<QString> padded = PadVersionString(out.published);
    if (!padded)
        reportPadError(ctx, padded.error());
    out.comparable = padded.valueOr(QString());
    if (out.comparable.isEmpty())
        out.error = {5, QStringLiteral("the published version \"%1\" is not a usable version").arg(out.published)};
    return out;
}

QString GetLatestVersion(AppContext& ctx, const QString& homePage, const QString& extraKey)
{
    return lookupLatestVersion(ctx, homePage, extraKey).comparable;
}

Result<QString> PadVersionString(const QString& version)
{
    if (version.size() < 4)
        return QString();
    QString text = version;
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1); // a version at the end of a sentence
    QStringList parts = text.split(QLatin1Char('.'));
    for (QString& part : parts) {
        part = part.trimmed();
        if (part.isEmpty())
            return QString();
        if (!isDigits(part))
            return FwError::typeMismatch();
        part = withoutLeadingZeros(part).rightJustified(kPartWidth, QLatin1Char('0'));
    }
    return parts.join(QLatin1Char('.'));
}

int compareComparableVersions(const QString& a, const QString& b)
{
    const QStringList pa = a.split(QLatin1Char('.'));
    const QStringList pb = b.split(QLatin1Char('.'));
    const qsizetype n = std::max(pa.size(), pb.size());
    for (qsizetype i = 0; i < n; ++i) {
        const QString x = i < pa.size() ? withoutLeadingZeros(pa.at(i)) : QStringLiteral("0");
        const QString y = i < pb.size() ? withoutLeadingZeros(pb.at(i)) : QStringLiteral("0");
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        if (const int c = QString::compare(x, y, Qt::CaseSensitive); c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

UpdateCheckOutcome checkForUpdatedVersion_Foreground(AppContext& ctx, const QString& homePage, const QString& extraKey)
{
    return checkForUpdatedVersion_Foreground(ctx, homePage, extraKey, AppContext::programVersion());
}

UpdateCheckOutcome checkForUpdatedVersion_Foreground(AppContext& ctx, const QString& homePage, const QString& extraKey,
                                                     const QString& runningVersion)
{
    ErrorScope scope(QStringLiteral("checkForUpdatedVersion_Foreground"), kModule, OwnerKind::Module, {ErrorSink::MessageBox},
                     {&ctx.debug(), nullptr, &ctx.prompter()});
    scope.setErrorPrefix(true);

    const LatestVersionLookup latest = lookupLatestVersion(ctx, homePage, extraKey);
    const Result<QString> padded = PadVersionString(runningVersion);
    if (!padded)
        reportPadError(ctx, padded.error());
    const QString current = padded.valueOr(QString());
    const QString host = siteHost(homePage);

    if (latest.comparable.isEmpty()) {
        ctx.debug().write(QStringLiteral("Update check: ") + latest.error.description);
        ctx.prompter().inform(update_text::kUnreachable + host);
        return UpdateCheckOutcome::Unreachable;
    }
    if (compareComparableVersions(current, latest.comparable) < 0) {
        if (ctx.prompter().offer(update_text::kOfferTitle, update_text::kOfferBefore + host + update_text::kOfferAfter)) {
            const Shell::Result r = ctx.shell().openAddress(homePage);
            if (!r.ok)
                scope.report({r.code, r.message});
        }
        return UpdateCheckOutcome::NewerAvailable;
    }
    ctx.prompter().inform(update_text::kUpToDate);
    return UpdateCheckOutcome::UpToDate;
}

} // namespace fw
