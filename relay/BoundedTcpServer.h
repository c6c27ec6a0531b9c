#pragma once

#include <QByteArray>
#include <QTcpServer>

#include <chrono>
#include <functional>

// The relay's listener, which bounds what one client can hold. Qt HttpServer
// 6.4 buffers a whole request, however large and however slowly it arrives,
// and keeps idle connections forever. This listener caps what a connection
// may send between two responses (413), gives every request a deadline (408)
// and an idle connection a time-out, caps the number of open connections
// (503 past it) and notes which requests asked to close after the reply.
class BoundedTcpServer : public QTcpServer {
    Q_OBJECT

public:
    struct Limits {
        qint64 maxRequestBytes = 32 * 1024;
        // From the first byte of a request (from the accept, for the first
        // one) until it is complete.
        std::chrono::milliseconds requestTimeout{10000};
        // Between a response and the next request's first byte.
        std::chrono::milliseconds idleTimeout{30000};
        int maxConnections = 2048;
    };

    // method, path (no query), status, milliseconds: for the request log.
    using RejectLog = std::function<void(const QByteArray &, const QByteArray &, int, double)>;

    BoundedTcpServer(Limits limits, RejectLog log, QObject *parent = nullptr);
    ~BoundedTcpServer() override;

    int openConnections() const { return m_open; }

    // Whether the request now being answered on `socket` asked for the
    // connection to end with the reply (`Connection: close`, or HTTP/1.0).
    static bool closesAfterReply(const QTcpSocket *socket);

protected:
    void incomingConnection(qintptr handle) override;

private:
    struct Connection;

    void onReadyRead(QTcpSocket *socket, Connection &connection);
    void onTimeout(QTcpSocket *socket, Connection &connection);
    void refuse(QTcpSocket *socket, Connection &connection, int status);
    void turnAway(QTcpSocket *socket);

    Limits m_limits;
    RejectLog m_log;
    int m_open = 0;
    bool m_full = false;
};
