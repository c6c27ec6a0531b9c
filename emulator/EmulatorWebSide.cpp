// The web host: the OAuth authorisation page, the token endpoint and the
// plain pages the app links to.
#include "EmulatorBackend.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace ghemu {

namespace {

const QString kTokenErrorsDoc =
    QStringLiteral("https://docs.github.com/apps/managing-oauth-apps/"
                   "troubleshooting-oauth-app-access-token-request-errors/");
const QString kAuthorizeErrorsDoc =
    QStringLiteral("https://docs.github.com/apps/managing-oauth-apps/"
                   "troubleshooting-authorization-request-errors/");

// Parameters may come in the query, a form body or a JSON body.
QUrlQuery paramsOf(const HttpExchange &req) {
    QUrlQuery params = req.query;
    const QByteArray type = req.header("content-type").toLower();
    if (type.startsWith("application/json")) {
        const QJsonObject o = QJsonDocument::fromJson(req.body).object();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QString value =
                it.value().isString() ? it.value().toString() : it.value().toVariant().toString();
            params.removeAllQueryItems(it.key());
            params.addQueryItem(it.key(), QString::fromUtf8(QUrl::toPercentEncoding(value)));
        }
    } else if (!req.body.isEmpty()) {
        const QUrlQuery form(QString::fromUtf8(QByteArray(req.body).replace('+', ' ')));
        for (const auto &item : form.queryItems(QUrl::FullyEncoded)) {
            params.removeAllQueryItems(item.first);
            params.addQueryItem(item.first, item.second);
        }
    }
    return params;
}

QString param(const QUrlQuery &q, const QString &name) {
    return q.queryItemValue(name, QUrl::FullyDecoded);
}

QString escapeHtml(const QString &s) {
    return s.toHtmlEscaped();
}

