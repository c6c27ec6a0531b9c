#include "RelayServer.h"

#include "BoundedTcpServer.h"
#include "ExchangeRequest.h"

#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>

Q_LOGGING_CATEGORY(lcRelay, "keelmark.relay")

namespace {

using Method = QHttpServerRequest::Method;

// HTTP/1.1 allows six connections per host and manager; a few managers let
// many exchanges reach GitHub side by side (HTTP/2 multiplexes anyway).
constexpr int kUpstreamManagers = 4;
constexpr int kMaxLoggedPath = 200;
// Room for the request line and headers on top of the body limit before a
// connection is cut off unread.
constexpr qint64 kHeaderAllowance = 16 * 1024;
// Token replies are a few hundred bytes; anything near this is not GitHub.
constexpr qint64 kMaxUpstreamBytes = 1024 * 1024;

QByteArray methodName(Method method) {
    const char *key = QMetaEnum::fromType<Method>().valueToKey(int(method));
    return key ? QByteArray(key).toUpper() : QByteArrayLiteral("UNKNOWN");
}

// The path only, percent-encoded so that a hostile request cannot put line
// breaks into the log, and never the query, which carries codes.
QByteArray loggedPath(const QHttpServerRequest &request) {
    QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
    if (path.size() > kMaxLoggedPath)
        path = path.left(kMaxLoggedPath) + "...";
    return path.isEmpty() ? QByteArrayLiteral("/") : path;
}

bool isJsonContentType(const QByteArray &header) {
    const QList<QByteArray> parts = header.split(';');
    if (parts.first().trimmed().toLower() != "application/json")
        return false;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts[i].trimmed().toLower();
        if (parameter.startsWith("charset=") &&
            parameter.mid(8).replace('"', QByteArray()) != "utf-8")
            return false;
    }
    return true;
}

QByteArray callbackPage(const QString &target, bool signedIn) {
    const QString lead = signedIn ? QStringLiteral("Returning you to KeelMark\u2026")
                                  : QStringLiteral("GitHub sign-in did not finish. Returning you "
                                                   "to KeelMark\u2026");
    const QString href = target.toHtmlEscaped();
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
               "<title>KeelMark</title></head>\n"
               "<body style=\"font-family: sans-serif; text-align: center; margin-top: 4em\">\n"
               "<p>%1</p>\n<p>If nothing happens, <a href=\"%2\">open KeelMark</a>.</p>\n"
               "</body></html>\n")
        .arg(lead, href)
        .toUtf8();
}

} // namespace

struct RelayServer::PendingExchange {
    QHttpServerResponder responder;
    // The responder of Qt 6.4 keeps a raw socket pointer; the socket goes
    // away when the client disconnects, so check this before answering.
    QPointer<QTcpSocket> socket;
    RequestLog log;
    bool timedOut = false;
    bool tooLarge = false;
    bool revoke = false; // a grant deletion rather than a token request
};

RelayServer::RelayServer(RelayConfig config, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config)) {
    for (int i = 0; i < kUpstreamManagers; ++i) {
        auto manager = std::make_unique<QNetworkAccessManager>();
        // A redirect from the token endpoint would turn the POST into a GET
        // elsewhere; treat it as a bad upstream reply instead.
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        m_upstream.push_back(std::move(manager));
    }

    m_server.route(QStringLiteral("/v1/github/exchange"),
                   [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                       onExchange(request, std::move(responder));
                   });
    m_server.route(QStringLiteral("/v1/github/revoke"),
                   [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                       onRevoke(request, std::move(responder));
                   });
    m_server.route(QStringLiteral("/v1/github/callback"),
                   [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                       onCallback(request, std::move(responder));
                   });
    m_server.route(QStringLiteral("/healthz"),
                   [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                       onHealth(request, std::move(responder));
                   });
    m_server.setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            onMissing(request, std::move(responder));
        });
}

RelayServer::~RelayServer() {
    // Abort what is still waiting on GitHub without letting the replies call
    // back into a half-destroyed server.
    for (auto &[reply, pending] : m_pending) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        delete reply;
    }
    m_pending.clear();
}

bool RelayServer::listen() {
    auto *tcp =
        new BoundedTcpServer({.maxRequestBytes = m_config.maxBodyBytes + kHeaderAllowance,
                              .requestTimeout = m_config.requestTimeout,
                              .idleTimeout = m_config.idleTimeout,
                              .maxConnections = m_config.maxConnections},
                             [this](const QByteArray &method, const QByteArray &path, int status,
                                    double ms) { logLine(method, path, status, ms); });
    if (!tcp->listen(m_config.listenAddress, m_config.port)) {
        qCWarning(lcRelay).noquote() << "cannot listen:" << tcp->errorString();
        delete tcp;
        return false;
    }
    m_port = tcp->serverPort();
    m_server.bind(tcp); // the HTTP server takes it over
    m_tcp = tcp;
    return true;
}

