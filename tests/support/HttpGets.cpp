#include "HttpGets.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace fw::test {

QList<QPair<int, QByteArray>> getAll(const QStringList& urls, int waitMs)
{
    QNetworkAccessManager nam;
    QList<QNetworkReply*> replies;
    for (const QString& u : urls)
        replies.append(nam.get(QNetworkRequest(QUrl(u))));
    QEventLoop loop;
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    int left = static_cast<int>(replies.size());
    for (QNetworkReply* r : replies)
        QObject::connect(r, &QNetworkReply::finished, &loop, [&] {
            if (--left == 0)
                loop.quit();
        });
    if (left > 0)
        loop.exec();
    QList<QPair<int, QByteArray>> out;
    for (QNetworkReply* r : replies) {
        out.append(
            {r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), r->isFinished() ? r->readAll() : QByteArray()});
        r->abort();
        r->deleteLater();
    }
    return out;
}

} // namespace fw::test
