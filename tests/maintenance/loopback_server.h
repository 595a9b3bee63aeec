#pragma once

#include <QByteArray>
#include <QTcpServer>

#include <map>
#include <optional>
#include <string>

namespace kestrix::test {

// A small HTTP/1.0 server on 127.0.0.1 for the update check. It answers in
// the thread that runs the event loop, which the fetch under test spins.
class LoopbackServer : public QObject {
  public:
    struct Reply {
        Reply(QByteArray text = {}, int code = 200, std::optional<qint64> length = {})
            : body(std::move(text)), status(code), announced(length) {}
        static Reply silentOne() {
            Reply reply;
            reply.silent = true;
            return reply;
        }
        // The body over and over, without a length, until the client goes.
        static Reply endlessOne(QByteArray piece) {
            Reply reply(std::move(piece));
            reply.endless = true;
            return reply;
        }
        // The first bytes of a body of the announced length, then nothing.
        static Reply stallingOne(QByteArray start, qint64 length) {
            Reply reply(std::move(start), 200, length);
            reply.stalls = true;
            return reply;
        }

        QByteArray body;
        int status = 200;
        std::optional<qint64> announced;  // Content-Length, when not the body's size
        bool silent = false;              // accepts the request, never answers
        bool endless = false;
        bool stalls = false;  // keeps the connection open after the body
    };

    LoopbackServer();
    // "http://127.0.0.1:<port>"
    std::string base() const;
    void serve(const QByteArray& pathAndQuery, Reply reply) { replies_[pathAndQuery] = reply; }
    int requests(const QByteArray& pathAndQuery) const;

  private:
    void answer(QTcpSocket* socket);

    QTcpServer server_;
    std::map<QByteArray, Reply> replies_;
    std::map<QByteArray, int> requests_;
};

}  // namespace kestrix::test
