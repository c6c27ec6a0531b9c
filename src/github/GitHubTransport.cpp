#include "GitHubService.h"

#include "GitHubError.h"
#include "GitHubInternal.h"

#include <BuildConfig.h>

#include <QCoroNetworkReply>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// Errors Qt reports below the HTTP layer. Statuses such as 404 also set an
// error() on the reply, but those are answers, handed to the caller.
bool isTransportFailure(QNetworkReply::NetworkError error) {
    const int code = int(error);
    return (code >= 1 && code < 200) || error == QNetworkReply::ProtocolUnknownError ||
           error == QNetworkReply::ProtocolFailure;
}

} // namespace

namespace GitHubInternal {

void printLine(const QString &line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QJsonDocument parseJson(const QByteArray &body) {
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw GitHubJsonError(
            QStringLiteral("GitHub's reply could not be read (%1).").arg(error.errorString()));
    return document;
}

QString gitHubMessage(const QByteArray &body) {
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    QString message = object.value(QLatin1String("message")).toString();
    QStringList details;
    for (const QJsonValue &entry : object.value(QLatin1String("errors")).toArray()) {
        const QString text = entry.isString()
                                 ? entry.toString()
                                 : entry.toObject().value(QLatin1String("message")).toString();
        if (!text.isEmpty())
            details << text;
    }
    if (!details.isEmpty())
        message += (message.isEmpty() ? QString() : QStringLiteral(" ")) + QLatin1Char('(') +
                   details.join(QStringLiteral("; ")) + QLatin1Char(')');
    return message;
}

QString pathSegment(const QString &name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        throw GitHubError(GitHubError::invalidName);
    // Everything but unreserved characters is encoded, so "/", "?", "#" and
    // "%" inside a name can never leave its segment.
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}

QString filePathSegments(const QString &path) {
    QStringList encoded;
    for (const QString &part : path.split(QLatin1Char('/')))
        encoded << pathSegment(part);
    return encoded.join(QLatin1Char('/'));
}

QString repoPath(const QString &org, const QString &repo) {
    return QStringLiteral("/repos/") + pathSegment(org) + QLatin1Char('/') + pathSegment(repo);
}

QString nextLink(const QByteArray &linkHeader) {
    // <url>; rel="next", <url>; rel="last"
    static const QRegularExpression entry(QStringLiteral(R"re(<([^>]*)>([^<]*))re"));
    static const QRegularExpression rel(QStringLiteral(R"re(;\s*rel\s*=\s*"?([^";,]+)"?)re"));
    auto entries = entry.globalMatch(QString::fromLatin1(linkHeader));
    while (entries.hasNext()) {
        const auto match = entries.next();
        const auto relMatch = rel.match(match.captured(2));
        if (!relMatch.hasMatch())
            continue;
        const QStringList rels = relMatch.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (rels.contains(QLatin1String("next")))
            return match.captured(1);
    }
    return {};
}

QString describe(const std::exception &error) {
    if (const auto *failure = dynamic_cast<const GitHubFailure *>(&error))
        return failure->description();
    return QString::fromUtf8(error.what());
}

} // namespace GitHubInternal

using namespace GitHubInternal;

QUrl GitHubService::apiUrl(const QString &encodedPath) const {
    return QUrl(m_endpoints.apiBaseUrl + encodedPath, QUrl::StrictMode);
}

bool GitHubService::sameOriginAsApi(const QUrl &url) const {
    const QUrl base(m_endpoints.apiBaseUrl);
    return url.isValid() && url.scheme() == base.scheme() && url.host() == base.host() &&
           url.port(-1) == base.port(-1) && url.path().startsWith(base.path());
}

QNetworkRequest GitHubService::baseRequest(const QUrl &url) const {
    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_transferTimeout.count()));
    // Requests carry a bearer token: a redirect may not take it to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    // GitHub refuses requests without a User-Agent.
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QByteArray("KeelMark/") + BuildConfig::version);
    return request;
}

QCoro::Task<GitHubService::Reply> GitHubService::transfer(QByteArray verb, QNetworkRequest request,
                                                          QByteArray payload) {
    QNetworkReply *raw = nullptr;
    if (verb == "GET")
        raw = m_network->get(request);
    else if (verb == "DELETE")
        raw = m_network->deleteResource(request);
    else if (verb == "POST")
        raw = m_network->post(request, payload);
    else if (verb == "PUT")
        raw = m_network->put(request, payload);
    else
        raw = m_network->sendCustomRequest(request, verb, payload);
    std::unique_ptr<QNetworkReply, DeleteLater> reply(raw);

    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || isTransportFailure(reply->error())) {
        qCDebug(lcGitHub) << verb << request.url().path(QUrl::FullyEncoded)
                          << "failed:" << reply->errorString();
        // Nothing here aborts a reply, so a cancel is the transfer time-out,
        // which Qt words as "Operation canceled".
        if (reply->error() == QNetworkReply::OperationCanceledError)
            throw GitHubTransportError(GitHubTransportError::timedOutText());
        throw GitHubTransportError(reply->errorString());
    }
    Reply result;
    result.status = status.toInt();
    if (reply->isOpen())
        result.body = reply->readAll();
    result.link = reply->rawHeader("Link");
    result.etag = reply->rawHeader("ETag");
    result.rateRemaining = reply->rawHeader("x-ratelimit-remaining");
    result.retryAfter = reply->hasRawHeader("Retry-After");
    qCDebug(lcGitHub) << verb << request.url().path(QUrl::FullyEncoded) << result.status;
    co_return result;
}