QUrl withQuery(const QString &base, const QList<QPair<QString, QString>> &items) {
    QUrl url(base);
    QUrlQuery q(url);
    for (const auto &item : items)
        q.addQueryItem(item.first, QString::fromUtf8(QUrl::toPercentEncoding(item.second)));
    url.setQuery(q.toString(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

QString s256(const QString &verifier) {
    const QByteArray digest =
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
        digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

HttpReply EmulatorBackend::html(int status, const QString &title, const QString &bodyHtml) const {
    HttpReply r;
    r.status = status;
    r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    r.body = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                            "</head><body>\n%2\n</body></html>\n")
                 .arg(escapeHtml(title), bodyHtml)
                 .toUtf8();
    return r;
}

HttpReply EmulatorBackend::redirect(const QUrl &target) const {
    HttpReply r;
    r.status = 302;
    r.headers = {{"Location", target.toEncoded()}, {"Content-Type", "text/html; charset=utf-8"}};
    r.body = "<html><body>You are being <a href=\"" + target.toEncoded() +
             "\">redirected</a>.</body></html>";
    return r;
}

bool EmulatorBackend::redirectAllowed(const QString &redirectUri) const {
    if (app.callbackUrls.isEmpty())
        return true;
    const QUrl wanted(redirectUri);
    for (const auto &registered : app.callbackUrls) {
        if (registered == redirectUri)
            return true;
        // A loopback callback may come back on any port.
        const QUrl reg(registered);
        if (reg.host() == QLatin1String("127.0.0.1") && wanted.host() == reg.host() &&
            wanted.scheme() == reg.scheme() && wanted.path() == reg.path() &&
            wanted.query() == reg.query())
            return true;
    }
    return false;
}

HttpReply EmulatorBackend::handleWeb(const HttpExchange &req) {
    ++requestCounter;
    const QString &path = req.path;
    if (path == QLatin1String("/login/oauth/authorize")) {
        if (!paramsOf(req).queryItemValue(QStringLiteral("request")).isEmpty())
            return authorizeDecision(req);
        return authorizePage(req);
    }
    if (path == QLatin1String("/login/oauth/access_token")) {
        if (req.method != "POST")
            return html(404, QStringLiteral("Page not found"), QStringLiteral("<h1>404</h1>"));
        return accessToken(req);
    }
    if (path == QLatin1String("/account/organizations/new"))
        return html(200, QStringLiteral("Set up your organization"),
                    QStringLiteral("<h1>Tell us about your organization</h1>"
                                   "<form><input name=\"login\"><button>Next</button></form>"));
    if (path == QLatin1String("/"))
        return html(200, QStringLiteral("GitHub"), QStringLiteral("<h1>GitHub</h1>"));

    const QStringList seg = path.mid(1).split(QLatin1Char('/'));
    if (seg.size() == 1 && (user(seg[0]) || org(seg[0])))
        return html(200, seg[0], QStringLiteral("<h1>%1</h1>").arg(escapeHtml(seg[0])));
    if (seg.size() >= 2) {
        if (EmuRepo *r = repo(seg[0], seg[1])) {
            const QString name = escapeHtml(r->fullName());
            if (seg.size() == 4 && seg[2] == QLatin1String("settings") &&
                seg[3] == QLatin1String("access"))
                return html(200, QStringLiteral("Collaborators and teams · %1").arg(r->fullName()),
                            QStringLiteral("<h1>Collaborators and teams</h1><p>%1</p>").arg(name));
            if (seg.size() == 2)
                return html(200, r->fullName(), QStringLiteral("<h1>%1</h1>").arg(name));
        }
    }
    return html(404, QStringLiteral("Page not found · GitHub"),
                QStringLiteral("<h1>404</h1><p>This is not the web page you are looking for.</p>"));
}

HttpReply EmulatorBackend::authorizePage(const HttpExchange &req) {
    const QUrlQuery params = paramsOf(req);
    const QString clientId = param(params, QStringLiteral("client_id"));
    if (clientId != app.clientId)
        return html(404, QStringLiteral("Page not found · GitHub"), QStringLiteral("<h1>404</h1>"));
    QString redirectUri = param(params, QStringLiteral("redirect_uri"));
    const QString state = param(params, QStringLiteral("state"));
    if (redirectUri.isEmpty()) {
        if (app.callbackUrls.isEmpty())
            return html(400, QStringLiteral("Redirect URI required"),
                        QStringLiteral("<p>The redirect_uri parameter is missing.</p>"));
        redirectUri = app.callbackUrls.first();
    }
    if (!redirectAllowed(redirectUri)) {
        // GitHub sends the error to the registered callback, not the given one.
        return redirect(withQuery(
            app.callbackUrls.first(),
            {{"error", "redirect_uri_mismatch"},
             {"error_description",
              "The redirect_uri MUST match the registered callback URL for this application."},
             {"error_uri", kAuthorizeErrorsDoc + "#redirect-uri-mismatch"},
             {"state", state}}));
    }
    const QString challenge = param(params, QStringLiteral("code_challenge"));
    const QString method = param(params, QStringLiteral("code_challenge_method"));
    if (!challenge.isEmpty() && method != QLatin1String("S256")) {
        return redirect(
            withQuery(redirectUri, {{"error", "invalid_request"},
                                    {"error_description", "code_challenge_method must be S256"},
                                    {"error_uri", kAuthorizeErrorsDoc},
                                    {"state", state}}));
    }
    const auto signedIn = users.find(authorizingUser);
    if (authorizingUser.isEmpty() || signedIn == users.end())
        return html(200, QStringLiteral("Sign in to GitHub"),
                    QStringLiteral("<h1>Sign in to GitHub</h1><p>to continue to %1</p>")
                        .arg(escapeHtml(app.name)));

    if (autoApprove) {
        const QString code = randomToken(QString(), 20).toLower();
        codes[code] = EmuAuthCode{app.clientId,
                                  authorizingUser,
                                  redirectUri,
                                  challenge,
                                  QDateTime::currentDateTimeUtc().addSecs(600),
                                  false};
        return redirect(withQuery(redirectUri, {{"code", code}, {"state", state}}));
    }
    const QString id = randomToken(QString(), 24);
    pending[id] =
        EmuPendingAuthorization{app.clientId, redirectUri, state, challenge, authorizingUser};
    const QString form =
        QStringLiteral(
            "<form method=\"post\" action=\"/login/oauth/authorize\">"
            "<input type=\"hidden\" name=\"request\" value=\"%1\">"
            "<button type=\"submit\" name=\"authorize\" value=\"1\" id=\"js-oauth-authorize-btn\">"
            "Authorize %2</button> "
            "<button type=\"submit\" name=\"authorize\" value=\"0\">Cancel</button></form>")
            .arg(id, escapeHtml(app.name));
    return html(200, QStringLiteral("Authorize %1").arg(app.name),
                QStringLiteral("<h1>Authorize %1</h1><p>%1 by the KeelMark team wants to access "
                               "your <strong>%2</strong> account.</p><p>Authorizing will "
                               "redirect to <code>%3</code></p>%4")
                    .arg(escapeHtml(app.name), escapeHtml(signedIn->second.login),
                         escapeHtml(redirectUri), form));
}

HttpReply EmulatorBackend::authorizeDecision(const HttpExchange &req) {
    const QUrlQuery params = paramsOf(req);
    const auto it = pending.find(param(params, QStringLiteral("request")));
    if (it == pending.end())
        return html(404, QStringLiteral("Page not found · GitHub"), QStringLiteral("<h1>404</h1>"));
    const EmuPendingAuthorization p = it->second;
    pending.erase(it);
    if (param(params, QStringLiteral("authorize")) != QLatin1String("1")) {
        return redirect(withQuery(
            p.redirectUri, {{"error", "access_denied"},
                            {"error_description", "The user has denied your application access."},
                            {"error_uri", kAuthorizeErrorsDoc + "#access-denied"},
                            {"state", p.state}}));
    }
    const QString code = randomToken(QString(), 20).toLower();
    codes[code] = EmuAuthCode{p.clientId,
                              p.userKey,
                              p.redirectUri,
                              p.codeChallenge,
                              QDateTime::currentDateTimeUtc().addSecs(600),
                              false};
    return redirect(withQuery(p.redirectUri, {{"code", code}, {"state", p.state}}));
}

HttpReply EmulatorBackend::tokenReply(const HttpExchange &req, const QJsonObject &body) const {
    HttpReply r;
    r.status = 200; // errors too, as GitHub does
    if (req.header("accept").toLower().contains("application/json")) {
        r.headers = {{"Content-Type", "application/json; charset=utf-8"}};
        r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        return r;
    }
    QUrlQuery form;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const QString v =
            it.value().isString() ? it.value().toString() : QString::number(it.value().toInteger());
        form.addQueryItem(it.key(), QString::fromUtf8(QUrl::toPercentEncoding(v)));
    }
    r.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}};
    r.body = form.toString(QUrl::FullyEncoded).toUtf8();
    return r;
}

