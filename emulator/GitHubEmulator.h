#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <memory>
#include <optional>

namespace ghemu {
class EmulatorBackend;
class LoopbackHttpServer;
struct HttpExchange;
} // namespace ghemu

struct EmulatorTokenOptions {
    // Seconds until the access token stops working; 0 = never expires.
    int expiresIn = 28800;
    // true: a GitHub App user token (ghu_...); false: an OAuth-app/classic
    // token (gho_...), which /user/installations refuses.
    bool appUserToken = true;
    // Use this exact text instead of a random token (seed files).
    QString fixedToken{};
};

struct EmulatorOrgOptions {
    // A plan that refuses branch protection on private repositories
    // (GitHub Free for organisations).
    bool refusesPrivateProtection = false;
    // Whether the GitHub App is installed on the organisation, which is
    // what /user/installations lists.
    bool appInstalled = true;
    // What plain members get on every repository: "none", "read",
    // "write" or "admin".
    QString defaultRepositoryPermission = QStringLiteral("read");
};

struct EmulatorRepoOptions {
    bool isPrivate = true;
    // An initial commit with a README on main; without it the
    // repository is empty.
    bool autoInit = true;
    QString description{};
};

struct EmulatorReleaseOptions {
    QString name{}; // the tag when empty
    QString body{};
    bool draft = false;
    bool prerelease = false;
};

// A stateful stand-in for GitHub on 127.0.0.1: the REST API on one port
// (apiUrl) and the web side (authorisation page, token endpoint, plain pages)
// on another (webUrl), both sharing one state. It lives in the thread that
// created it and answers from that thread's event loop; every method below
// must be called from that thread. Replies that are delayed (latency faults)
// wait on timers, so the loop is never blocked and many requests can be in
// flight at once.
class GitHubEmulator : public QObject {
    Q_OBJECT

public:
    enum class Host { Api, Web };

    // Declared outside the class so they can be default arguments below.
    using TokenOptions = EmulatorTokenOptions;
    using OrgOptions = EmulatorOrgOptions;
    using RepoOptions = EmulatorRepoOptions;
    using ReleaseOptions = EmulatorReleaseOptions;

    struct OAuthApp {
        QString clientId = QStringLiteral("Iv1.keelmark");
        QString clientSecret = QStringLiteral("keelmark-secret");
        QString name = QStringLiteral("KeelMark");
        // Registered callback URLs; empty accepts any redirect_uri.
        QStringList callbackUrls;
        // GitHub App (ghu_ tokens) or plain OAuth app (gho_ tokens).
        bool githubApp = true;
        // Expiring user tokens with refresh tokens (the GitHub App default).
        bool expiringTokens = true;
        // Lifetimes actually applied (and reported) to tokens issued by the
        // token endpoint; GitHub's are 28800 and 15811200.
        int accessTokenLifetime = 28800;
        int refreshTokenLifetime = 15811200;
    };

    struct RecordedRequest {
        Host host = Host::Api;
        QByteArray method; // "GET", "POST", ...
        QString path;      // decoded path, no query
        QString rawPath;   // the path as sent, percent-encoding kept
        QUrlQuery query;
        QList<QPair<QByteArray, QByteArray>> headers; // names lower-case
        QByteArray body;
        QDateTime receivedAt;
        int status = 0; // the status answered; 0 while in flight or dropped

        QByteArray header(const QByteArray &name) const; // case-insensitive
        QString authorization() const { return QString::fromUtf8(header("authorization")); }
        QJsonValue json() const; // the body as JSON (undefined when not JSON)
    };

    struct Fault {
        enum class Kind {
            Latency,        // answer normally after latencyMs
            FixedResponse,  // answer status + body (+ headers) instead
            MalformedBody,  // the normal status and headers, a corrupted body
            DropConnection, // headers and part of the body, then the socket aborts
            RateLimit,      // 403/429 with x-ratelimit-* (and retry-after)
        };
        Kind kind = Kind::Latency;
        int latencyMs = 0;
        int status = 0;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        bool secondaryRateLimit = false; // RateLimit: secondary message + retry-after
        int retryAfterSeconds = 60;
        // How many matching requests it hits before it disappears; -1 = all.
        int times = -1;

