#include "LoopbackHttpServer.h"

#include <QHttpServerRequest>
#include <QTcpSocket>

namespace ghemu {

LoopbackHttpServer::LoopbackHttpServer(Handler handler, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_handler(std::move(handler)) {}

static QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    case QHttpServerRequest::Method::Connect:
        return "CONNECT";
    case QHttpServerRequest::Method::Trace:
        return "TRACE";
    default:
        return "UNKNOWN";
    }
}

bool LoopbackHttpServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    auto exchange = std::make_shared<HttpExchange>();
    exchange->method = methodName(request.method());
    const QUrl url = request.url();
    exchange->path = url.path(QUrl::FullyDecoded);
    exchange->rawPath = url.path(QUrl::FullyEncoded);
    exchange->query = QUrlQuery(url);
    for (const auto &h : request.headers())
        exchange->headers.append({h.first.toLower(), h.second});
    exchange->body = request.body();
    exchange->socket = socket;
    exchange->closeAfterReply = exchange->header("connection").toLower().contains("close");
    m_handler(std::move(exchange));
    return true;
}

void LoopbackHttpServer::missingHandler(const QHttpServerRequest &, QTcpSocket *) {
    // handleRequest takes every request.
}

} // namespace ghemu
