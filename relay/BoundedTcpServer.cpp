#include "BoundedTcpServer.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcRelay)

namespace {

constexpr int kLingerMs = 2000;
constexpr int kTurnAwayLingerMs = 1000;
constexpr int kAcceptRetryMs = 250;
// Enough for the request line and headers of any request the relay serves.
constexpr qsizetype kMaxHead = 8 * 1024;
constexpr char kCloseProperty[] = "keelmarkCloseAfterReply";

struct Refusal {
    const char *statusLine;
    const char *body;
};

Refusal refusalFor(int status) {
    switch (status) {
    case 408:
        return {"408 Request Timeout", "{\"error\":\"request_timeout\",\"error_description\":"
                                       "\"The request did not arrive in time.\"}"};
    case 413:
        return {"413 Payload Too Large", "{\"error\":\"request_too_large\",\"error_description\":"
                                         "\"The request is too large.\"}"};
    default:
        return {"503 Service Unavailable",
                "{\"error\":\"too_many_connections\",\"error_description\":"
                "\"The relay is busy. Try again in a moment.\"}"};
    }
}

QByteArray responseFor(int status) {
    const Refusal refusal = refusalFor(status);
    const QByteArray body(refusal.body);
    return "HTTP/1.1 " + QByteArray(refusal.statusLine) +
           "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// `head` ends with the blank line. HTTP/1.0 closes unless asked otherwise;
// the relay never offers 1.0 keep-alive, so every 1.0 request closes.
bool wantsClose(const QByteArray &head) {
    const QList<QByteArray> lines = head.split('\n');
    if (lines.first().trimmed().endsWith("HTTP/1.0"))
        return true;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "connection")
            continue;
        for (const QByteArray &token : line.mid(colon + 1).split(',')) {
            if (token.trimmed().toLower() == "close")
                return true;
        }
    }
    return false;
}

} // namespace

struct BoundedTcpServer::Connection {
    QTimer *timer = nullptr; // the deadline or the idle time-out, whichever runs
    bool idle = false;       // between a response and the next request
    bool closing = false;
    qint64 received = 0; // bytes of the request being read
    QByteArray head;     // its request line and headers as far as they came
    bool headComplete = false;
    QElapsedTimer started;
};

BoundedTcpServer::BoundedTcpServer(Limits limits, RejectLog log, QObject *parent)
    : QTcpServer(parent)
    , m_limits(limits)
    , m_log(std::move(log)) {
    // QTcpServer stops accepting for good when accept() fails for want of
    // file descriptors; accept again once some have had time to close.
    connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        qCWarning(lcRelay).noquote() << "cannot accept connections:" << errorString();
        QTimer::singleShot(kAcceptRetryMs, this, [this] { resumeAccepting(); });
    });
}

BoundedTcpServer::~BoundedTcpServer() {
    // Closed here rather than as QObject children, which would report their
    // end to a listener that is already half destroyed.
    close();
    while (QTcpSocket *pending = nextPendingConnection())
        delete pending;
    qDeleteAll(findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly));
}

bool BoundedTcpServer::closesAfterReply(const QTcpSocket *socket) {
    return socket && socket->property(kCloseProperty).toBool();
}

