#pragma once

#include "GitHubEmulator.h"
#include "GitObjectStore.h"
#include "HttpExchange.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>

#include <map>
#include <optional>

namespace ghemu {

struct EmuUser {
    qint64 id = 0;
    QString login;
    QString name;
    qint64 installationId = 0; // the app on the personal account; 0 = not installed
    QString email() const;
};

struct EmuToken {
    QString text;
    QString userKey;
    QDateTime expiresAt; // invalid = never
    bool appUser = true;
    bool refresh = false;
    bool revoked = false;
    QString clientId;
    QString partner; // refresh token <-> its access token

    bool usable(const QDateTime &now) const {
        return !revoked && (!expiresAt.isValid() || now < expiresAt);
    }
};

// A team grants its members a role on some repositories of its organisation.
struct EmuTeam {
    QString name;
    QStringList members;         // user keys
    QMap<qint64, QString> roles; // repository id -> role name
};

struct EmuOrg {
    qint64 id = 0;
    QString login;
    GitHubEmulator::OrgOptions options;
    QMap<QString, QString> members; // user key -> "admin" | "member"
    qint64 installationId = 0;
    QList<EmuTeam> teams;
};

struct EmuReview {
    qint64 id = 0;
    QString userKey;
    QString state; // APPROVED, CHANGES_REQUESTED, COMMENTED or DISMISSED
    QString body;
    QString commitId; // the head the review was given on
    QDateTime submittedAt;
};

struct EmuPull {
    int number = 0;
    qint64 id = 0;
    QString title;
    QString body;
    QString headRef; // branch names
    QString baseRef;
    QString userKey;
    bool open = true;
    QString closedHeadSha; // the head when merged or closed; open ones follow the branch
    QDateTime createdAt;
    QDateTime closedAt;
    QDateTime mergedAt; // invalid = not merged
    QString mergedBy;   // user key
    QString mergeCommitSha;
    QStringList commits; // the pull request's own commits, as merged
    QStringList landed;  // what merging put on the base (merge, squash or rebased commits)
    QList<EmuReview> reviews;
};

// A published release; the newest one added that is neither a draft nor a
// pre-release is the latest.
struct EmuRelease {
    qint64 id = 0;
    QString tagName;
    QString name;
    QString body;
    bool draft = false;
    bool prerelease = false;
    QDateTime createdAt;
};

struct EmuRepo {
    qint64 id = 0;
    QString owner; // canonical organisation login
    QString name;
    bool isPrivate = true;
    QString description;
    QDateTime createdAt;
    QDateTime pushedAt;
    GitObjectStore objects;
    QMap<QString, QString> refs; // "heads/main" -> commit id
    std::optional<QJsonObject> protection;
    QMap<QString, QString> collaborators; // user key -> role name
    QList<EmuPull> pulls;                 // by number, oldest first
    QList<EmuRelease> releases;           // oldest first

    QString fullName() const { return owner + QLatin1Char('/') + name; }
    QString mainHead() const { return refs.value(QStringLiteral("heads/main")); }
};

struct EmuAuthCode {
    QString clientId;
    QString userKey;
    QString redirectUri;
    QString codeChallenge;
    QDateTime expiresAt;
    bool used = false;
};

struct EmuPendingAuthorization {
    QString clientId;
    QString redirectUri;
    QString state;
    QString codeChallenge;
    QString userKey;
};

// Permission levels on a repository, lowest first.
enum class Access { None, Read, Triage, Write, Maintain, Admin };

// Everything the emulator knows, and the answers to requests on both hosts.
// Single-threaded: it is only touched from the thread of GitHubEmulator.
class EmulatorBackend {
public:
    EmulatorBackend();

    QString apiBase; // "http://127.0.0.1:N"
    QString webBase;

    HttpReply handleApi(const HttpExchange &request);
    HttpReply handleWeb(const HttpExchange &request);

    // --- state ---
    std::map<QString, EmuUser> users;     // by lower-case login
    std::map<QString, EmuToken> tokens;   // by token text
    std::map<QString, EmuOrg> orgs;       // by lower-case login
    std::map<QString, EmuRepo> repos;     // by lower-case "owner/name"
    std::map<QString, qint64> movedRepos; // former lower-case "owner/name" -> repository id
    std::map<qint64, QString> accountlessInstallations; // installation id -> user key
    std::map<QString, EmuAuthCode> codes;
    std::map<QString, EmuPendingAuthorization> pending;
    GitHubEmulator::OAuthApp app;
    bool autoApprove = false;
    QString authorizingUser;         // user key
    std::map<QString, int> rateUsed; // user key (or "") -> requests this hour
    QDateTime rateWindowStart;
    qint64 nextId = 1000;
    qint64 requestCounter = 0;

