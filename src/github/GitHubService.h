#pragma once

#include "DiagnosticLog.h"
#include "GitHubEndpoints.h"
#include "GitHubError.h"
#include "GitHubGovernanceTypes.h"
#include "Records.h"
#include "ReleaseVersion.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AppState;
class QNetworkAccessManager;
class QNetworkRequest;
struct GitHubTokenResponse;
class GitHubRefreshFlight;

// The GitHub REST client: transport and organisation guard, sign-in and the
// token lifecycle, organisation discovery, repository operations and branch
// protection. Every operation is a coroutine on the main thread; failures
// are thrown as GitHubFailure subclasses (see GitHubError.h).
class GitHubService : public QObject {
    Q_OBJECT

public:
    // `log` is the temporary-directory trace failed reads are written to.
    GitHubService(GitHubEndpoints endpoints, DiagnosticLog log, QObject *parent = nullptr);
    ~GitHubService() override;

    // The process-wide instance on the build-time endpoints.
    static GitHubService &shared();

    const GitHubEndpoints &endpoints() const { return m_endpoints; }

    // Organisation guard: the only organisation any write may touch.
    std::optional<QString> approvedOrg() const { return m_approvedOrg; }
    void setApprovedOrg(std::optional<QString> org) { m_approvedOrg = std::move(org); }

    // --- Sign-in and tokens (GitHubSignIn.cpp; reconnect, revoke and forget:
    // GitHubAccount.cpp) ---
    // What a browser sign-in is for: the wizard's first connection, or
    // renewing the sign-in of a set-up machine that GitHub stopped accepting
    // (only its governing owner may do that, and the setup stays).
    enum class SignInPurpose { connect, reconnect };
    // Opens the authorisation page in the browser (QDesktopServices); false
    // when no browser could be asked to open it.
    bool startOAuth(SignInPurpose purpose = SignInPurpose::connect);
    // Forgets every pending sign-in, so a late callback from the browser
    // is ignored.
    void cancelSignIn() { m_pendingSignIns.clear(); }
    // The authorisation page address startOAuth opens (with a PKCE S256
    // challenge); remembers its state and verifier as a pending sign-in.
    QUrl makeAuthorizationUrl(SignInPurpose purpose = SignInPurpose::connect);
    // Acts only on a keelmark://github URL whose state matches a pending
    // sign-in (the last three are kept), then forgets them all; anything
    // else is dropped with one printed line. Never throws. Moves
    // AppState's sign-in phase on and puts any failure in its sign-in
    // problem; connected is set only once the tokens are stored and the
    // account and its organisations are read. A reconnect keeps the new
    // tokens only when the account is AppState's governing owner, and then
    // clears checkSignInRefused; either way it ends with reconnectFinished.
    QCoro::Task<> handleCallback(QUrl url, AppState *appState);
    // Loads tokens and expiry from the credential store.
    QCoro::Task<> restoreFromKeychain();
    // Ends KeelMark's authorisation at GitHub through the relay, so every
    // token it holds stops working. A token GitHub no longer knows counts as
    // revoked; a refusal or failed transfer throws a GitHubFailure.
    QCoro::Task<> revokeGrant();
    // Forgets the sign-in here: the tokens in memory, pending sign-ins, the
    // organisation guard and the three credential-store items. False when
    // the store kept an item.
    QCoro::Task<bool> forgetSignIn();

    std::optional<QString> oauthToken() const { return m_oauthToken; }
    std::optional<QString> refreshToken() const { return m_refreshToken; }
    std::optional<QDateTime> tokenExpiresAt() const { return m_tokenExpiresAt; }
    // The tokens in use could not be written to the credential store.
    bool tokensUnsaved() const { return m_tokensUnsaved; }

    // --- Discovery ---
    // Whether the list was read; a failure is put in AppState's sign-in
    // problem, a success clears it.
    QCoro::Task<bool> fetchOrgs(AppState *appState);

    // --- Repository operations ---
    QCoro::Task<bool> repoExists(QString org, QString name);
    // Throws repoCreationFailed, with GitHub's message, unless it answers 200.
    QCoro::Task<> requireRepo(QString org, QString name);
    // Writes check `cancel` before every request, so their starter can stop
    // them between requests (see GitHubCancellation).
    // True when it created the repository, false when it was there already.
    QCoro::Task<bool> createRepo(QString org, QString name, GitHubCancellation cancel = {});
    // The commit it made on main and that commit's tree.
    QCoro::Task<GitHubBranchHead> writeFiles(QString org, QString repo, QList<FileEntry> files,
                                             QString message, GitHubCancellation cancel = {});
    // One commit on main whose files at these paths are the blobs with these
    // ids, which GitHub must hold already (no content is sent; an unknown id
    // is refused with 422). No commit when main holds them all already: the
    // head comes back as it is.
    QCoro::Task<GitHubBranchHead> writeBlobIds(QString org, QString repo,
                                               QMap<QString, QString> blobIds, QString message,
                                               GitHubCancellation cancel = {});
    QCoro::Task<QString> getFileContent(QString org, QString repo, QString path);
    QCoro::Task<QList<TeamMember>> getCollaborators(QString org, QString repo);

