#include "GitHubService.h"

#include "AppState.h"
#include "GitHubError.h"
#include "GitHubInternal.h"
#include "GitHubRefreshFlight.h"
#include "GitHubTokenResponse.h"
#include "KeychainService.h"

#include <QCoroSignal>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <QUuid>

using namespace GitHubInternal;

QString GitHubInternal::keyringProblemText() {
    return QStringLiteral("KeelMark couldn't store your GitHub sign-in in the system keyring "
                          "\u2014 unlock or install one, then connect again.");
}

namespace {

// A user may press Connect more than once before finishing in the browser;
// any of the recent attempts may complete.
constexpr int maxPendingSignIns = 3;

QString base64Url(const QByteArray &bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// RFC 7636: 32 random bytes give a 43-character verifier.
QString makeCodeVerifier() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                          bytes.size() / int(sizeof(quint32)));
    return base64Url(bytes);
}

QString codeChallenge(const QString &verifier) {
    return base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

std::optional<QDateTime> expiryFromText(const std::optional<QString> &text) {
    if (!text || text->isEmpty())
        return std::nullopt;
    const QDateTime when = QDateTime::fromString(*text, Qt::ISODate);
    if (!when.isValid())
        return std::nullopt;
    return when.toUTC();
}

// A free function so that its by-value parameters outlive every await even if
// the service goes away. Stops at the first refusal: a store that is missing
// or locked refuses the rest too, each after its own time-out.
QCoro::Task<bool> saveTokens(GitHubService::CredentialWriter write, QString service,
                             QString accessToken, std::optional<QString> refreshToken,
                             QString expiry) {
    // Each await is a statement of its own: g++ 12 mishandles co_await
    // inside a condition or beside && (ASan: use after free).
    const bool accessSaved =
        co_await write(QString::fromLatin1(KeychainService::accessTokenKey), accessToken, service);
    if (!accessSaved)
        co_return false;
    if (refreshToken) {
        const bool refreshSaved = co_await write(
            QString::fromLatin1(KeychainService::refreshTokenKey), *refreshToken, service);
        if (!refreshSaved)
            co_return false;
    }
    // An empty value means "expiry unknown": there is no delete operation.
    const bool expirySaved =
        co_await write(QString::fromLatin1(KeychainService::tokenExpiryKey), expiry, service);
    co_return expirySaved;
}

// What a callback without a code says, in the user's words.
QString declinedText(const std::optional<QString> &error) {
    if (error == QLatin1String("access_denied"))
        return QStringLiteral("The sign-in was declined on GitHub. Connect again to retry.");
    return QStringLiteral("GitHub ended the sign-in without signing you in (%1). Connect again "
                          "to retry.")
        .arg(error && !error->isEmpty() ? *error : QStringLiteral("no reason given"));
}

} // namespace

QUrl GitHubService::makeAuthorizationUrl(SignInPurpose purpose) {
    QUrl url(m_endpoints.webBaseUrl + QStringLiteral("/login/oauth/authorize"));
    if (!url.isValid() || url.isRelative())
        return {};
    const PendingSignIn pending{QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                                makeCodeVerifier(), purpose};
    const QList<QPair<QString, QString>> items = {
        {QStringLiteral("client_id"), m_endpoints.oauthClientId},
        {QStringLiteral("redirect_uri"),
         m_endpoints.relayBaseUrl + QStringLiteral("/v1/github/callback")},
        {QStringLiteral("scope"), QStringLiteral("repo,admin:org")},
        {QStringLiteral("state"), pending.state},
        {QStringLiteral("code_challenge"), codeChallenge(pending.codeVerifier)},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
    };
    QStringList parts;
    for (const auto &[name, value] : items)
        parts << QString::fromLatin1(QUrl::toPercentEncoding(name) + '=' +
                                     QUrl::toPercentEncoding(value));
    url.setQuery(parts.join(QLatin1Char('&')), QUrl::StrictMode);

    m_pendingSignIns.append(pending);
    while (m_pendingSignIns.size() > maxPendingSignIns)
        m_pendingSignIns.removeFirst();
    return url;
}