        static Fault latency(int ms, int times = -1);
        static Fault fixed(int status, QByteArray body, int times = -1);
        static Fault malformed(int times = -1);
        static Fault drop(int times = -1);
        static Fault rateLimit(int status = 403, bool secondary = false, int retryAfter = 60,
                               int times = -1);
    };

    explicit GitHubEmulator(QObject *parent = nullptr);
    ~GitHubEmulator() override;

    // Listens on 127.0.0.1; 0 = any free port. False when either port fails.
    bool start(quint16 apiPort = 0, quint16 webPort = 0);
    QUrl apiUrl() const; // "http://127.0.0.1:N", no trailing slash
    QUrl webUrl() const;

    // --- Users and tokens ---
    qint64 addUser(const QString &login, const QString &name = {});
    std::optional<qint64> userId(const QString &login) const;
    QString issueToken(const QString &login, const TokenOptions &options = {});
    void expireToken(const QString &token); // access or refresh token
    void revokeToken(const QString &token);
    bool tokenIsValid(const QString &token) const;

    // --- Organisations ---
    qint64 addOrg(const QString &login, const OrgOptions &options = {});
    void setOrgOptions(const QString &org, const OrgOptions &options);
    // role "admin" (owner) or "member"; an empty role removes the membership.
    void setMembership(const QString &org, const QString &login, const QString &role);
    // The installation id GitHub would show, or none when not installed.
    std::optional<qint64> installationId(const QString &org) const;
    // The app installed on a user's personal account; the installation id.
    qint64 installOnUser(const QString &login);
    // An installation listed to one user with a null account, as GitHub
    // lists some enterprise installations; the installation id.
    qint64 addAccountlessInstallation(const QString &visibleTo);
    // A team of the organisation giving its members a role on one repository
    // ("admin", "maintain", "write", "triage" or "read"); the members join
    // the organisation as plain members when they are not in it.
    void addTeamGrant(const QString &org, const QString &team, const QStringList &members,
                      const QString &repo, const QString &role);

    // --- Repositories (direct, no HTTP, no permission checks) ---
    bool createRepoDirect(const QString &org, const QString &name, const RepoOptions &options = {});
    bool repoExists(const QString &org, const QString &name) const;
    bool deleteRepo(const QString &org, const QString &name);
    std::optional<qint64> repoId(const QString &org, const QString &name) const;
    std::optional<QByteArray> fileOnMain(const QString &org, const QString &repo,
                                         const QString &path) const;
    QStringList filesOnMain(const QString &org, const QString &repo) const; // sorted paths
    QString mainHeadSha(const QString &org, const QString &repo) const;     // empty if none
    QString mainTreeSha(const QString &org, const QString &repo) const;
    QStringList commitParents(const QString &org, const QString &repo, const QString &sha) const;
    QString commitMessage(const QString &org, const QString &repo, const QString &sha) const;
    // Raw git object (without the "type size\0" header), as git stores it.
    std::optional<QByteArray> gitObject(const QString &org, const QString &repo,
                                        const QString &sha) const;
    // The protection settings last PUT (the request body as received), or
    // none when main is not protected.
    std::optional<QJsonObject> protectionOf(const QString &org, const QString &repo) const;
    void setProtection(const QString &org, const QString &repo, const QJsonObject &settings);
    void removeProtection(const QString &org, const QString &repo);
    // Tampering: a new commit on main that sets (or, with nullopt, deletes)
    // one file, bypassing protection. Returns the new commit id.
    QString writeFileDirect(const QString &org, const QString &repo, const QString &path,
                            const std::optional<QByteArray> &content,
                            const QString &message = QStringLiteral("Direct change"));
    // role: "admin", "maintain", "write", "triage" or "read"; empty removes.
    void addCollaborator(const QString &org, const QString &repo, const QString &login,
                         const QString &role);
    // Publishes a release of `tag` (EmulatorReleases.cpp); false when the
    // repository does not exist.
    bool addRelease(const QString &org, const QString &repo, const QString &tag,
                    const ReleaseOptions &options = {});

