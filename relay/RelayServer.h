#pragma once

#include "RelayConfig.h"

#include <QElapsedTimer>
#include <QHttpServer>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>
#include <unordered_map>
#include <vector>

class BoundedTcpServer;
class QNetworkAccessManager;
class QNetworkReply;

Q_DECLARE_LOGGING_CATEGORY(lcRelay)

// The OAuth relay: hands GitHub's browser callback on to the desktop app's
// URL scheme and performs the code exchange, token refresh and grant
// revocation with the GitHub App's client secret, which the app never sees. Stateless: every
// request stands alone, so instances can be added freely behind a proxy.
//
// Exchanges wait on GitHub without blocking the event loop: the responder is
// parked until the upstream reply (or the deadline) arrives, so one thread
// serves any number of requests at once.
class RelayServer : public QObject {
    Q_OBJECT

public:
    explicit RelayServer(RelayConfig config, QObject *parent = nullptr);
    ~RelayServer() override;

    // Listens on the configured address and port (0 = any free port).
    bool listen();
    quint16 port() const { return m_port; }
    QUrl baseUrl() const;
    QUrl tokenEndpoint() const;
    QUrl grantEndpoint() const;
    int pendingExchanges() const { return int(m_pending.size()); }
    int openConnections() const;

signals:
    // A request has been answered (or its client had gone) and logged.
    void requestCompleted(int status);

private:
    struct RequestLog {
        QByteArray method;
        QByteArray path;
        QElapsedTimer timer;
    };
    struct Header {
        QByteArray name;
        QByteArray value;
    };
    struct PendingExchange;

    void onExchange(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void onRevoke(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    // The checks every JSON POST passes (method, size, type); answers and
    // returns false when one fails.
    bool admitJsonPost(const QHttpServerRequest &request, QHttpServerResponder &responder,
                       const RequestLog &log);
    // Parks the responder until GitHub answers `reply` or the deadline passes.
    void park(QNetworkReply *reply, QHttpServerResponder &&responder, RequestLog log, bool revoke);
    void onCallback(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void onHealth(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void onMissing(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void finishExchange(QNetworkReply *reply);
    void finishRevoke(PendingExchange &pending, int upstreamStatus, const QByteArray &body);

    void send(QHttpServerResponder &responder, const RequestLog &log, int status,
              const QByteArray &contentType, const QByteArray &body,
              const std::vector<Header> &headers = {});
    void sendError(QHttpServerResponder &responder, const RequestLog &log, int status,
                   const QString &error, const QString &description,
                   const std::vector<Header> &headers = {});
    void logRequest(const RequestLog &log, int status);
    void logLine(const QByteArray &method, const QByteArray &path, int status, double ms);
    QNetworkAccessManager *nextUpstream();

    RelayConfig m_config;
    QHttpServer m_server;
    QPointer<BoundedTcpServer> m_tcp;
    quint16 m_port = 0;
    std::vector<std::unique_ptr<QNetworkAccessManager>> m_upstream;
    size_t m_nextUpstream = 0;
    std::unordered_map<QNetworkReply *, std::unique_ptr<PendingExchange>> m_pending;
};
