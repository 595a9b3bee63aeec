#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

namespace kestrix {

struct FetchResult {
    bool ok = false;
    bool cancelled = false;
    QByteArray body;
    QString error;  // why it failed, for the administrator
};

// Bytes received and bytes announced (-1 when unknown); false cancels.
using FetchProgress = std::function<bool(qint64 received, qint64 total)>;

// An HTTP GET through Qt Network that waits (processing events) for its end.
// It fails when nothing arrives for timeoutMs, on any error status, and
// when fewer or more bytes arrive than the server announced.
FetchResult httpGet(const QUrl& url, int timeoutMs, const FetchProgress& progress = {});

}  // namespace kestrix
