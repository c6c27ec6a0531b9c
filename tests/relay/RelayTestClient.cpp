#include "RelayTestClient.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>

QByteArray HttpResult::header(const QByteArray &name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QJsonObject HttpResult::json() const {
    return QJsonDocument::fromJson(body).object();
}

QNetworkReply *RelayTestClient::start(const QByteArray &verb, const QUrl &url,
                                      const Headers &headers, const QByteArray &body,
                                      int transferTimeoutMs) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(transferTimeoutMs);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    return m_manager.sendCustomRequest(request, verb, body);
}

HttpResult RelayTestClient::wait(QNetworkReply *reply, int timeoutMs) {
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    HttpResult result;
    if (!reply->isFinished()) {
        reply->abort();
        result.error = QNetworkReply::TimeoutError;
    } else {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.error = reply->error();
        if (reply->isOpen())
            result.body = reply->readAll();
        result.headers = reply->rawHeaderPairs();
    }
    reply->deleteLater();
    return result;
}

HttpResult RelayTestClient::get(const QUrl &url, const Headers &headers) {
    return wait(start("GET", url, headers));
}

HttpResult RelayTestClient::post(const QUrl &url, const QByteArray &contentType,
                                 const QByteArray &body) {
    return wait(start("POST", url, {{"Content-Type", contentType}}, body));
}

HttpResult RelayTestClient::postJson(const QUrl &url, const QJsonObject &object) {
    return post(url, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact));
}

HttpResult RelayTestClient::raw(quint16 port, const QByteArray &request, int timeoutMs) {
    QTcpSocket socket;
    QByteArray received;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    // The server may keep the connection open, so stop once the body
    // announced by Content-Length has arrived.
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        received += socket.readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = received.left(end).toLower();
        const qsizetype at = head.indexOf("content-length:");
        const qsizetype length =
            at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        if (received.size() >= end + 4 + length)
            loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    received += socket.readAll();

    HttpResult result;
    const qsizetype headerEnd = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.") || headerEnd < 0)
        return result;
    const QList<QByteArray> lines = received.left(headerEnd).split('\n');
    result.status = lines.first().split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            result.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    result.body = received.mid(headerEnd + 4);
    return result;
}
