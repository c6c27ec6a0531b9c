#include "BoundedTcpServer.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

constexpr int kLingerMs = 2000;

struct ConnectionBudget {
    qint64 received = 0;
    QByteArray requestLine; // first line of the request being read
    QElapsedTimer started;
};

} // namespace

BoundedTcpServer::BoundedTcpServer(qint64 maxRequestBytes, RejectLog log, QObject *parent)
    : QTcpServer(parent)
    , m_maxRequestBytes(maxRequestBytes)
    , m_log(std::move(log)) {}

void BoundedTcpServer::incomingConnection(qintptr handle) {
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    // Bounds what is buffered unread. The HTTP server keeps a partial request
    // in this buffer, so it must hold a little more than the budget, or a
    // large upload would stall right at the limit instead of being refused.
    socket->setReadBufferSize(m_maxRequestBytes + 4096);
    auto budget = std::make_shared<ConnectionBudget>();

    // Connected before the HTTP server's own slot, so this sees each chunk
    // before the server buffers it. The server reads everything it is given,
    // so bytesAvailable() here is exactly what has just arrived.
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, budget] {
        if (budget->received == 0) {
            budget->started.start();
            const QByteArray head = socket->peek(512);
            budget->requestLine = head.left(head.indexOf('\r'));
        }
        budget->received += socket->bytesAvailable();
        if (budget->received > m_maxRequestBytes &&
            socket->state() == QAbstractSocket::ConnectedState)
            reject(socket, budget->requestLine, budget->started.nsecsElapsed());
    });
    // A response ends the request; the next one starts a fresh budget.
    connect(socket, &QTcpSocket::bytesWritten, socket, [budget] { budget->received = 0; });
    addPendingConnection(socket);
}

void BoundedTcpServer::reject(QTcpSocket *socket, const QByteArray &requestLine, qint64 startedNs) {
    const QByteArray body = "{\"error\":\"request_too_large\",\"error_description\":"
                            "\"The request is too large.\"}";
    socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);

    // Closing with unread data would reset the connection and could destroy
    // the 413 before the client reads it. Instead take the socket away from
    // the HTTP server, drop whatever else arrives, and close once the client
    // has gone or after a grace period.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    disconnect(socket, &QTcpSocket::bytesWritten, nullptr, nullptr);
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    socket->readAll();
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    QTimer::singleShot(kLingerMs, socket, [socket] { socket->abort(); });

    // The client's own bytes: keep the method's letters and the path, encoded
    // so nothing in it can break the log line, and never the query.
    const QList<QByteArray> parts = requestLine.split(' ');
    QByteArray method;
    for (char c : parts.value(0).left(16)) {
        if (c >= 'A' && c <= 'Z')
            method += c;
    }
    QByteArray path = parts.value(1);
    if (const qsizetype query = path.indexOf('?'); query >= 0)
        path.truncate(query);
    path = QUrl::toPercentEncoding(QString::fromLatin1(path.left(200)), "/%-._~");
    if (m_log)
        m_log(method.isEmpty() ? QByteArrayLiteral("UNKNOWN") : method,
              path.isEmpty() ? QByteArrayLiteral("/") : path, 413, double(startedNs) / 1e6);
}