QCoro::Task<GitHubService::Reply> GitHubService::send(QByteArray verb, QUrl url, QString token,
                                                      std::optional<QJsonObject> body,
                                                      QByteArray ifNoneMatch) {
    QNetworkRequest request = baseRequest(url);
    if (!ifNoneMatch.isEmpty())
        request.setRawHeader("If-None-Match", ifNoneMatch);
    request.setRawHeader("Accept", "application/vnd.github+json");
    request.setRawHeader("X-GitHub-Api-Version", "2022-11-28");
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QByteArray payload;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        payload = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    }
    co_return co_await transfer(std::move(verb), std::move(request), std::move(payload));
}

QCoro::Task<GitHubService::Reply> GitHubService::apiGet(QString path, QString token) {
    co_return co_await send(QByteArrayLiteral("GET"), apiUrl(path), std::move(token), std::nullopt);
}

QCoro::Task<GitHubService::Reply> GitHubService::apiGetConditional(QString path, QString token) {
    co_return co_await conditionalGet(apiUrl(path), std::move(token));
}

QCoro::Task<GitHubService::Reply> GitHubService::conditionalGet(QUrl url, QString token) {
    // The token is part of the key (as a digest), so an answer one account
    // was given is never handed to another.
    const QByteArray key =
        url.toEncoded() + ' ' +
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex();
    const auto cached =
        std::find_if(m_conditionalAnswers.cbegin(), m_conditionalAnswers.cend(),
                     [&key](const CachedAnswer &entry) { return entry.key == key; });
    const QByteArray etag =
        cached == m_conditionalAnswers.cend() ? QByteArray() : cached->reply.etag;
    Reply reply =
        co_await send(QByteArrayLiteral("GET"), url, std::move(token), std::nullopt, etag);
    // Look the entry up again: other requests may have changed the list
    // while this one was in flight.
    const auto entry = std::find_if(m_conditionalAnswers.begin(), m_conditionalAnswers.end(),
                                    [&key](const CachedAnswer &e) { return e.key == key; });
    if (reply.status == 304 && entry != m_conditionalAnswers.end())
        co_return Reply(entry->reply); // a copy: QCoro 0.8 moves from an lvalue
    if (entry != m_conditionalAnswers.end())
        m_conditionalAnswers.erase(entry);
    if ((reply.status == 200 || reply.status == 404) && !reply.etag.isEmpty()) {
        if (m_conditionalAnswers.size() >= maxConditionalAnswers)
            m_conditionalAnswers.removeFirst();
        m_conditionalAnswers.append(CachedAnswer{key, reply});
    }
    co_return reply;
}

QCoro::Task<GitHubService::Reply> GitHubService::checkRead(QString path, int alsoOk) {
    const QString token = co_await ensureValidToken();
    const Reply reply = co_await apiGetConditional(path, token);
    requireAnswer(reply, alsoOk);
    co_return reply;
}

