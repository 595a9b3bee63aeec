#include "maintenance/http_fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace kestrix {

FetchResult httpGet(const QUrl& url, int timeoutMs, const FetchProgress& progress) {
    FetchResult result;
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        result.error = QStringLiteral("not a web address: \"%1\"").arg(url.toString());
        return result;
    }
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 received, qint64 total) {
                         if (progress && !result.cancelled && !progress(received, total)) {
                             result.cancelled = true;
                             reply->abort();
                         }
                     });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();

    result.body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (result.cancelled) {
        result.error = QStringLiteral("cancelled");
    } else if (reply->error() == QNetworkReply::OperationCanceledError ||
               reply->error() == QNetworkReply::TimeoutError) {
        // The transfer time limit aborts the reply.
        result.error = QStringLiteral("no answer within %1 seconds").arg(timeoutMs / 1000.0);
    } else if (status != 0 && status != 200) {
        result.error = QStringLiteral("the server answered with status %1").arg(status);
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
    } else if (announced.isValid() && announced.toLongLong() != result.body.size()) {
        result.error = QStringLiteral("%1 of %2 bytes arrived")
                           .arg(result.body.size())
                           .arg(announced.toLongLong());
    } else {
        result.ok = true;
    }
    if (!result.ok) result.body.clear();
    return result;
}

}  // namespace kestrix
