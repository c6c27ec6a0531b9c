#pragma once

#include "HttpExchange.h"

#include <QAbstractHttpServer>

#include <functional>
#include <memory>

namespace ghemu {

// Takes each complete request off its connection and hands it on; the
// reply is written later by whoever holds the exchange, so a delayed reply
// never blocks the event loop or other connections.
class LoopbackHttpServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    using Handler = std::function<void(std::shared_ptr<HttpExchange>)>;

    explicit LoopbackHttpServer(Handler handler, QObject *parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Handler m_handler;
};

} // namespace ghemu