int RelayServer::openConnections() const {
    return m_tcp ? m_tcp->openConnections() : 0;
}

QUrl RelayServer::baseUrl() const {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_config.listenAddress.toString());
    url.setPort(m_port);
    return url;
}

QUrl RelayServer::tokenEndpoint() const {
    QUrl url = m_config.gitHubWebUrl;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/login/oauth/access_token"));
    return url;
}

QUrl RelayServer::grantEndpoint() const {
    QUrl url = m_config.gitHubApiUrl;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/applications/") + m_config.clientId +
                QStringLiteral("/grant"));
    return url;
}

bool RelayServer::admitJsonPost(const QHttpServerRequest &request, QHttpServerResponder &responder,
                                const RequestLog &log) {
    if (request.method() != Method::Post) {
        sendError(responder, log, 405, QStringLiteral("method_not_allowed"),
                  QStringLiteral("Use POST for this address."), {{"Allow", "POST"}});
        return false;
    }
    // BoundedTcpServer has already cut off anything far larger; this is the
    // exact limit.
    if (request.body().size() > m_config.maxBodyBytes) {
        sendError(responder, log, 413, QStringLiteral("request_too_large"),
                  QStringLiteral("The body must not exceed %1 bytes.").arg(m_config.maxBodyBytes));
        return false;
    }
    if (!isJsonContentType(request.value("Content-Type"))) {
        sendError(responder, log, 415, QStringLiteral("unsupported_media_type"),
                  QStringLiteral("Send the body as application/json."));
        return false;
    }
    return true;
}

void RelayServer::onExchange(const QHttpServerRequest &request, QHttpServerResponder &&responder) {
    RequestLog log{methodName(request.method()), loggedPath(request), {}};
    log.timer.start();
    if (!admitJsonPost(request, responder, log))
        return;
    QString reason;
    const std::optional<ExchangeRequest> exchange = parseExchangeRequest(request.body(), &reason);
    if (!exchange) {
        sendError(responder, log, 400, QStringLiteral("invalid_request"), reason);
        return;
    }

    QNetworkRequest upstream(tokenEndpoint());
    upstream.setHeader(QNetworkRequest::ContentTypeHeader,
                       QByteArrayLiteral("application/x-www-form-urlencoded"));
    upstream.setRawHeader("Accept", "application/json");
    upstream.setHeader(QNetworkRequest::UserAgentHeader,
                       QByteArrayLiteral("keelmark-relay/" KEELMARK_RELAY_VERSION));
    // Backstop only: the deadline timer of park() bounds the whole exchange and
    // must fire first, so that a slow GitHub is reported as 504, not 502.
    upstream.setTransferTimeout(int(m_config.upstreamTimeout.count()) + 5000);

    QNetworkReply *reply = nextUpstream()->post(
        upstream, tokenEndpointForm(*exchange, m_config.clientId, m_config.clientSecret));
    park(reply, std::move(responder), std::move(log), false);
}

void RelayServer::onRevoke(const QHttpServerRequest &request, QHttpServerResponder &&responder) {
    RequestLog log{methodName(request.method()), loggedPath(request), {}};
    log.timer.start();
    if (!admitJsonPost(request, responder, log))
        return;
    QString reason;
    const std::optional<QString> token = parseRevokeRequest(request.body(), &reason);
    if (!token) {
        sendError(responder, log, 400, QStringLiteral("invalid_request"), reason);
        return;
    }

    QNetworkRequest upstream(grantEndpoint());
    upstream.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    upstream.setRawHeader("Accept", "application/vnd.github+json");
    upstream.setRawHeader("X-GitHub-Api-Version", "2022-11-28");
    upstream.setRawHeader(
        "Authorization",
        "Basic " + (m_config.clientId + u':' + m_config.clientSecret).toUtf8().toBase64());
    upstream.setHeader(QNetworkRequest::UserAgentHeader,
                       QByteArrayLiteral("keelmark-relay/" KEELMARK_RELAY_VERSION));
    upstream.setTransferTimeout(int(m_config.upstreamTimeout.count()) + 5000);
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("access_token"), *token}})
                                .toJson(QJsonDocument::Compact);
    QNetworkReply *reply = nextUpstream()->sendCustomRequest(upstream, "DELETE", body);
    park(reply, std::move(responder), std::move(log), true);
}

