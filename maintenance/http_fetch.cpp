#include "maintenance/http_fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

namespace kestrix {

namespace {

// What Qt may hold for us between two reads: the socket waits beyond it, so a
// server that sends without end cannot fill the memory behind our back.
constexpr qint64 kReadBufferBytes = 1 << 20;

// Moves what the reply holds into the body, one byte past the limit at most.
void readAvailable(QNetworkReply& reply, QByteArray& body, qint64 limit) {
    while (body.size() <= limit && reply.bytesAvailable() > 0)
        body += reply.read(std::min(reply.bytesAvailable(), limit + 1 - body.size()));
}

}  // namespace

void FetchControl::cancel() {
    cancelled_ = true;
    if (abort_) abort_();
}

FetchResult httpGet(const QUrl& url, const FetchLimits& limits, FetchControl* control) {
    FetchResult result;
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        result.error = QStringLiteral("not a web address: \"%1\"").arg(url.toString());
        return result;
    }
    if (control && control->cancelled()) {
        result.cancelled = true;
        result.error = QStringLiteral("cancelled");
        return result;
    }
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(limits.timeoutMs);
    QNetworkReply* reply = manager.get(request);
    reply->setReadBufferSize(kReadBufferBytes);
    QEventLoop loop;
    // The first reason to stop wins; abort() ends the reply with a finished().
    auto stop = [&](QString why) {
        if (!result.error.isEmpty()) return;
        result.error = std::move(why);
        reply->abort();
    };
    if (control) {
        control->abort_ = [&] {
            result.cancelled = true;
            stop(QStringLiteral("cancelled"));
        };
    }
    int quietSeconds = 0;
    QTimer quietTimer;
    quietTimer.setInterval(1000);
    QObject::connect(&quietTimer, &QTimer::timeout, &loop, [&] {
        ++quietSeconds;
        if (control && control->quiet) control->quiet(quietSeconds);
    });
    quietTimer.start();
    const auto arrived = [&] {
        quietSeconds = 0;
        quietTimer.start();
    };
    // Told from what was read, at every arrival: Qt's own progress signal
    // skips arrivals that come close together, the last before a stall too.
    const auto tell = [&] {
        if (!control || !control->progress || !result.error.isEmpty()) return;
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        control->progress(result.body.size(), announced.isValid() ? announced.toLongLong() : -1);
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        arrived();
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && announced.toLongLong() > limits.maxBytes) {
            result.tooLong = true;
            stop(QStringLiteral("the server announces %1 bytes, more than the %2 allowed")
                     .arg(announced.toLongLong())
                     .arg(limits.maxBytes));
        }
        tell();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        arrived();
        readAvailable(*reply, result.body, limits.maxBytes);
        if (result.body.size() > limits.maxBytes) {
            result.tooLong = true;
            stop(QStringLiteral("the server sent more than the %1 bytes allowed")
                     .arg(limits.maxBytes));
        }
        tell();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    if (!reply->isFinished()) {
        // The application is ending: every event loop is told to return.
        result.cancelled = true;
        stop(QStringLiteral("the program is ending"));
    }
    if (control) control->abort_ = nullptr;
    quietTimer.stop();

    if (result.error.isEmpty()) {
        readAvailable(*reply, result.body, limits.maxBytes);
        tell();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (result.body.size() > limits.maxBytes) {
            result.tooLong = true;
            result.error = QStringLiteral("the server sent more than the %1 bytes allowed")
                               .arg(limits.maxBytes);
        } else if (reply->error() == QNetworkReply::OperationCanceledError ||
                   reply->error() == QNetworkReply::TimeoutError) {
            // The transfer time limit aborts the reply.
            result.error =
                QStringLiteral("no answer within %1 seconds").arg(limits.timeoutMs / 1000.0);
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
    }
    if (!result.ok) result.body.clear();
    return result;
}

}  // namespace kestrix
