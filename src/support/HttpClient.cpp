#include "support/HttpClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace fw {

namespace {
constexpr int kMaxRedirects = 5;

bool isLoopback(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress a(host);
    return !a.isNull() && a.isLoopback();
}

QNetworkProxy proxyFor(const QUrl& url, HttpAccess access)
{
    // The loopback never goes through a proxy, whatever the environment says.
    if (access == HttpAccess::Direct || isLoopback(url.host()))
        return QNetworkProxy(QNetworkProxy::NoProxy);
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    return proxies.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxies.first();
}
} // namespace

HttpResponse NetworkHttpClient::get(const QUrl& url, HttpAccess access)
{
    HttpResponse r;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        r.error = {QNetworkReply::ProtocolUnknownError, QStringLiteral("%1 is not an http or https address").arg(url.toString())};
        return r;
    }
    if (!QCoreApplication::instance()) {
        r.error = {QNetworkReply::UnknownNetworkError, QStringLiteral("no application object to run the download")};
        return r;
    }

    QNetworkAccessManager nam;
    nam.setProxy(proxyFor(url, access));
    nam.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("HTTP Generic"));
    req.setMaximumRedirectsAllowed(kMaxRedirects);

    QNetworkReply* reply = nam.get(req);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool timedOut = false;
    bool tooLarge = false;
    const qint64 maxBytes = m_limits.maxBytes;

    QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant len = reply->header(QNetworkRequest::ContentLengthHeader);
        if (len.isValid() && len.toLongLong() > maxBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        if (tooLarge)
            return;
        r.body += reply->readAll();
        if (r.body.size() > maxBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(m_limits.timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();

    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!tooLarge && !timedOut && reply->error() == QNetworkReply::NoError)
        r.body += reply->readAll();
    if (tooLarge) {
        r.error = {kTooLargeError, QStringLiteral("the answer from %1 is larger than %2 bytes").arg(url.host()).arg(maxBytes)};
    } else if (timedOut) {
        r.error = {
            kTimeoutError,
            QStringLiteral("%1 did not answer within %2 seconds").arg(url.host()).arg(m_limits.timeoutMs / 1000.0, 0, 'g', 3)};
    } else if (reply->error() != QNetworkReply::NoError) {
        r.error = {static_cast<int>(reply->error()), reply->errorString()};
    }
    if (r.error)
        r.body.clear();
    delete reply;
    return r;
}

} // namespace fw