    static QString key(const QString &login) { return login.toLower(); }
    EmuUser *user(const QString &login);
    EmuOrg *org(const QString &login);
    EmuRepo *repo(const QString &owner, const QString &name);
    EmuRepo *repoById(qint64 id);
    // The account whose noreply address signed a commit, if any.
    const EmuUser *userByEmail(const QString &email) const;
    // A branch or tag name, a full commit id or an unambiguous prefix of
    // one; empty when nothing matches.
    static QString resolveCommit(const EmuRepo &repo, const QString &ref);

    qint64 addUser(const QString &login, const QString &name);
    QString issueToken(const QString &userKey, const GitHubEmulator::TokenOptions &options,
                       const QString &clientId = {});
    qint64 addOrg(const QString &login, const GitHubEmulator::OrgOptions &options);
    EmuRepo *createRepo(EmuOrg &org, const QString &name, bool isPrivate, bool autoInit,
                        const QString &description, const EmuUser *creator);
    QString commitOnMain(EmuRepo &repo, const QList<GitTreeChange> &changes, const QString &message,
                         const EmuUser *author);
    // The highest role from every grant (what role_name reports), and the
    // role without team grants (what permissions reports).
    Access accessOf(const EmuRepo &repo, const EmuUser *user) const;
    Access baseAccessOf(const EmuRepo &repo, const EmuUser *user) const;
    QJsonObject issueTokenPair(const QString &userKey, const QString &clientId);
    // A REST request made as a user without a token (the library's scripted
    // teammates): every rule applies, nothing is counted or recorded.
    HttpReply actAs(const QString &userKey, const QByteArray &method, const QString &path,
                    const QByteArray &body);
    // Why protection refuses moving a branch, or none when it allows it.
    std::optional<QString> pushRefusal(const EmuRepo &repo, const QString &ref, const EmuUser *user,
                                       bool fastForward) const;
    // Approvals given on an earlier head stop counting once the head moves,
    // when the base's protection says so.
    void dismissStaleReviews(EmuRepo &repo, const QString &branch);
    QString randomToken(const QString &prefix, int length) const;

private:
    // --- REST ---
    struct Caller {
        EmuUser *user = nullptr;
        EmuToken *token = nullptr;
    };
    // A request on one repository, with what the route's wildcards matched.
    struct RepoCall {
        const HttpExchange &req;
        const Caller &caller;
        EmuRepo &repo;
        QStringList args;
    };
    struct RepoRoute; // EmulatorRoutes.cpp
    HttpReply routeApi(const HttpExchange &req, const Caller &caller);
    HttpReply routeRepo(const HttpExchange &req, const Caller &caller, EmuRepo &repo,
                        const QStringList &rest);
    HttpReply movedRepo(const HttpExchange &req, const Caller &caller, const QStringList &seg);
    HttpReply getRepo(const RepoCall &call);
    HttpReply updateRepo(const RepoCall &call);
    HttpReply deleteRepo(const RepoCall &call);
    HttpReply listBranches(const RepoCall &call);
    HttpReply getBranch(const RepoCall &call);
    std::optional<HttpReply> protectionRefusal(const RepoCall &call);
    std::optional<HttpReply> anonymousRefusal(const RepoCall &call);
    HttpReply getUser(const Caller &caller);
    HttpReply getInstallations(const HttpExchange &req, const Caller &caller);
    HttpReply getUserOrgs(const HttpExchange &req, const Caller &caller);
    HttpReply getMembership(const Caller &caller, const QString &orgLogin, const QString &username);
    HttpReply createOrgRepo(const HttpExchange &req, const Caller &caller, const QString &orgLogin);
    HttpReply getRef(const EmuRepo &repo, const QString &ref);
    HttpReply updateRef(const HttpExchange &req, const Caller &caller, EmuRepo &repo,
                        const QString &ref);
    HttpReply createRef(const HttpExchange &req, EmuRepo &repo);
    HttpReply getCommit(const EmuRepo &repo, const QString &sha);
    HttpReply createCommit(const HttpExchange &req, const Caller &caller, EmuRepo &repo);
    HttpReply getTree(const HttpExchange &req, const EmuRepo &repo, const QString &sha);
    HttpReply createTree(const HttpExchange &req, EmuRepo &repo);
    HttpReply getBlob(const EmuRepo &repo, const QString &sha);
    HttpReply createBlob(const HttpExchange &req, EmuRepo &repo);
    HttpReply getContents(const HttpExchange &req, const EmuRepo &repo, const QString &path);
    HttpReply listCollaborators(const HttpExchange &req, const EmuRepo &repo);
    HttpReply compare(const RepoCall &call);
    HttpReply createPull(const RepoCall &call);
    HttpReply listPulls(const RepoCall &call);
    HttpReply getPull(const RepoCall &call);
    HttpReply createReview(const RepoCall &call);
    HttpReply listReviews(const RepoCall &call);
    HttpReply mergePull(const RepoCall &call);
    HttpReply commitPulls(const RepoCall &call);
    HttpReply getCommit(const RepoCall &call);
    QJsonArray fileChanges(const EmuRepo &r, const QString &from, const QString &to,
                           const QString &base, const QString &head) const;
    EmuPull *pullOf(EmuRepo &repo, const QString &number);
    QString pullHead(const EmuRepo &repo, const EmuPull &pull) const;
    std::optional<QString> mergeRefusal(const EmuRepo &repo, const EmuPull &pull,
                                        const EmuUser *merger, const QString &method) const;
    QSet<QString> codeOwners(const EmuRepo &repo, const QString &tree, const QString &path) const;
    QJsonObject pullJson(const EmuRepo &repo, const EmuPull &pull, bool full) const;
    QJsonObject reviewJson(const EmuRepo &repo, const EmuPull &pull, const EmuReview &review) const;
    HttpReply getLatestRelease(const RepoCall &call); // EmulatorReleases.cpp
    HttpReply getProtection(const EmuRepo &repo);
    HttpReply putProtection(const HttpExchange &req, EmuRepo &repo);
    HttpReply deleteProtection(EmuRepo &repo);

