#include "FakeListingServer.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <stdexcept>

namespace {

// The value of the marker parameter in the request line, decoded.
QByteArray MarkerOf(const QByteArray& request) {
    const QByteArray target = request.left(request.indexOf("\r\n")).split(' ').value(1);
    const QByteArray query = target.mid(target.indexOf('?') + 1);
    for (const QByteArray& parameter : query.split('&')) {
        if (parameter.startsWith("marker="))
            return QByteArray::fromPercentEncoding(parameter.mid(7));
    }
    return {};
}

QByteArray Answer(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: application/xml\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

TFakeListingServer::TFakeListingServer(const QHash<QByteArray, QByteArray>& pagesByMarker)
    : server_(new QTcpServer) {
    if (!server_->listen(QHostAddress::LocalHost, 0)) {
        delete server_;
        throw std::runtime_error("The fake listing server cannot listen on loopback");
    }
    port_ = server_->serverPort();
    QObject::connect(server_, &QTcpServer::newConnection, server_, [server = server_, pagesByMarker] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, pagesByMarker] {
                // A listing request has no body: the answer goes out once the header is complete.
                if (!socket->peek(socket->bytesAvailable()).contains("\r\n\r\n"))
                    return;
                const QByteArray marker = MarkerOf(socket->readAll());
                socket->write(pagesByMarker.contains(marker) ? Answer("200 OK", pagesByMarker[marker])
                                                             : Answer("404 Not Found", {}));
                socket->disconnectFromHost();
            });
        }
    });
    server_->moveToThread(&thread_);
    thread_.start();
}

TFakeListingServer::~TFakeListingServer() {
    QMetaObject::invokeMethod(
        server_, [server = server_] { delete server; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}