    // --- Branch protection ---
    QCoro::Task<bool> hasBranchProtection(QString org, QString repo);
    QCoro::Task<> enableBranchProtection(QString org, QString repo, GitHubCancellation cancel = {});
    QCoro::Task<> disableBranchProtection(QString org, QString repo,
                                          GitHubCancellation cancel = {});

    // --- Governance reads (GitHubGovernanceReads.cpp) ---
    // Conditional GETs: each remembers its last answer's ETag and a 304
    // reuses that answer. A 404 reads as absent (nullopt / false); 401, a
    // spent rate limit, 5xx and other statuses throw GitHubReadFailure, a
    // failed transfer GitHubTransportError.
    QCoro::Task<bool> repositoryPresent(QString org, QString repo);
    QCoro::Task<std::optional<GitHubBranchHead>> getBranchHead(QString org, QString repo,
                                                               QString branch);
    QCoro::Task<std::optional<QJsonObject>> getProtectionBody(QString org, QString repo);
    QCoro::Task<std::optional<QString>> getFileIfPresent(QString org, QString repo, QString path);
    // Path -> blob id of every file under the tree (recursive).
    QCoro::Task<QMap<QString, QString>> getTreeBlobIds(QString org, QString repo, QString treeSha);
    // Commits from base (exclusive) to head, oldest first; each with the
    // files it touched where the comparison tells them (filesKnown).
    QCoro::Task<QList<GitHubCommitSummary>> compareCommits(QString org, QString repo, QString base,
                                                           QString head);
    QCoro::Task<QStringList> getCommitFiles(QString org, QString repo, QString sha);
    QCoro::Task<QList<GitHubPullSummary>> getCommitPulls(QString org, QString repo, QString sha);
    QCoro::Task<QList<GitHubReviewSummary>> getPullReviews(QString org, QString repo, int number);

    // --- Releases (GitHubReleases.cpp) ---
    // The latest published release of a public repository, asked without
    // a token; nullopt when it has none (404). Other statuses throw
    // GitHubReadFailure, a failed transfer GitHubTransportError.
    QCoro::Task<std::optional<GitHubRelease>> latestRelease(QString owner, QString repo);

    // Web pages the screens link to.
    QUrl newOrganizationPageUrl() const;
    QUrl repositoryAccessPageUrl(const QString &org, const QString &repo) const;

    // The credential-store service the tokens live under (tests use their
    // own so they never touch the user's items or each other's).
    void setCredentialService(QString service) { m_credentialService = std::move(service); }
    // Writes one credential (KeychainService::save unless replaced); tests
    // put a failing store in its place.
    using CredentialWriter =
        std::function<QCoro::Task<bool>(QString key, QString value, QString service)>;
    void setCredentialWriter(CredentialWriter writer) { m_writeCredential = std::move(writer); }

    // Every request gives up after this long (60 s; tests shorten it).
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }

    // Pages followed through Link: rel="next" before a list is taken as complete.
    static constexpr int maxPages = 10;

signals:
    // Emitted after tokens change (sign-in, refresh, restore).
    void tokensChanged();
    // The credential store refused the tokens in use (true) or took them
    // again (false).
    void tokensUnsavedChanged(bool unsaved);
    // GitHub declined to renew the access token, in its own words; the user
    // has to sign in again.
    void tokenRefreshRefused(const QString &reason);
    // A reconnect sign-in ended: `account` is who signed in (empty when
    // GitHub never said), `problem` what the user was told when it failed.
    void reconnectFinished(bool succeeded, const QString &account, const QString &problem);