    // --- JSON shapes ---
    QJsonObject userJson(const EmuUser &user) const;
    QJsonObject orgSimpleJson(const EmuOrg &org) const;
    QJsonObject installationJson(qint64 id, const QJsonValue &account) const;
    QJsonObject repoJson(const EmuRepo &repo, const EmuUser *viewer) const;
    QJsonObject commitJson(const EmuRepo &repo, const QString &sha, const GitCommit &commit) const;
    QJsonObject refJson(const EmuRepo &repo, const QString &ref) const;
    // A commit as the repository commit endpoints show it: git data under
    // "commit", the GitHub accounts behind its signatures beside it.
    QJsonObject repoCommitJson(const EmuRepo &repo, const QString &sha) const;
    QJsonObject protectionJson(const EmuRepo &repo) const;
    QString repoApiUrl(const EmuRepo &repo) const;

    // --- replies ---
    HttpReply json(int status, const QJsonDocument &doc) const;
    HttpReply error(int status, const QString &message, const QString &docPath) const;
    HttpReply notFound(const QString &docPath = QStringLiteral("rest")) const;
    HttpReply validation(const QString &message, const QString &docPath) const;
    // GitHub's 422 with its list of what was wrong.
    HttpReply unprocessable(const QString &message, const QJsonArray &errors,
                            const QString &docPath) const;
    void addCommonHeaders(HttpReply &reply, const Caller &caller, bool counted = true);
    bool answerConditionally(const HttpExchange &req, HttpReply &reply) const;

    // --- web ---
    HttpReply authorizePage(const HttpExchange &req);
    HttpReply authorizeDecision(const HttpExchange &req);
    HttpReply accessToken(const HttpExchange &req);
    // Requests the OAuth app makes as itself (HTTP basic with its client id
    // and secret) rather than as a user; nothing when `req` is not one.
    std::optional<HttpReply> routeAppRequest(const HttpExchange &req);
    HttpReply deleteGrant(const HttpExchange &req, const QString &clientId);
    HttpReply tokenReply(const HttpExchange &req, const QJsonObject &body) const;
    HttpReply tokenError(const HttpExchange &req, const QString &error, const QString &description,
                         const QString &anchor) const;
    bool redirectAllowed(const QString &redirectUri) const;
    HttpReply html(int status, const QString &title, const QString &bodyHtml) const;
    HttpReply redirect(const QUrl &target) const;
};

QByteArray wrapBase64(const QByteArray &data);
// The request body as a JSON object, or none when it is not one.
std::optional<QJsonObject> jsonBody(const HttpExchange &req);

} // namespace ghemu
