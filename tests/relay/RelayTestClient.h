#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QUrl>

// What a test needs from one HTTP answer.
struct HttpResult {
    int status = 0; // 0: no HTTP answer at all
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray header(const QByteArray &name) const; // case-insensitive
    QJsonObject json() const;                        // empty when not an object
};

// A small blocking HTTP client for tests: waits for the reply on a local
// event loop (with a time-out), never follows redirects so the tests see
// every 302.
class RelayTestClient {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    QNetworkReply *start(const QByteArray &verb, const QUrl &url, const Headers &headers = {},
                         const QByteArray &body = {}, int transferTimeoutMs = 30000);
    static HttpResult wait(QNetworkReply *reply, int timeoutMs = 30000);

    HttpResult get(const QUrl &url, const Headers &headers = {});
    HttpResult post(const QUrl &url, const QByteArray &contentType, const QByteArray &body);
    HttpResult postJson(const QUrl &url, const QJsonObject &object);

    // For requests QNetworkAccessManager will not send (a POST without a
    // Content-Type): the bytes as given, on a fresh connection.
    static HttpResult raw(quint16 port, const QByteArray &request, int timeoutMs = 30000);

private:
    QNetworkAccessManager m_manager;
};
