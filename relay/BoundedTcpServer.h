#pragma once

#include <QByteArray>
#include <QTcpServer>

#include <functional>

// Qt HttpServer 6.4 buffers a whole request, however large, before any
// handler sees it. This listener caps what a connection may send between two
// responses: past the cap it answers 413 itself and closes the connection,
// so an oversized upload costs a bounded amount of memory.
class BoundedTcpServer : public QTcpServer {
    Q_OBJECT

public:
    // method, path (no query), status, milliseconds: for the request log.
    using RejectLog = std::function<void(const QByteArray &, const QByteArray &, int, double)>;

    BoundedTcpServer(qint64 maxRequestBytes, RejectLog log, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr handle) override;

private:
    void reject(QTcpSocket *socket, const QByteArray &requestLine, qint64 startedNs);

    qint64 m_maxRequestBytes;
    RejectLog m_log;
};