    // --- Teammates: scripted actions of other users, under the rules HTTP callers meet ---
    struct ActionResult {
        int status = 0;
        QJsonValue body;
        QString message() const { return body.toObject().value("message").toString(); }
    };
    // Any REST request as this user, without a token; not counted or recorded.
    ActionResult actAs(const QString &login, const QByteArray &method, const QString &path,
                       const QJsonObject &body = {});
    // A push by a user: one commit on the branch (created from main when
    // missing) setting, or with nullopt deleting, one file, authored and
    // committed by them. Refused as GitHub refuses it: without write access,
    // and on a protected main unless protection lets them (an administrator
    // with enforce_admins off). The new commit id, or empty with the reason
    // in *refusal.
    QString pushAs(const QString &org, const QString &repo, const QString &login,
                   const QString &path, const std::optional<QByteArray> &content,
                   const QString &message = {}, const QString &branch = QStringLiteral("main"),
                   QString *refusal = nullptr);
    struct PullRequestOutcome {
        int number = 0;      // 0: the pull request could not be opened
        QString headSha;     // its last commit
        int mergeStatus = 0; // 0: not merged by anyone
        QString mergeSha;    // what landed on main
        QString message;     // the first refusal met
    };
    // author opens a pull request from a fresh branch changing the files;
    // each approver approves it; merger (empty: nobody) merges it.
    PullRequestOutcome pullRequestAs(const QString &org, const QString &repo, const QString &author,
                                     const QMap<QString, QByteArray> &files,
                                     const QStringList &approvers, const QString &merger = {},
                                     const QString &mergeMethod = QStringLiteral("squash"));
    // Weakens one rule of main's protection as an administrator can:
    // "enforce_admins", "required_pull_request_reviews",
    // "require_code_owner_reviews", "dismiss_stale_reviews",
    // "required_approving_review_count", "required_linear_history",
    // "allow_force_pushes" or "allow_deletions". False for another name or
    // an unprotected main.
    bool weakenProtection(const QString &org, const QString &repo, const QString &rule);
    // Requests counted against the user's hourly limit (304s are free).
    int rateLimitUsed(const QString &login) const;

    // --- OAuth ---
    void setOAuthApp(const OAuthApp &app);
    OAuthApp oauthApp() const;
    void setAutoApprove(bool autoApprove);
    // The user "signed in" in the browser who sees the authorisation page.
    void setAuthorizingUser(const QString &login);
    // Issues an authorisation code as if the user had approved, for tests
    // that start after the browser step.
    // An access token and its refresh token, as the token endpoint would
    // issue them to the OAuth app (its lifetimes apply): {access, refresh}.
    // The refresh token is empty when the app does not use expiring tokens.
    QPair<QString, QString> issueTokenPair(const QString &login);
    QString mintAuthorizationCode(const QString &login, const QString &redirectUri = {},
                                  const QString &codeChallenge = {});

    // --- Instrumentation ---
    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QByteArray &method, const QString &path) const;
    // One request by its index in requests(), without copying the list.
    const RecordedRequest &request(int index) const { return m_requests.at(index); }
    void clearRequests();
    int inFlight() const;
    int peakInFlight() const;
    void resetPeak();
    // method: "GET", ... or "*" / empty for any. pathPattern: an exact path
    // or a pattern where "*" matches within one path segment and "**" across
    // segments (e.g. "/repos/*/*/git/**"). The newest matching fault wins.
    void injectFault(const QByteArray &method, const QString &pathPattern, const Fault &fault);
    void clearFaults();
    void setLatency(int ms); // added to every reply on both hosts; 0 = none

    // Loads a seed file's JSON (format in emulator/README.md); false with a
    // message in *error on a malformed seed.
    bool loadSeed(const QJsonObject &seed, QString *error = nullptr);

signals:
    // A request has been answered (or dropped); index into requests().
    void requestFinished(int index);

private:
    void onRequest(Host host, std::shared_ptr<ghemu::HttpExchange> exchange);
    void finishExchange(const std::shared_ptr<ghemu::HttpExchange> &exchange, int recordIndex);

    std::unique_ptr<ghemu::EmulatorBackend> m_backend;
    ghemu::LoopbackHttpServer *m_apiServer = nullptr;
    ghemu::LoopbackHttpServer *m_webServer = nullptr;
    quint16 m_apiPort = 0;
    quint16 m_webPort = 0;
    QList<RecordedRequest> m_requests;
    struct FaultRule {
        QByteArray method;
        QString pattern;
        Fault fault;
    };
    QList<FaultRule> m_faults;
    qint64 m_recordBase = 0; // requests cleared so far, to find in-flight records
    int m_inFlight = 0;
    int m_peakInFlight = 0;
    int m_latencyMs = 0;
};
