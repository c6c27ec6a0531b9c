#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

// A plain HTTP client for the emulator's and the relay's tests: each call spins
// a local event loop until the reply is complete; redirects are not followed.
struct HttpResult {
    int status = 0; // 0: no HTTP answer at all
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const; // case-insensitive
    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
    QJsonArray array() const { return QJsonDocument::fromJson(body).array(); }
    QString message() const { return object().value("message").toString(); }
};

using Headers = QList<QPair<QByteArray, QByteArray>>;

class EmulatorHttp {
public:
    explicit EmulatorHttp(QUrl base, QString token = {})
        : m_base(std::move(base))
        , m_token(std::move(token)) {}

    QUrl url(const QString &pathAndQuery) const { return QUrl(m_base.toString() + pathAndQuery); }
    HttpResult get(const QString &path) const { return send("GET", path); }
    HttpResult del(const QString &path) const { return send("DELETE", path); }
    HttpResult post(const QString &path, const QJsonObject &body) const {
        return json("POST", path, body);
    }
    HttpResult patch(const QString &path, const QJsonObject &body) const {
        return json("PATCH", path, body);
    }
    HttpResult put(const QString &path, const QJsonObject &body) const {
        return json("PUT", path, body);
    }
    HttpResult json(const QByteArray &method, const QString &path, const QJsonObject &body) const {
        return send(method, path, QJsonDocument(body).toJson(QJsonDocument::Compact),
                    {{"Content-Type", "application/json"}});
    }
    HttpResult send(const QByteArray &method, const QString &path, const QByteArray &body = {},
                    const Headers &headers = {}) const {
        return wait(start(method, url(path), body, headers));
    }
    // An absolute URL (a Link header, a redirect target) or a reply to
    // collect later.
    QNetworkReply *start(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                         const Headers &headers = {}) const;
    static HttpResult wait(QNetworkReply *reply);

private:
    QUrl m_base;
    QString m_token;
    mutable QNetworkAccessManager m_network;
};

// The branch protection KeelMark applies.
QJsonObject protectionRules();

QJsonObject blobEntry(const QString &path, const QString &content);

// Writes a tree (over main's tree unless withBase is false), a commit on
// main's head and moves main to it; returns the commit's sha, or an empty
// text when any step is refused.
QString commitOnMain(const EmulatorHttp &http, const QString &repoPath, const QJsonArray &entries,
                     bool withBase = true);