void BoundedTcpServer::incomingConnection(qintptr handle) {
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    if (m_open >= m_limits.maxConnections) {
        turnAway(socket);
        return;
    }
    // Bounds what is buffered unread. The HTTP server keeps a partial request
    // in this buffer, so it must hold a little more than the budget, or a
    // large upload would stall right at the limit instead of being refused.
    socket->setReadBufferSize(m_limits.maxRequestBytes + 4096);

    auto connection = std::make_shared<Connection>();
    connection->timer = new QTimer(socket);
    // Counted through the timer, which goes with the socket: the HTTP server
    // may disconnect everything from the socket's own signals.
    ++m_open;
    connect(connection->timer, &QObject::destroyed, this, [this] {
        if (--m_open < m_limits.maxConnections && m_full) {
            m_full = false;
            qCInfo(lcRelay).noquote() << "accepting connections again";
        }
    });
    connection->timer->setSingleShot(true);
    connect(connection->timer, &QTimer::timeout, socket,
            [this, socket, connection] { onTimeout(socket, *connection); });
    connection->timer->start(m_limits.requestTimeout);

    // Connected before the HTTP server's own slot, so this sees each chunk
    // before the server buffers it. The server reads everything it is given,
    // so bytesAvailable() here is exactly what has just arrived.
    connect(socket, &QTcpSocket::readyRead, socket,
            [this, socket, connection] { onReadyRead(socket, *connection); });
    // A response ends the request; the next one starts a fresh budget.
    connect(socket, &QTcpSocket::bytesWritten, socket, [this, connection] {
        connection->received = 0;
        connection->idle = true;
        connection->timer->start(m_limits.idleTimeout);
    });
    addPendingConnection(socket);
}

void BoundedTcpServer::onReadyRead(QTcpSocket *socket, Connection &connection) {
    if (connection.received == 0) {
        connection.started.start();
        connection.head.clear();
        connection.headComplete = false;
        socket->setProperty(kCloseProperty, false);
    }
    // The deadline of the first request runs from the accept, so a client
    // cannot add the idle time-out to it by waiting before its first byte.
    if (connection.idle) {
        connection.idle = false;
        connection.timer->start(m_limits.requestTimeout);
    }
    const qint64 available = socket->bytesAvailable();
    if (!connection.headComplete && connection.head.size() < kMaxHead) {
        connection.head += socket->peek(qMin(available, kMaxHead - connection.head.size()));
        if (const qsizetype end = connection.head.indexOf("\r\n\r\n"); end >= 0) {
            connection.headComplete = true;
            socket->setProperty(kCloseProperty, wantsClose(connection.head.left(end)));
        }
    }
    connection.received += available;
    if (connection.received > m_limits.maxRequestBytes &&
        socket->state() == QAbstractSocket::ConnectedState)
        refuse(socket, connection, 413);
}

void BoundedTcpServer::onTimeout(QTcpSocket *socket, Connection &connection) {
    if (connection.closing)
        return;
    if (connection.received == 0) {
        // Silent since the accept or the last response: nothing to answer.
        socket->abort();
        socket->deleteLater();
        return;
    }
    // The HTTP server holds a partial request inside a read transaction; a
    // complete one is with its handler, whose own deadline bounds it.
    if (socket->isTransactionStarted())
        refuse(socket, connection, 408);
}

void BoundedTcpServer::refuse(QTcpSocket *socket, Connection &connection, int status) {
    connection.closing = true;
    connection.timer->stop();
    socket->write(responseFor(status));

    // Closing with unread data would reset the connection and could destroy
    // the answer before the client reads it. Instead take the socket away
    // from the HTTP server, drop whatever else arrives, and close once the
    // client has gone or after a grace period.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    disconnect(socket, &QTcpSocket::bytesWritten, nullptr, nullptr);
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    socket->readAll();
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    QTimer::singleShot(kLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });

    // The client's own bytes: keep the method's letters and the path, encoded
    // so nothing in it can break the log line, and never the query.
    const QByteArray requestLine = connection.head.left(connection.head.indexOf('\r'));
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
              path.isEmpty() ? QByteArrayLiteral("/") : path, status,
              double(connection.started.isValid() ? connection.started.nsecsElapsed() : 0) / 1e6);
}

void BoundedTcpServer::turnAway(QTcpSocket *socket) {
    // One line per episode, not per connection: a flood would fill the log.
    if (!m_full) {
        m_full = true;
        qCWarning(lcRelay).noquote()
            << "connection limit of" << m_limits.maxConnections << "reached; answering 503";
    }
    socket->write(responseFor(503));
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kTurnAwayLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}