void RelayServer::park(QNetworkReply *reply, QHttpServerResponder &&responder, RequestLog log,
                       bool revoke) {
    auto pending = std::make_unique<PendingExchange>(PendingExchange{
        std::move(responder), QPointer<QTcpSocket>(), std::move(log), false, false, revoke});
    pending->socket = pending->responder.socket();
    m_pending.emplace(reply, std::move(pending));

    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishExchange(reply); });
    // The reply is held whole until it is passed on; stop reading past the
    // cap, whether the length is announced or not.
    const auto capReply = [this, reply] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced <= kMaxUpstreamBytes && reply->bytesAvailable() <= kMaxUpstreamBytes)
            return;
        if (auto it = m_pending.find(reply); it != m_pending.end()) {
            it->second->tooLarge = true;
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, capReply);
    connect(reply, &QNetworkReply::readyRead, this, capReply);
    QTimer::singleShot(m_config.upstreamTimeout, reply, [this, reply] {
        if (auto it = m_pending.find(reply); it != m_pending.end()) {
            it->second->timedOut = true;
            reply->abort();
        }
    });
}

void RelayServer::finishExchange(QNetworkReply *reply) {
    auto it = m_pending.find(reply);
    if (it == m_pending.end())
        return;
    std::unique_ptr<PendingExchange> pending = std::move(it->second);
    m_pending.erase(it);
    reply->deleteLater();
    if (!pending->socket) {
        logRequest(pending->log, 499); // the client went away while GitHub was answering
        return;
    }

    const int upstreamStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (pending->timedOut) {
        sendError(pending->responder, pending->log, 504, QStringLiteral("upstream_timeout"),
                  QStringLiteral("GitHub did not answer within %1 seconds.")
                      .arg(double(m_config.upstreamTimeout.count()) / 1000.0));
        return;
    }
    if (pending->tooLarge) {
        qCWarning(lcRelay).noquote() << (pending->revoke ? "grant endpoint" : "token endpoint")
                                     << "answered more than" << kMaxUpstreamBytes << "bytes";
        sendError(pending->responder, pending->log, 502, QStringLiteral("upstream_error"),
                  QStringLiteral("GitHub's answer was too large."));
        return;
    }
    if (upstreamStatus == 0) {
        qCWarning(lcRelay).noquote()
            << (pending->revoke ? "grant endpoint" : "token endpoint") << "unreachable:"
            << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(reply->error());
        sendError(pending->responder, pending->log, 502, QStringLiteral("upstream_unavailable"),
                  QStringLiteral("GitHub could not be reached."));
        return;
    }
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (pending->revoke) {
        finishRevoke(*pending, upstreamStatus, body);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    // GitHub answers bad codes and refresh tokens with HTTP 200 and a JSON
    // error object; those (and any other JSON object) go back unchanged.
    // Server errors, redirects and non-JSON pages are GitHub failing.
    if (upstreamStatus >= 500 || (upstreamStatus >= 300 && upstreamStatus < 400) ||
        !document.isObject()) {
        qCWarning(lcRelay).noquote()
            << QStringLiteral("token endpoint answered HTTP %1%2")
                   .arg(upstreamStatus)
                   .arg(document.isObject() ? QString() : QStringLiteral(" without a JSON object"));
        sendError(pending->responder, pending->log, 502, QStringLiteral("upstream_error"),
                  QStringLiteral("GitHub answered the token request with an error (HTTP %1).")
                      .arg(upstreamStatus));
        return;
    }
    send(pending->responder, pending->log, upstreamStatus, "application/json", body,
         {{"Cache-Control", "no-store"}});
}

void RelayServer::finishRevoke(PendingExchange &pending, int upstreamStatus,
                               const QByteArray &body) {
    if (upstreamStatus == 204) {
        send(pending.responder, pending.log, 204, {}, {}, {{"Cache-Control", "no-store"}});
        return;
    }
    // A refusal (unknown token, wrong app) is GitHub's answer to pass on;
    // anything else is GitHub failing.
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (upstreamStatus < 400 || upstreamStatus >= 500 || !document.isObject()) {
        qCWarning(lcRelay).noquote()
            << QStringLiteral("grant endpoint answered HTTP %1%2")
                   .arg(upstreamStatus)
                   .arg(document.isObject() ? QString() : QStringLiteral(" without a JSON object"));
        sendError(pending.responder, pending.log, 502, QStringLiteral("upstream_error"),
                  QStringLiteral("GitHub answered the revocation with an error (HTTP %1).")
                      .arg(upstreamStatus));
        return;
    }
    send(pending.responder, pending.log, upstreamStatus, "application/json", body,
         {{"Cache-Control", "no-store"}});
}

void RelayServer::onCallback(const QHttpServerRequest &request, QHttpServerResponder &&responder) {
    RequestLog log{methodName(request.method()), loggedPath(request), {}};
    log.timer.start();

    if (request.method() != Method::Get) {
        send(responder, log, 405, "text/plain; charset=utf-8",
             "This address only accepts GET requests from GitHub's sign-in page.\n",
             {{"Allow", "GET"}});
        return;
    }

    const QUrlQuery query = request.query();
    auto item = [&query](const char *name) -> std::optional<QString> {
        const QString key = QString::fromLatin1(name);
        if (!query.hasQueryItem(key))
            return std::nullopt;
        return query.queryItemValue(key, QUrl::FullyDecoded);
    };
    const std::optional<QString> code = item("code");
    const std::optional<QString> error = item("error");
    const std::optional<QString> state = item("state");

    const bool hasCode = code && !code->isEmpty();
    if (!hasCode && !(error && !error->isEmpty())) {
        send(responder, log, 400, "text/plain; charset=utf-8",
             "This is where GitHub returns you after signing in to KeelMark, but the request "
             "carries neither an authorisation code nor an error. Start the sign-in again "
             "from KeelMark.\n");
        return;
    }

    // Each value is percent-encoded so that nothing in it can add or change
    // items of the app's URL.
    QByteArray target = m_config.appScheme.toUtf8() + "://github?";
    target += hasCode ? "code=" + QUrl::toPercentEncoding(*code)
                      : "error=" + QUrl::toPercentEncoding(*error);
    if (state)
        target += "&state=" + QUrl::toPercentEncoding(*state);

    send(responder, log, 302, "text/html; charset=utf-8",
         callbackPage(QString::fromUtf8(target), hasCode),
         {{"Location", target},
          {"Cache-Control", "no-store"},
          {"Referrer-Policy", "no-referrer"},
          {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'"}});
}

void RelayServer::onHealth(const QHttpServerRequest &request, QHttpServerResponder &&responder) {
    RequestLog log{methodName(request.method()), loggedPath(request), {}};
    log.timer.start();
    if (request.method() != Method::Get) {
        send(responder, log, 405, "text/plain; charset=utf-8", "Use GET.\n", {{"Allow", "GET"}});
        return;
    }
    send(responder, log, 200, "text/plain; charset=utf-8", "ok");
}

void RelayServer::onMissing(const QHttpServerRequest &request, QHttpServerResponder &&responder) {
    RequestLog log{methodName(request.method()), loggedPath(request), {}};
    log.timer.start();
    sendError(responder, log, 404, QStringLiteral("not_found"),
              QStringLiteral("There is nothing at this address."));
}

void RelayServer::send(QHttpServerResponder &responder, const RequestLog &log, int status,
                       const QByteArray &contentType, const QByteArray &body,
                       const std::vector<Header> &headers) {
    QTcpSocket *socket = responder.socket();
    const bool close = BoundedTcpServer::closesAfterReply(socket);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(status));
    if (!contentType.isEmpty())
        responder.writeHeader("Content-Type", contentType);
    for (const Header &header : headers)
        responder.writeHeader(header.name, header.value);
    // A 204 carries no body and, by RFC 9110, no length either.
    if (status != 204)
        responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    if (close)
        responder.writeHeader("Connection", "close");
    responder.writeBody(body);
    // Qt HttpServer 6.4 keeps every connection open; the socket closes once
    // the reply has left.
    if (close)
        socket->disconnectFromHost();
    logRequest(log, status);
}

void RelayServer::sendError(QHttpServerResponder &responder, const RequestLog &log, int status,
                            const QString &error, const QString &description,
                            const std::vector<Header> &headers) {
    const QJsonObject object{{QStringLiteral("error"), error},
                             {QStringLiteral("error_description"), description}};
    send(responder, log, status, "application/json",
         QJsonDocument(object).toJson(QJsonDocument::Compact), headers);
}

void RelayServer::logRequest(const RequestLog &log, int status) {
    logLine(log.method, log.path, status, double(log.timer.nsecsElapsed()) / 1e6);
}

void RelayServer::logLine(const QByteArray &method, const QByteArray &path, int status, double ms) {
    // Concatenated, not formatted with arg(): a path holds the client's own
    // percent escapes, which a later arg() would take for placeholders.
    qCInfo(lcRelay).noquote() << QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) +
                                     u' ' + QString::fromLatin1(method) + u' ' +
                                     QString::fromUtf8(path) + u' ' + QString::number(status) +
                                     u' ' + QString::number(ms, 'f', 1) + QStringLiteral("ms");
    emit requestCompleted(status);
}

QNetworkAccessManager *RelayServer::nextUpstream() {
    QNetworkAccessManager *manager = m_upstream[m_nextUpstream].get();
    m_nextUpstream = (m_nextUpstream + 1) % m_upstream.size();
    return manager;
}