void GitHubService::requireAnswer(const Reply &reply, int alsoOk) {
    if (reply.status == 200 || reply.status == 404 || reply.status == alsoOk)
        return;
    const QString message = gitHubMessage(reply.body);
    if (reply.status == 401)
        throw GitHubReadFailure(GitHubReadFailure::unauthorized, reply.status, message);
    // GitHub says a spent limit with 403 or 429 and no remaining calls, a
    // secondary limit with retry-after or its own words.
    if ((reply.status == 403 || reply.status == 429) &&
        (reply.rateRemaining == "0" || reply.retryAfter ||
         message.contains(QLatin1String("rate limit"), Qt::CaseInsensitive)))
        throw GitHubReadFailure(GitHubReadFailure::rateLimited, reply.status, message);
    if (reply.status >= 500)
        throw GitHubReadFailure(GitHubReadFailure::serverError, reply.status, message);
    throw GitHubReadFailure(GitHubReadFailure::unexpected, reply.status, message);
}

// One co_await per branch, none inside a condition: g++ 12 miscompiles
// such frames.
QCoro::Task<GitHubService::Reply> GitHubService::getPage(QUrl url, QString token,
                                                         bool conditional) {
    if (conditional)
        co_return co_await conditionalGet(std::move(url), std::move(token));
    co_return co_await send(QByteArrayLiteral("GET"), std::move(url), std::move(token),
                            std::nullopt);
}

QCoro::Task<QList<GitHubService::Reply>> GitHubService::apiGetPages(QString path, QString token,
                                                                    bool conditional) {
    QList<Reply> pages;
    QUrl url =
        apiUrl(path + (path.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) +
               QStringLiteral("per_page=100"));
    while (pages.size() < maxPages) {
        Reply page = co_await getPage(url, token, conditional);
        pages.append(std::move(page));
        if (pages.constLast().status != 200)
            break;
        // GitHub's own next address is followed as given, but never to
        // another host: the request carries the token.
        const QString next = nextLink(pages.constLast().link);
        if (next.isEmpty())
            break;
        url = QUrl(next);
        if (!sameOriginAsApi(url)) {
            qCWarning(lcGitHub) << "not following a next page on another host:" << url.host();
            break;
        }
    }
    co_return pages;
}

QCoro::Task<QByteArray> GitHubService::apiPost(QString path, QJsonObject body, QString token,
                                               int expectedStatus) {
    const Reply reply =
        co_await send(QByteArrayLiteral("POST"), apiUrl(path), std::move(token), std::move(body));
    if (reply.status != expectedStatus)
        throw GitHubError(GitHubError::fileWriteFailed, gitHubMessage(reply.body));
    co_return reply.body;
}

QCoro::Task<GitHubService::Reply> GitHubService::apiPatch(QString path, QJsonObject body,
                                                          QString token) {
    co_return co_await send(QByteArrayLiteral("PATCH"), apiUrl(path), std::move(token),
                            std::move(body));
}

QCoro::Task<GitHubService::Reply> GitHubService::apiPut(QString path, QJsonObject body,
                                                        QString token) {
    co_return co_await send(QByteArrayLiteral("PUT"), apiUrl(path), std::move(token),
                            std::move(body));
}

QCoro::Task<GitHubService::Reply> GitHubService::apiDelete(QString path, QString token) {
    co_return co_await send(QByteArrayLiteral("DELETE"), apiUrl(path), std::move(token),
                            std::nullopt);
}

void GitHubService::guardOrg(const QString &org) const {
    if (m_approvedOrg && *m_approvedOrg == org)
        return;
    printLine(QStringLiteral("BLOCKED: API call to org '") + org +
              QStringLiteral("' denied \u2014 only '") +
              m_approvedOrg.value_or(QStringLiteral("none")) + QStringLiteral("' is approved"));
    throw GitHubError(GitHubError::orgNotApproved);
}

QString GitHubService::heldToken() const {
    if (!m_oauthToken)
        throw GitHubError(GitHubError::networkError);
    return *m_oauthToken;
}
