#include "tests/maintenance/loopback_server.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <stdexcept>

namespace kestrix::test {

LoopbackServer::LoopbackServer() {
    if (!server_.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("the loopback test server could not listen");
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
}

std::string LoopbackServer::base() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
}

int LoopbackServer::requests(const QByteArray& pathAndQuery) const {
    const auto found = requests_.find(pathAndQuery);
    return found == requests_.end() ? 0 : found->second;
}

void LoopbackServer::answer(QTcpSocket* socket) {
    if (!socket->canReadLine()) return;
    // "GET <path> HTTP/1.1"; the rest of the request does not matter here.
    const QList<QByteArray> words = socket->readLine().trimmed().split(' ');
    socket->readAll();
    const QByteArray path = words.value(1);
    ++requests_[path];
    const auto found = replies_.find(path);
    Reply reply = found == replies_.end() ? Reply{"not here", 404} : found->second;
    if (reply.silent) return;
    QByteArray response = "HTTP/1.0 " + QByteArray::number(reply.status) + " X\r\n";
    if (!reply.endless) {
        response +=
            "Content-Length: " + QByteArray::number(reply.announced.value_or(reply.body.size())) +
            "\r\n";
    }
    response += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    response += reply.body;
    socket->write(response);
    if (reply.endless) {
        QByteArray piece = reply.body.isEmpty() ? QByteArray("x") : reply.body;
        while (piece.size() < 65536)
            piece += piece;
        // More whenever the client has taken most of what was sent.
        connect(socket, &QTcpSocket::bytesWritten, socket, [socket, piece] {
            if (socket->bytesToWrite() < 4 * piece.size()) socket->write(piece);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        return;
    }
    if (reply.stalls) return;
    socket->disconnectFromHost();
}

}  // namespace kestrix::test