private:
    struct Reply {
        int status = 0;
        QByteArray body;
        QByteArray link;
        QByteArray etag;
        QByteArray rateRemaining; // x-ratelimit-remaining
        bool retryAfter = false;
    };
    struct PendingSignIn {
        QString state;
        QString codeVerifier;
        SignInPurpose purpose = SignInPurpose::connect;
    };
    // Transport (GitHubTransport.cpp). Paths are already percent-encoded.
    QUrl apiUrl(const QString &encodedPath) const;
    QNetworkRequest baseRequest(const QUrl &url) const;
    QCoro::Task<Reply> transfer(QByteArray verb, QNetworkRequest request, QByteArray payload);
    QCoro::Task<Reply> send(QByteArray verb, QUrl url, QString token,
                            std::optional<QJsonObject> body, QByteArray ifNoneMatch = {});
    QCoro::Task<Reply> apiGet(QString path, QString token);
    // GET with If-None-Match from the last answer to the same URL and
    // token; a 304 comes back as that answer.
    QCoro::Task<Reply> apiGetConditional(QString path, QString token);
    // Throws GitHubReadFailure unless the status is 200, 404 or `alsoOk`.
    static void requireAnswer(const Reply &reply, int alsoOk = 200);
    // A conditional GET with the held token (refreshed when due) that
    // throws as requireAnswer does.
    QCoro::Task<Reply> checkRead(QString path, int alsoOk = 200);
    // GET with the held token: whether it answered 200 (present and readable).
    QCoro::Task<bool> answersOk(QString path);
    QCoro::Task<QList<Reply>> apiGetPages(QString path, QString token, bool conditional = false);
    QCoro::Task<Reply> conditionalGet(QUrl url, QString token);
    QCoro::Task<Reply> getPage(QUrl url, QString token, bool conditional);
    QCoro::Task<QByteArray> apiPost(QString path, QJsonObject body, QString token,
                                    int expectedStatus);
    QCoro::Task<Reply> apiPatch(QString path, QJsonObject body, QString token);
    QCoro::Task<Reply> apiPut(QString path, QJsonObject body, QString token);
    QCoro::Task<Reply> apiDelete(QString path, QString token);
    void guardOrg(const QString &org) const;
    // Both writes' commit: a tree of `entries` over main's, a commit on it,
    // main moved to it (GitHubRepositories.cpp).
    QCoro::Task<GitHubBranchHead> commitTreeOnMain(QString org, QString repo, QJsonArray entries,
                                                   QString message, bool skipUnchanged,
                                                   GitHubCancellation cancel);
    bool sameOriginAsApi(const QUrl &url) const;

    // Sign-in and tokens (GitHubSignIn.cpp); reconnecting and signing out
    // (GitHubAccount.cpp).
    QCoro::Task<GitHubTokenResponse> postToRelay(QJsonObject body);
    QCoro::Task<GitHubTokenResponse> exchangeCode(QString code, QString codeVerifier);
    QCoro::Task<QString> ensureValidToken();
    QCoro::Task<> refresh(std::shared_ptr<GitHubRefreshFlight> flight);
    // Takes over the tokens of an exchange or refresh and stores them;
    // whether the store took them all.
    QCoro::Task<bool> adoptTokens(GitHubTokenResponse response);
    void setTokensUnsaved(bool unsaved);
    // The held access token as it is (no expiry check), read afresh for
    // every request so a refresh by a concurrent task is picked up.
    QString heldToken() const;
    QCoro::Task<> completeSignIn(QString code, QString codeVerifier, QPointer<AppState> appState);
    QCoro::Task<> completeReconnect(QString code, QString codeVerifier,
                                    QPointer<AppState> appState);
    void failReconnect(AppState *appState, const QString &account, const QString &problem);
    // The code exchange of a browser sign-in; a failure is logged and put
    // into AppState, and answers nothing.
    QCoro::Task<std::optional<GitHubTokenResponse>> exchangeForSignIn(QString code,
                                                                      QString codeVerifier,
                                                                      QPointer<AppState> appState,
                                                                      QString errorPrefix);
    // Takes over and stores a sign-in's tokens, unless the user signed out
    // since `signOuts` was read or the store refuses them (then they are
    // dropped again, so nothing looks signed in that a restart would lose).
    enum class KeptTokens { kept, signedOut, refused, serviceGone };
    QCoro::Task<KeptTokens> keepSignInTokens(GitHubTokenResponse response, quint64 signOuts,
                                             QString errorPrefix);
    enum class SignInStep { exchange, account, organisations };
    // Puts what failed into AppState in plain words, with GitHub's own
    // message where it gave one.
    static void reportSignInProblem(AppState *appState, SignInStep step,
                                    const std::exception &error);

    // Discovery (GitHubDiscovery.cpp).
    QCoro::Task<GitHubUser> fetchUser(QString token);
    QCoro::Task<bool> fetchOrgsViaOAuthFallback(QPointer<AppState> appState, QString token);
    QCoro::Task<bool> administersOrg(QString org, QString token);

    GitHubEndpoints m_endpoints;
    DiagnosticLog m_log;
    QNetworkAccessManager *m_network = nullptr;
    std::optional<QString> m_approvedOrg;
    std::optional<QString> m_oauthToken;
    std::optional<QString> m_refreshToken;
    std::optional<QDateTime> m_tokenExpiresAt;
    std::chrono::milliseconds m_transferTimeout = std::chrono::seconds(60);
    QString m_credentialService;
    CredentialWriter m_writeCredential;
    bool m_tokensUnsaved = false;
    // Sign-ins started and not yet completed (the user may click twice).
    QList<PendingSignIn> m_pendingSignIns;
    // At most one refresh in flight; every caller that needs it awaits it.
    std::shared_ptr<GitHubRefreshFlight> m_refreshFlight;
    // Bumped on every sign-in, so a late refresh or restore cannot undo it.
    quint64 m_tokenGeneration = 0;
    // Counts sign-outs, so a sign-in that was under way when the user
    // disconnected does not bring its tokens back.
    quint64 m_signOuts = 0;
    // Answers of conditional GETs by URL and token digest, oldest first;
    // bounded so a long session never grows it.
    struct CachedAnswer {
        QByteArray key;
        Reply reply;
    };
    QList<CachedAnswer> m_conditionalAnswers;
    static constexpr qsizetype maxConditionalAnswers = 64;
};
