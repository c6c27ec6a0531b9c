#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QString>
#include <QUrl>

// A plain HTTP client for the emulator's own tests: each call spins a local
// event loop until the reply is complete (the emulator answers from the same
// loop), never follows redirects and gives up after a generous time-out.
struct HttpResult {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool timedOut = false;

    QByteArray header(const QByteArray &name) const;
    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
    QJsonArray array() const { return QJsonDocument::fromJson(body).array(); }
    QString message() const { return object().value("message").toString(); }
};

class EmulatorHttp {
public:
    explicit EmulatorHttp(QUrl base)
        : m_base(std::move(base)) {}

    void setToken(const QString &token) { m_token = token; }
    QUrl url(const QString &pathAndQuery) const;

    HttpResult get(const QString &path) const { return send("GET", path); }
    HttpResult del(const QString &path) const { return send("DELETE", path); }
    HttpResult post(const QString &path, const QJsonObject &body) const;
    HttpResult patch(const QString &path, const QJsonObject &body) const;
    HttpResult put(const QString &path, const QJsonObject &body) const;
    HttpResult send(const QByteArray &method, const QString &path, const QByteArray &body = {},
                    const QList<QPair<QByteArray, QByteArray>> &headers = {}) const;
    // An absolute URL (a Link header, a redirect target).
    HttpResult sendTo(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                      const QList<QPair<QByteArray, QByteArray>> &headers = {}) const;

private:
    QUrl m_base;
    QString m_token;
    mutable QNetworkAccessManager m_network;
};

// Runs git with arguments and stdin; returns trimmed stdout, or an empty
// text when git is missing or fails.
QString runGit(const QString &workDir, const QStringList &args, const QByteArray &input = {},
               const QStringList &env = {});