bool GitHubService::startOAuth(SignInPurpose purpose) {
    const QUrl url = makeAuthorizationUrl(purpose);
    return url.isValid() && QDesktopServices::openUrl(url);
}

void GitHubService::reportSignInProblem(AppState *appState, SignInStep step,
                                        const std::exception &error) {
    QString detail = describe(error).trimmed();
    if (!detail.isEmpty()) {
        detail[0] = detail[0].toUpper();
        if (!detail.endsWith(QLatin1Char('.')))
            detail += QLatin1Char('.');
    }
    QString problem;
    switch (step) {
    case SignInStep::exchange:
        problem = QStringLiteral("The GitHub sign-in didn't complete.");
        break;
    case SignInStep::account:
        problem = QStringLiteral("KeelMark couldn't read your GitHub account.");
        break;
    case SignInStep::organisations:
        problem = QStringLiteral("KeelMark couldn't list your GitHub organisations.");
        break;
    }
    if (!detail.isEmpty())
        problem += QLatin1Char(' ') + detail;
    if (appState)
        appState->setGitHubSignInProblem(problem);
}

void GitHubService::setTokensUnsaved(bool unsaved) {
    if (m_tokensUnsaved == unsaved)
        return;
    m_tokensUnsaved = unsaved;
    emit tokensUnsavedChanged(unsaved);
}