HttpReply EmulatorBackend::tokenError(const HttpExchange &req, const QString &error,
                                      const QString &description, const QString &anchor) const {
    return tokenReply(req, QJsonObject{{"error", error},
                                       {"error_description", description},
                                       {"error_uri", kTokenErrorsDoc + QLatin1Char('#') + anchor}});
}

QJsonObject EmulatorBackend::issueTokenPair(const QString &userKey, const QString &clientId) {
    GitHubEmulator::TokenOptions options;
    options.appUserToken = app.githubApp;
    options.expiresIn = app.expiringTokens ? app.accessTokenLifetime : 0;
    const QString access = issueToken(userKey, options, clientId);
    QJsonObject reply{{"access_token", access}, {"scope", ""}, {"token_type", "bearer"}};
    if (!app.expiringTokens)
        return reply;
    EmuToken refresh;
    refresh.text = randomToken(QStringLiteral("ghr_"), 76);
    refresh.userKey = userKey;
    refresh.refresh = true;
    refresh.clientId = clientId;
    refresh.partner = access;
    refresh.expiresAt = QDateTime::currentDateTimeUtc().addSecs(app.refreshTokenLifetime);
    tokens[refresh.text] = refresh;
    tokens[access].partner = refresh.text;
    reply.insert("expires_in", app.accessTokenLifetime);
    reply.insert("refresh_token", refresh.text);
    reply.insert("refresh_token_expires_in", app.refreshTokenLifetime);
    return reply;
}

