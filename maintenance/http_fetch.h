#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

namespace kestrix {

struct FetchResult {
    bool ok = false;
    bool cancelled = false;
    bool tooLong = false;  // the server sent or announced more than the limit
    QByteArray body;
    QString error;  // why it failed, for the administrator
};

struct FetchLimits {
    int timeoutMs = 30000;  // nothing arriving for this long fails the fetch
    qint64 maxBytes = 0;    // a body longer than this fails it, read no further
};

// The caller's side of a running fetch: what arrives, and its end on demand.
class FetchControl {
  public:
    // Bytes so far and bytes announced (-1 when unknown), as they arrive.
    std::function<void(qint64 received, qint64 total)> progress;
    // Once a second while nothing arrives: the whole seconds since anything did.
    std::function<void(int seconds)> quiet;

    // Ends the running fetch at once; a fetch started later ends before it asks.
    void cancel();
    bool cancelled() const { return cancelled_; }

  private:
    friend FetchResult httpGet(const QUrl&, const FetchLimits&, FetchControl*);
    std::function<void()> abort_;
    bool cancelled_ = false;
};

// An HTTP GET through Qt Network that waits (processing events) for its end.
// It fails when nothing arrives for the time limit, on any error status,
// when the body would pass the byte limit (an announced length past it fails
// before the body is read), and when fewer or more bytes arrive than the
// server announced.
FetchResult httpGet(const QUrl& url, const FetchLimits& limits, FetchControl* control = nullptr);

}  // namespace kestrix
