#include "GitHubService.h"

#include "AppState.h"
#include "GitHubError.h"
#include "GitHubInternal.h"
#include "GitHubTokenResponse.h"
#include "KeychainService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

using namespace GitHubInternal;

QCoro::Task<> GitHubService::completeReconnect(QString code, QString codeVerifier,
                                               QPointer<AppState> appState) {
    const QPointer<GitHubService> self(this);
    const quint64 signOuts = m_signOuts;
    const QString errorPrefix = QStringLiteral("GitHub reconnect error: ");
    const std::optional<GitHubTokenResponse> response =
        co_await exchangeForSignIn(code, codeVerifier, appState, errorPrefix);
    if (!response) {
        if (self && appState)
            failReconnect(appState.data(), {}, appState->gitHubSignInProblem());
        co_return;
    }
    GitHubUser user;
    // The account is read with the new token before anything is kept: a
    // stranger's tokens must never replace the owner's, not even in memory.
    try {
        user = co_await fetchUser(response->accessToken);
    } catch (const std::exception &error) {
        printLine(errorPrefix + describe(error));
        reportSignInProblem(appState.data(), SignInStep::account, error);
        if (self && appState)
            failReconnect(appState.data(), {}, appState->gitHubSignInProblem());
        co_return;
    }
    if (!self || !appState || m_signOuts != signOuts)
        co_return;
    const QString owner = appState->gitHubUsername();
    if (!owner.isEmpty() && user.login.compare(owner, Qt::CaseInsensitive) != 0) {
        const std::optional<GitHubOrg> org = appState->selectedOrg();
        const QString repository = org ? org->login + u'/' + appState->repoName()
                                       : QStringLiteral("this computer's repository");
        failReconnect(appState.data(), user.login,
                      QStringLiteral("You signed in as @%1, but %2 is governed by @%3. Sign in "
                                     "as @%3 to reconnect.")
                          .arg(user.login, repository, owner));
        co_return;
    }

    const KeptTokens kept = co_await keepSignInTokens(*response, signOuts, errorPrefix);
    if (kept == KeptTokens::refused && appState)
        failReconnect(appState.data(), user.login, keyringProblemText());
    if (kept != KeptTokens::kept || !appState)
        co_return;
    if (owner.isEmpty())
        appState->setGitHubUsername(user.login);
    appState->setGitHubSignInProblem({});
    appState->setCheckSignInRefused(false);
    emit reconnectFinished(true, user.login, {});
}

void GitHubService::failReconnect(AppState *appState, const QString &account,
                                  const QString &problem) {
    appState->setGitHubSignInProblem(problem);
    emit reconnectFinished(false, account, problem);
}

QCoro::Task<> GitHubService::revokeGrant() {
    const QPointer<GitHubService> self(this);
    QString token = heldToken();
    if (token.isEmpty())
        co_return;
    // An expired token may no longer name the grant; renew it if it is due.
    try {
        token = co_await ensureValidToken();
    } catch (const std::exception &) {
        // Revoke with the token held; GitHub says whether it still knows it.
    }
    if (!self)
        throw GitHubError(GitHubError::networkError);
    const QUrl url(m_endpoints.relayBaseUrl + QStringLiteral("/v1/github/revoke"));
    if (m_endpoints.relayBaseUrl.isEmpty() || !url.isValid() || url.isRelative())
        throw GitHubError(GitHubError::networkError);
    QNetworkRequest request = baseRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setRawHeader("Accept", "application/json");
    const QJsonObject body{{QStringLiteral("access_token"), token}};
    const Reply reply = co_await transfer(QByteArrayLiteral("POST"), request,
                                          QJsonDocument(body).toJson(QJsonDocument::Compact));
    if (reply.status == 204 || reply.status == 404)
        co_return;
    // The relay words its own refusals as error_description; GitHub's pass
    // through with their message.
    QString message = QJsonDocument::fromJson(reply.body)
                          .object()
                          .value(QLatin1String("error_description"))
                          .toString();
    if (message.isEmpty())
        message = gitHubMessage(reply.body);
    const auto kind = reply.status == 401   ? GitHubReadFailure::unauthorized
                      : reply.status >= 500 ? GitHubReadFailure::serverError
                                            : GitHubReadFailure::unexpected;
    throw GitHubReadFailure(kind, reply.status, message);
}

QCoro::Task<bool> GitHubService::forgetSignIn() {
    // A refresh or sign-in still in flight must not bring the tokens back.
    ++m_tokenGeneration;
    ++m_signOuts;
    m_oauthToken.reset();
    m_refreshToken.reset();
    m_tokenExpiresAt.reset();
    m_pendingSignIns.clear();
    m_approvedOrg.reset();
    m_conditionalAnswers.clear();
    setTokensUnsaved(false);
    emit tokensChanged();
    const QString service = m_credentialService;
    // Each await a statement of its own (see saveTokens), and all three tried
    // even when one is refused, so as little as possible stays behind.
    const bool access = co_await KeychainService::remove(
        QString::fromLatin1(KeychainService::accessTokenKey), service);
    const bool refreshGone = co_await KeychainService::remove(
        QString::fromLatin1(KeychainService::refreshTokenKey), service);
    const bool expiry = co_await KeychainService::remove(
        QString::fromLatin1(KeychainService::tokenExpiryKey), service);
    const bool allGone = access && refreshGone && expiry;
    co_return allGone;
}