HttpReply EmulatorBackend::accessToken(const HttpExchange &req) {
    const QUrlQuery params = paramsOf(req);
    const QString clientId = param(params, QStringLiteral("client_id"));
    if (clientId != app.clientId ||
        param(params, QStringLiteral("client_secret")) != app.clientSecret)
        return tokenError(
            req, QStringLiteral("incorrect_client_credentials"),
            QStringLiteral("The client_id and/or client_secret passed are incorrect."),
            QStringLiteral("incorrect-client-credentials"));
    const QString grant = param(params, QStringLiteral("grant_type"));
    const QDateTime now = QDateTime::currentDateTimeUtc();

    if (grant == QLatin1String("refresh_token")) {
        const auto it = tokens.find(param(params, QStringLiteral("refresh_token")));
        if (it == tokens.end() || !it->second.refresh || !it->second.usable(now) ||
            it->second.clientId != clientId)
            return tokenError(req, QStringLiteral("bad_refresh_token"),
                              QStringLiteral("The refresh token passed is incorrect or expired."),
                              QStringLiteral("bad-verification-code"));
        // Rotation: the old refresh token and its access token stop working.
        it->second.revoked = true;
        const auto old = tokens.find(it->second.partner);
        if (old != tokens.end())
            old->second.revoked = true;
        const QString userKey = it->second.userKey;
        return tokenReply(req, issueTokenPair(userKey, clientId));
    }
    if (!grant.isEmpty() && grant != QLatin1String("authorization_code"))
        return tokenError(req, QStringLiteral("unsupported_grant_type"),
                          QStringLiteral("The grant type is not supported."),
                          QStringLiteral("unsupported-grant-type"));

    const auto badCode = [&]() {
        return tokenError(req, QStringLiteral("bad_verification_code"),
                          QStringLiteral("The code passed is incorrect or expired."),
                          QStringLiteral("bad-verification-code"));
    };
    const auto it = codes.find(param(params, QStringLiteral("code")));
    if (it == codes.end() || it->second.used || now >= it->second.expiresAt ||
        it->second.clientId != clientId)
        return badCode();
    EmuAuthCode &code = it->second;
    const QString redirectUri = param(params, QStringLiteral("redirect_uri"));
    if (!redirectUri.isEmpty() && redirectUri != code.redirectUri)
        return tokenError(req, QStringLiteral("redirect_uri_mismatch"),
                          QStringLiteral("The redirect_uri MUST match the registered callback URL "
                                         "for this application."),
                          QStringLiteral("redirect-uri-mismatch"));
    if (!code.codeChallenge.isEmpty()) {
        const QString verifier = param(params, QStringLiteral("code_verifier"));
        if (verifier.isEmpty() || s256(verifier) != code.codeChallenge)
            return badCode();
    }
    code.used = true;
    if (!users.count(code.userKey))
        return badCode();
    return tokenReply(req, issueTokenPair(code.userKey, clientId));
}

std::optional<HttpReply> EmulatorBackend::routeAppRequest(const HttpExchange &req) {
    struct AppRoute {
        QByteArray method;
        QRegularExpression path; // the client id is the first capture
        HttpReply (EmulatorBackend::*handle)(const HttpExchange &, const QString &);
    };
    static const QList<AppRoute> routes{
        {"DELETE", QRegularExpression(QStringLiteral("^/applications/([^/]+)/grant$")),
         &EmulatorBackend::deleteGrant},
    };
    for (const AppRoute &route : routes) {
        const QRegularExpressionMatch match = route.path.match(req.path);
        if (route.method == req.method && match.hasMatch())
            return (this->*route.handle)(req, match.captured(1));
    }
    return std::nullopt;
}

HttpReply EmulatorBackend::deleteGrant(const HttpExchange &req, const QString &clientId) {
    const QString doc = QStringLiteral("rest/apps/oauth-applications#delete-an-app-authorization");
    const QByteArray auth = req.header("authorization").trimmed();
    if (!auth.toLower().startsWith("basic "))
        return error(401, QStringLiteral("Requires authentication"), doc);
    const QByteArray pair = QByteArray::fromBase64(auth.mid(6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    if (colon < 0 || QString::fromUtf8(pair.left(colon)) != app.clientId ||
        QString::fromUtf8(pair.mid(colon + 1)) != app.clientSecret)
        return error(401, QStringLiteral("Bad credentials"), doc);
    // GitHub hides other apps' authorisations.
    if (clientId != app.clientId)
        return notFound(doc);
    const QJsonValue token = QJsonDocument::fromJson(req.body).object().value("access_token");
    if (!token.isString() || token.toString().isEmpty())
        return validation(QStringLiteral("Invalid request.\n\n\"access_token\" wasn't supplied."),
                          doc);
    const auto it = tokens.find(token.toString());
    if (it == tokens.end() || it->second.refresh || it->second.clientId != clientId ||
        !it->second.usable(QDateTime::currentDateTimeUtc()))
        return notFound(doc);
    // The grant is the user's authorisation of the app: every token of
    // theirs for it stops working, refresh tokens included.
    const QString userKey = it->second.userKey;
    for (auto &[text, held] : tokens) {
        if (held.userKey == userKey && held.clientId == clientId)
            held.revoked = true;
    }
    HttpReply reply;
    reply.status = 204;
    return reply;
}

} // namespace ghemu