QCoro::Task<> GitHubService::handleCallback(QUrl url, AppState *appState) {
    QPointer<AppState> state(appState);
    std::optional<QString> code;
    std::optional<QString> callbackState;
    std::optional<QString> error;
    for (const auto &[name, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (name == QLatin1String("code") && !code)
            code = value;
        else if (name == QLatin1String("state") && !callbackState)
            callbackState = value;
        else if (name == QLatin1String("error") && !error)
            error = value;
    }

    // Only a sign-in started here may complete (RFC 6749 section 10.12).
    qsizetype match = -1;
    for (qsizetype i = 0; callbackState && i < m_pendingSignIns.size(); ++i) {
        if (m_pendingSignIns.at(i).state == *callbackState)
            match = i;
    }
    if (match < 0) {
        printLine(QStringLiteral("GitHub OAuth callback ignored: it does not match a sign-in "
                                 "started in this app"));
        co_return;
    }
    const PendingSignIn pending = m_pendingSignIns.at(match);
    m_pendingSignIns.clear();
    // Declined on GitHub: the attempt is over.
    if (!code || code->isEmpty()) {
        printLine(QStringLiteral("GitHub sign-in ended without a code: ") +
                  error.value_or(QStringLiteral("no error given")));
        if (state) {
            state->setGitHubSignInProblem(declinedText(error));
            state->setGitHubSignInPhase(GitHubSignInPhase::idle);
        }
        if (pending.purpose == SignInPurpose::reconnect)
            emit reconnectFinished(false, {}, declinedText(error));
        co_return;
    }
    if (state) {
        state->setGitHubSignInProblem({});
        state->setGitHubSignInPhase(GitHubSignInPhase::finishing);
    }
    if (pending.purpose == SignInPurpose::reconnect)
        co_await completeReconnect(*code, pending.codeVerifier, state);
    else
        co_await completeSignIn(*code, pending.codeVerifier, state);
    if (state)
        state->setGitHubSignInPhase(GitHubSignInPhase::idle);
}

QCoro::Task<> GitHubService::completeSignIn(QString code, QString codeVerifier,
                                            QPointer<AppState> appState) {
    const QPointer<GitHubService> self(this);
    const quint64 signOuts = m_signOuts;
    const QString errorPrefix = QStringLiteral("GitHub OAuth error: ");
    const std::optional<GitHubTokenResponse> response =
        co_await exchangeForSignIn(code, codeVerifier, appState, errorPrefix);
    if (!self || !response || m_signOuts != signOuts)
        co_return;
    const QString token = response->accessToken;
    const KeptTokens kept = co_await keepSignInTokens(*response, signOuts, errorPrefix);
    if (kept == KeptTokens::refused && appState)
        appState->setGitHubSignInProblem(keyringProblemText());
    if (kept != KeptTokens::kept)
        co_return;

    GitHubUser user;
    try {
        user = co_await fetchUser(token);
    } catch (const std::exception &error) {
        printLine(errorPrefix + describe(error));
        reportSignInProblem(appState.data(), SignInStep::account, error);
        co_return;
    }
    if (!self || !appState || m_signOuts != signOuts)
        co_return;
    // Connected only once the organisations are known, so a failed look-up
    // shows its cause rather than an empty list. The user name goes first:
    // the membership fallback asks about it.
    const QString previousUser = appState->gitHubUsername();
    appState->setGitHubUsername(user.login);
    const bool listed = co_await fetchOrgs(appState.data());
    if (!appState)
        co_return;
    if (!listed) {
        appState->setGitHubUsername(previousUser);
        co_return;
    }
    appState->setGitHubConnected(true);
}

QCoro::Task<std::optional<GitHubTokenResponse>>
GitHubService::exchangeForSignIn(QString code, QString codeVerifier, QPointer<AppState> appState,
                                 QString errorPrefix) {
    try {
        GitHubTokenResponse response = co_await exchangeCode(code, codeVerifier);
        co_return response;
    } catch (const std::exception &error) {
        printLine(errorPrefix + describe(error));
        reportSignInProblem(appState.data(), SignInStep::exchange, error);
    }
    co_return std::nullopt;
}

QCoro::Task<GitHubService::KeptTokens> GitHubService::keepSignInTokens(GitHubTokenResponse response,
                                                                       quint64 signOuts,
                                                                       QString errorPrefix) {
    const QPointer<GitHubService> self(this);
    const quint64 generation = ++m_tokenGeneration;
    const bool stored = co_await adoptTokens(std::move(response));
    if (!self)
        co_return KeptTokens::serviceGone;
    if (m_signOuts != signOuts) {
        // Signed out while the tokens were being stored: take them out again.
        co_await forgetSignIn();
        co_return KeptTokens::signedOut;
    }
    if (!stored) {
        // Tokens held only in memory would look signed in now and be gone
        // after a restart, with every check failing: refuse the sign-in.
        printLine(errorPrefix + QStringLiteral("the credential store refused the tokens"));
        if (generation == m_tokenGeneration) {
            m_oauthToken.reset();
            m_refreshToken.reset();
            m_tokenExpiresAt.reset();
            emit tokensChanged();
        }
        co_return KeptTokens::refused;
    }
    setTokensUnsaved(false);
    co_return KeptTokens::kept;
}

QCoro::Task<GitHubTokenResponse> GitHubService::postToRelay(QJsonObject body) {
    const QUrl url(m_endpoints.relayBaseUrl + QStringLiteral("/v1/github/exchange"));
    if (m_endpoints.relayBaseUrl.isEmpty() || !url.isValid() || url.isRelative())
        throw GitHubError(GitHubError::networkError);
    QNetworkRequest request = baseRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setRawHeader("Accept", "application/json");
    const Reply reply = co_await transfer(QByteArrayLiteral("POST"), request,
                                          QJsonDocument(body).toJson(QJsonDocument::Compact));
    co_return GitHubTokenResponse::decode(reply.body);
}

QCoro::Task<GitHubTokenResponse> GitHubService::exchangeCode(QString code, QString codeVerifier) {
    QJsonObject body;
    body.insert(QStringLiteral("code"), code);
    body.insert(QStringLiteral("code_verifier"), codeVerifier);
    co_return co_await postToRelay(std::move(body));
}

QCoro::Task<bool> GitHubService::adoptTokens(GitHubTokenResponse response) {
    m_oauthToken = response.accessToken;
    if (response.refreshToken)
        m_refreshToken = response.refreshToken;
    // The expiry belongs to this token: a reply without one means it does
    // not expire, not that an older token's expiry still applies.
    m_tokenExpiresAt.reset();
    if (response.expiresIn) {
        const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(*response.expiresIn);
        if (when.isValid())
            m_tokenExpiresAt = when;
    }
    emit tokensChanged();
    // Named first: g++ 12 destroys a class temporary made by ?: inside a
    // co_await expression twice (ASan: heap-use-after-free).
    QString expiry;
    if (m_tokenExpiresAt)
        expiry = m_tokenExpiresAt->toString(Qt::ISODate);
    co_return co_await saveTokens(m_writeCredential, m_credentialService, *m_oauthToken,
                                  response.refreshToken, expiry);
}

QCoro::Task<QString> GitHubService::ensureValidToken() {
    if (!m_oauthToken)
        throw GitHubError(GitHubError::networkError);
    if (!m_tokenExpiresAt || QDateTime::currentDateTimeUtc() < *m_tokenExpiresAt)
        co_return QString(*m_oauthToken); // a copy: QCoro 0.8 moves from an lvalue co_return
    if (!m_refreshToken)
        throw GitHubError(GitHubError::networkError);

    std::shared_ptr<GitHubRefreshFlight> flight = m_refreshFlight;
    if (!flight) {
        flight = std::make_shared<GitHubRefreshFlight>();
        m_refreshFlight = flight;
        refresh(flight); // runs on its own; its outcome is read from the flight
    }
    if (!flight->done)
        co_await qCoro(flight.get(), &GitHubRefreshFlight::settled);
    if (flight->error)
        std::rethrow_exception(flight->error);
    // A copy: every waiter reads the same flight, and QCoro 0.8 moves from an
    // lvalue given to co_return.
    co_return QString(flight->accessToken);
}

QCoro::Task<> GitHubService::refresh(std::shared_ptr<GitHubRefreshFlight> flight) {
    const QPointer<GitHubService> self(this);
    const quint64 generation = m_tokenGeneration;
    try {
        QJsonObject body;
        body.insert(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
        body.insert(QStringLiteral("refresh_token"), *m_refreshToken);
        GitHubTokenResponse response = co_await postToRelay(std::move(body));
        if (!self)
            throw GitHubError(GitHubError::networkError);
        if (generation == m_tokenGeneration) {
            ++m_tokenGeneration;
            flight->accessToken = response.accessToken;
            // GitHub has already spent the stored refresh token, so the
            // tokens work on in memory whether or not the store takes them;
            // only the next launch needs a new sign-in.
            const bool stored = co_await adoptTokens(std::move(response));
            if (self) {
                if (!stored && !m_tokensUnsaved)
                    qCWarning(lcGitHub) << "refreshed tokens could not be stored; the next "
                                           "launch will need a new sign-in";
                setTokensUnsaved(!stored);
            }
        } else {
            // A sign-in finished meanwhile; its token wins.
            flight->accessToken = heldToken();
        }
    } catch (const GitHubTokenRefused &refused) {
        flight->error = std::current_exception();
        if (self)
            emit tokenRefreshRefused(refused.description());
    } catch (...) {
        // A failed refresh changes nothing; the next caller tries again.
        flight->error = std::current_exception();
    }
    if (self && m_refreshFlight == flight)
        m_refreshFlight.reset();
    flight->done = true;
    emit flight->settled();
}

QCoro::Task<> GitHubService::restoreFromKeychain() {
    const quint64 generation = m_tokenGeneration;
    const QString service = m_credentialService;
    const auto accessToken = co_await KeychainService::load(
        QString::fromLatin1(KeychainService::accessTokenKey), service);
    const auto refreshToken = co_await KeychainService::load(
        QString::fromLatin1(KeychainService::refreshTokenKey), service);
    const auto expiry = co_await KeychainService::load(
        QString::fromLatin1(KeychainService::tokenExpiryKey), service);
    // A sign-in or refresh that finished while the store answered is newer.
    if (generation != m_tokenGeneration)
        co_return;
    m_oauthToken = accessToken && !accessToken->isEmpty() ? accessToken : std::nullopt;
    m_refreshToken = refreshToken && !refreshToken->isEmpty() ? refreshToken : std::nullopt;
    m_tokenExpiresAt = m_oauthToken ? expiryFromText(expiry) : std::nullopt;
    emit tokensChanged();
}
