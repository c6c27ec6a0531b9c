#include "GitHubEmulator.h"

#include "EmulatorBackend.h"
#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

Q_LOGGING_CATEGORY(lcEmulator, "keelmark.emulator")

using namespace ghemu;

// --- RecordedRequest and Fault ---------------------------------------------

QByteArray GitHubEmulator::RecordedRequest::header(const QByteArray &name) const {
    const QByteArray lower = name.toLower();
    for (const auto &h : headers) {
        if (h.first == lower)
            return h.second;
    }
    return {};
}

QJsonValue GitHubEmulator::RecordedRequest::json() const {
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Undefined);
    if (doc.isObject())
        return doc.object();
    return doc.array();
}

GitHubEmulator::Fault GitHubEmulator::Fault::latency(int ms, int times) {
    Fault f;
    f.kind = Kind::Latency;
    f.latencyMs = ms;
    f.times = times;
    return f;
}

GitHubEmulator::Fault GitHubEmulator::Fault::fixed(int status, QByteArray body, int times) {
    Fault f;
    f.kind = Kind::FixedResponse;
    f.status = status;
    f.body = std::move(body);
    f.times = times;
    return f;
}

GitHubEmulator::Fault GitHubEmulator::Fault::malformed(int times) {
    Fault f;
    f.kind = Kind::MalformedBody;
    f.times = times;
    return f;
}

GitHubEmulator::Fault GitHubEmulator::Fault::drop(int times) {
    Fault f;
    f.kind = Kind::DropConnection;
    f.times = times;
    return f;
}

GitHubEmulator::Fault GitHubEmulator::Fault::rateLimit(int status, bool secondary, int retryAfter,
                                                       int times) {
    Fault f;
    f.kind = Kind::RateLimit;
    f.status = status;
    f.secondaryRateLimit = secondary;
    f.retryAfterSeconds = retryAfter;
    f.times = times;
    return f;
}

// --- lifecycle -------------------------------------------------------------

GitHubEmulator::GitHubEmulator(QObject *parent)
    : QObject(parent)
    , m_backend(std::make_unique<EmulatorBackend>()) {}

GitHubEmulator::~GitHubEmulator() = default;

bool GitHubEmulator::start(quint16 apiPort, quint16 webPort) {
    if (m_apiServer)
        return m_apiPort != 0 && m_webPort != 0;
    m_apiServer = new LoopbackHttpServer(
        [this](std::shared_ptr<HttpExchange> e) { onRequest(Host::Api, std::move(e)); }, this);
    m_webServer = new LoopbackHttpServer(
        [this](std::shared_ptr<HttpExchange> e) { onRequest(Host::Web, std::move(e)); }, this);
    m_apiPort = m_apiServer->listen(QHostAddress::LocalHost, apiPort);
    m_webPort = m_webServer->listen(QHostAddress::LocalHost, webPort);
    if (m_apiPort == 0 || m_webPort == 0) {
        qCWarning(lcEmulator) << "could not listen on 127.0.0.1 ports" << apiPort << webPort;
        return false;
    }
    m_backend->apiBase = apiUrl().toString();
    m_backend->webBase = webUrl().toString();
    return true;
}

QUrl GitHubEmulator::apiUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_apiPort));
}

QUrl GitHubEmulator::webUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_webPort));
}

// --- request flow ------------------------------------------------------------

static bool pathMatches(const QString &pattern, const QString &path) {
    if (!pattern.contains(QLatin1Char('*')))
        return pattern == path;
    QString re;
    for (int i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) == QLatin1Char('*')) {
            if (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('*')) {
                re += QStringLiteral(".*");
                ++i;
            } else {
                re += QStringLiteral("[^/]*");
            }
        } else {
            re += QRegularExpression::escape(QString(pattern.at(i)));
        }
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(re)).match(path).hasMatch();
}

static HttpReply rateLimitReply(const GitHubEmulator::Fault &fault) {
    HttpReply r;
    r.status = fault.status == 429 ? 429 : 403;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString message =
        fault.secondaryRateLimit
            ? QStringLiteral("You have exceeded a secondary rate limit. Please wait a few minutes "
                             "before you try again. If you reach out to GitHub Support for help, "
                             "please include the request ID EMU0:00000000.")
            : QStringLiteral("API rate limit exceeded for user ID 1. If you reach out to GitHub "
                             "Support for help, please include the request ID EMU0:00000000 and "
                             "timestamp %1.")
                  .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    r.body = QJsonDocument(
                 QJsonObject{{"message", message},
                             {"documentation_url",
                              fault.secondaryRateLimit
                                  ? "https://docs.github.com/rest/overview/rate-limits-for-the-"
                                    "rest-api#about-secondary-rate-limits"
                                  : "https://docs.github.com/rest/overview/rate-limits-for-the-"
                                    "rest-api"},
                             {"status", QString::number(r.status)}})
                 .toJson(QJsonDocument::Compact);
    r.headers = {{"Content-Type", "application/json; charset=utf-8"},
                 {"x-ratelimit-limit", "5000"},
                 {"x-ratelimit-remaining", fault.secondaryRateLimit ? "4990" : "0"},
                 {"x-ratelimit-used", fault.secondaryRateLimit ? "10" : "5000"},
                 {"x-ratelimit-reset", QByteArray::number(now + fault.retryAfterSeconds)},
                 {"x-ratelimit-resource", "core"}};
    if (fault.secondaryRateLimit)
        r.headers.append({"retry-after", QByteArray::number(fault.retryAfterSeconds)});
    return r;
}

void GitHubEmulator::onRequest(Host host, std::shared_ptr<HttpExchange> exchange) {
    RecordedRequest rec;
    rec.host = host;
    rec.method = exchange->method;
    rec.path = exchange->path;
    rec.rawPath = exchange->rawPath;
    rec.query = exchange->query;
    rec.headers = exchange->headers;
    rec.body = exchange->body;
    rec.receivedAt = QDateTime::currentDateTimeUtc();
    m_requests.append(rec);
    const qint64 serial = m_recordBase + m_requests.size() - 1;
    ++m_inFlight;
    m_peakInFlight = std::max(m_peakInFlight, m_inFlight);

    std::optional<Fault> fault;
    for (int i = int(m_faults.size()) - 1; i >= 0; --i) {
        FaultRule &rule = m_faults[i];
        const bool methodOk = rule.method.isEmpty() || rule.method == "*" ||
                              rule.method.compare(exchange->method, Qt::CaseInsensitive) == 0;
        if (!methodOk || !pathMatches(rule.pattern, exchange->path))
            continue;
        fault = rule.fault;
        if (rule.fault.times > 0 && --rule.fault.times == 0)
            m_faults.removeAt(i);
        break;
    }

    HttpReply reply;
    if (fault && fault->kind == Fault::Kind::FixedResponse) {
        reply.status = fault->status;
        reply.body = fault->body;
        reply.headers = fault->headers;
        if (reply.header("content-type").isEmpty())
            reply.setHeader("Content-Type", "application/json; charset=utf-8");
    } else if (fault && fault->kind == Fault::Kind::RateLimit) {
        reply = rateLimitReply(*fault);
    } else {
        reply =
            host == Host::Api ? m_backend->handleApi(*exchange) : m_backend->handleWeb(*exchange);
    }
    if (fault && fault->kind == Fault::Kind::MalformedBody)
        reply.body = reply.body.isEmpty() ? QByteArray("{")
                                          : reply.body.left(reply.body.size() / 2) + "\x01<";

    const int delay =
        m_latencyMs + (fault && fault->kind == Fault::Kind::Latency ? fault->latencyMs : 0);
    const bool drop = fault && fault->kind == Fault::Kind::DropConnection;
    auto deliver = [this, exchange, reply, drop, serial]() {
        int status = 0;
        if (drop) {
            exchange->sendTruncatedAndDrop(reply);
        } else if (exchange->send(reply)) {
            status = reply.status;
        }
        --m_inFlight;
        const qint64 index = serial - m_recordBase;
        if (index >= 0 && index < m_requests.size()) {
            m_requests[index].status = status;
            emit requestFinished(int(index));
        } else {
            emit requestFinished(-1);
        }
    };
    if (delay > 0)
        QTimer::singleShot(delay, this, deliver);
    else
        deliver();
}

// --- users and tokens --------------------------------------------------------

qint64 GitHubEmulator::addUser(const QString &login, const QString &name) {
    return m_backend->addUser(login, name);
}

std::optional<qint64> GitHubEmulator::userId(const QString &login) const {
    if (const EmuUser *u = m_backend->user(login))
        return u->id;
    return std::nullopt;
}

QString GitHubEmulator::issueToken(const QString &login, const TokenOptions &options) {
    if (!m_backend->user(login))
        addUser(login);
    return m_backend->issueToken(EmulatorBackend::key(login), options);
}

void GitHubEmulator::expireToken(const QString &token) {
    const auto it = m_backend->tokens.find(token);
    if (it != m_backend->tokens.end())
        it->second.expiresAt = QDateTime::currentDateTimeUtc().addSecs(-1);
}

void GitHubEmulator::revokeToken(const QString &token) {
    const auto it = m_backend->tokens.find(token);
    if (it != m_backend->tokens.end())
        it->second.revoked = true;
}

bool GitHubEmulator::tokenIsValid(const QString &token) const {
    const auto it = m_backend->tokens.find(token);
    return it != m_backend->tokens.end() && it->second.usable(QDateTime::currentDateTimeUtc());
}

// --- organisations -------------------------------------------------------------

qint64 GitHubEmulator::addOrg(const QString &login, const OrgOptions &options) {
    return m_backend->addOrg(login, options);
}

void GitHubEmulator::setOrgOptions(const QString &org, const OrgOptions &options) {
    if (EmuOrg *o = m_backend->org(org))
        o->options = options;
}

void GitHubEmulator::setMembership(const QString &org, const QString &login, const QString &role) {
    EmuOrg *o = m_backend->org(org);
    if (!o)
        return;
    if (!m_backend->user(login))
        addUser(login);
    if (role.isEmpty())
        o->members.remove(EmulatorBackend::key(login));
    else
        o->members.insert(EmulatorBackend::key(login), role);
}

std::optional<qint64> GitHubEmulator::installationId(const QString &org) const {
    const EmuOrg *o = m_backend->org(org);
    if (!o || !o->options.appInstalled)
        return std::nullopt;
    return o->installationId;
}

qint64 GitHubEmulator::installOnUser(const QString &login) {
    addUser(login);
    EmuUser *u = m_backend->user(login);
    if (u->installationId == 0)
        u->installationId = ++m_backend->nextId;
    return u->installationId;
}

qint64 GitHubEmulator::addAccountlessInstallation(const QString &visibleTo) {
    addUser(visibleTo);
    const qint64 id = ++m_backend->nextId;
    m_backend->accountlessInstallations[id] = EmulatorBackend::key(visibleTo);
    return id;
}

void GitHubEmulator::addTeamGrant(const QString &org, const QString &team,
                                  const QStringList &members, const QString &repo,
                                  const QString &role) {
    EmuOrg *o = m_backend->org(org);
    const EmuRepo *r = m_backend->repo(org, repo);
    if (!o || !r)
        return;
    auto it = std::find_if(o->teams.begin(), o->teams.end(),
                           [&](const EmuTeam &t) { return t.name == team; });
    if (it == o->teams.end())
        it = o->teams.insert(o->teams.end(), EmuTeam{team, {}, {}});
    for (const QString &login : members) {
        if (!o->members.contains(EmulatorBackend::key(login)))
            setMembership(org, login, QStringLiteral("member"));
        if (!it->members.contains(EmulatorBackend::key(login)))
            it->members.append(EmulatorBackend::key(login));
    }
    it->roles.insert(r->id, role);
}

// --- repositories -----------------------------------------------------------

bool GitHubEmulator::createRepoDirect(const QString &org, const QString &name,
                                      const RepoOptions &options) {
    EmuOrg *o = m_backend->org(org);
    if (!o)
        return false;
    return m_backend->createRepo(*o, name, options.isPrivate, options.autoInit, options.description,
                                 nullptr) != nullptr;
}

bool GitHubEmulator::repoExists(const QString &org, const QString &name) const {
    return m_backend->repo(org, name) != nullptr;
}

bool GitHubEmulator::deleteRepo(const QString &org, const QString &name) {
    return m_backend->repos.erase(EmulatorBackend::key(org) + QLatin1Char('/') +
                                  EmulatorBackend::key(name)) > 0;
}

std::optional<qint64> GitHubEmulator::repoId(const QString &org, const QString &name) const {
    if (const EmuRepo *r = m_backend->repo(org, name))
        return r->id;
    return std::nullopt;
}

std::optional<QByteArray> GitHubEmulator::fileOnMain(const QString &org, const QString &repo,
                                                     const QString &path) const {
    const QString tree = mainTreeSha(org, repo);
    if (tree.isEmpty())
        return std::nullopt;
    const EmuRepo *r = m_backend->repo(org, repo);
    const auto entry = r->objects.lookup(tree, path);
    if (!entry)
        return std::nullopt;
    return r->objects.blob(entry->sha);
}

QStringList GitHubEmulator::filesOnMain(const QString &org, const QString &repo) const {
    const QString tree = mainTreeSha(org, repo);
    if (tree.isEmpty())
        return {};
    return m_backend->repo(org, repo)->objects.files(tree).keys();
}

QString GitHubEmulator::mainHeadSha(const QString &org, const QString &repo) const {
    const EmuRepo *r = m_backend->repo(org, repo);
    return r ? r->mainHead() : QString();
}

QString GitHubEmulator::mainTreeSha(const QString &org, const QString &repo) const {
    const EmuRepo *r = m_backend->repo(org, repo);
    if (!r || r->mainHead().isEmpty())
        return {};
    return r->objects.commit(r->mainHead())->tree;
}

QStringList GitHubEmulator::commitParents(const QString &org, const QString &repo,
                                          const QString &sha) const {
    const EmuRepo *r = m_backend->repo(org, repo);
    const auto c = r ? r->objects.commit(sha) : std::nullopt;
    return c ? c->parents : QStringList();
}

QString GitHubEmulator::commitMessage(const QString &org, const QString &repo,
                                      const QString &sha) const {
    const EmuRepo *r = m_backend->repo(org, repo);
    const auto c = r ? r->objects.commit(sha) : std::nullopt;
    return c ? c->message : QString();
}

std::optional<QByteArray> GitHubEmulator::gitObject(const QString &org, const QString &repo,
                                                    const QString &sha) const {
    const EmuRepo *r = m_backend->repo(org, repo);
    return r ? r->objects.raw(sha) : std::nullopt;
}

std::optional<QJsonObject> GitHubEmulator::protectionOf(const QString &org,
                                                        const QString &repo) const {
    const EmuRepo *r = m_backend->repo(org, repo);
    return r ? r->protection : std::nullopt;
}

void GitHubEmulator::setProtection(const QString &org, const QString &repo,
                                   const QJsonObject &settings) {
    if (EmuRepo *r = m_backend->repo(org, repo))
        r->protection = settings;
}

void GitHubEmulator::removeProtection(const QString &org, const QString &repo) {
    if (EmuRepo *r = m_backend->repo(org, repo))
        r->protection.reset();
}

QString GitHubEmulator::writeFileDirect(const QString &org, const QString &repo,
                                        const QString &path,
                                        const std::optional<QByteArray> &content,
                                        const QString &message) {
    EmuRepo *r = m_backend->repo(org, repo);
    if (!r)
        return {};
    GitTreeChange change{path, QStringLiteral("100644"), std::nullopt};
    if (content)
        change.sha = r->objects.putBlob(*content);
    else if (!fileOnMain(org, repo, path))
        return {};
    return m_backend->commitOnMain(*r, {change}, message, nullptr);
}

// --- teammates ------------------------------------------------------------------

GitHubEmulator::ActionResult GitHubEmulator::actAs(const QString &login, const QByteArray &method,
                                                   const QString &path, const QJsonObject &body) {
    const HttpReply reply = m_backend->actAs(
        EmulatorBackend::key(login), method, path,
        body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact));
    const QJsonDocument doc = QJsonDocument::fromJson(reply.body);
    return {reply.status, doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object())};
}

QString GitHubEmulator::pushAs(const QString &org, const QString &repo, const QString &login,
                               const QString &path, const std::optional<QByteArray> &content,
                               const QString &message, const QString &branch, QString *refusal) {
    const auto refuse = [&](const QString &why) {
        if (refusal)
            *refusal = why;
        return QString();
    };
    EmuRepo *r = m_backend->repo(org, repo);
    const EmuUser *u = m_backend->user(login);
    if (!r || !u || r->mainHead().isEmpty())
        return refuse(QStringLiteral("Not Found"));
    if (m_backend->accessOf(*r, u) < Access::Write)
        return refuse(QStringLiteral("Permission to %1 denied to %2.").arg(r->fullName(), login));
    const QString ref = QStringLiteral("heads/") + branch;
    const QString parent = r->refs.value(ref, r->mainHead());
    if (const auto why = m_backend->pushRefusal(*r, ref, u, true))
        return refuse(*why);
    QString err;
    const auto tree = r->objects.applyChanges(
        r->objects.commit(parent)->tree,
        {{path, QStringLiteral("100644"),
          content ? std::optional(r->objects.putBlob(*content)) : std::nullopt}},
        &err);
    if (!tree)
        return refuse(err);
    const QDateTime now =
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    GitCommit c;
    c.tree = *tree;
    c.parents = {parent};
    c.author = {u->name, u->email(), now};
    c.committer = c.author;
    c.message = message.isEmpty() ? QStringLiteral("Update %1").arg(path) : message;
    const QString sha = r->objects.putCommit(c);
    r->refs[ref] = sha;
    r->pushedAt = QDateTime::currentDateTimeUtc();
    m_backend->dismissStaleReviews(*r, branch);
    return sha;
}

GitHubEmulator::PullRequestOutcome
GitHubEmulator::pullRequestAs(const QString &org, const QString &repo, const QString &author,
                              const QMap<QString, QByteArray> &files, const QStringList &approvers,
                              const QString &merger, const QString &mergeMethod) {
    PullRequestOutcome out;
    const EmuRepo *r = m_backend->repo(org, repo);
    if (!r)
        return out;
    const QString branch =
        QStringLiteral("%1/change-%2").arg(author.toLower()).arg(r->pulls.size() + 1);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        out.headSha = pushAs(org, repo, author, it.key(), it.value(), {}, branch, &out.message);
        if (out.headSha.isEmpty())
            return out;
    }
    const QString base = QStringLiteral("/repos/%1/%2").arg(org, repo);
    const ActionResult opened = actAs(author, "POST", base + QStringLiteral("/pulls"),
                                      {{"title", QStringLiteral("Change by %1").arg(author)},
                                       {"head", branch},
                                       {"base", "main"}});
    if (opened.status != 201) {
        out.message = opened.message();
        return out;
    }
    out.number = opened.body.toObject().value("number").toInt();
    const QString pull = base + QStringLiteral("/pulls/") + QString::number(out.number);
    for (const QString &approver : approvers) {
        const ActionResult review =
            actAs(approver, "POST", pull + QStringLiteral("/reviews"), {{"event", "APPROVE"}});
        if (review.status != 200 && out.message.isEmpty())
            out.message = review.body.toObject().value("errors").toArray().at(0).toString();
    }
    if (merger.isEmpty())
        return out;
    const ActionResult merged =
        actAs(merger, "PUT", pull + QStringLiteral("/merge"), {{"merge_method", mergeMethod}});
    out.mergeStatus = merged.status;
    if (merged.status == 200)
        out.mergeSha = merged.body.toObject().value("sha").toString();
    else if (out.message.isEmpty())
        out.message = merged.message();
    return out;
}

bool GitHubEmulator::weakenProtection(const QString &org, const QString &repo,
                                      const QString &rule) {
    EmuRepo *r = m_backend->repo(org, repo);
    if (!r || !r->protection)
        return false;
    QJsonObject &p = *r->protection;
    QJsonObject reviews = p.value("required_pull_request_reviews").toObject();
    static const QMap<QString, QJsonValue> topLevel{
        {"enforce_admins", false},
        {"required_pull_request_reviews", QJsonValue::Null},
        {"required_linear_history", false},
        {"allow_force_pushes", true},
        {"allow_deletions", true}};
    static const QMap<QString, QJsonValue> reviewRules{{"require_code_owner_reviews", false},
                                                       {"dismiss_stale_reviews", false},
                                                       {"required_approving_review_count", 0}};
    if (topLevel.contains(rule)) {
        p.insert(rule, topLevel.value(rule));
        return true;
    }
    if (!reviewRules.contains(rule) || !p.value("required_pull_request_reviews").isObject())
        return false;
    reviews.insert(rule, reviewRules.value(rule));
    p.insert("required_pull_request_reviews", reviews);
    return true;
}

int GitHubEmulator::rateLimitUsed(const QString &login) const {
    const auto it = m_backend->rateUsed.find(EmulatorBackend::key(login));
    return it == m_backend->rateUsed.end() ? 0 : it->second;
}

void GitHubEmulator::addCollaborator(const QString &org, const QString &repo, const QString &login,
                                     const QString &role) {
    EmuRepo *r = m_backend->repo(org, repo);
    if (!r)
        return;
    if (!m_backend->user(login))
        addUser(login);
    if (role.isEmpty())
        r->collaborators.remove(EmulatorBackend::key(login));
    else
        r->collaborators.insert(EmulatorBackend::key(login), role);
}

// --- OAuth -------------------------------------------------------------------

void GitHubEmulator::setOAuthApp(const OAuthApp &app) {
    m_backend->app = app;
}

GitHubEmulator::OAuthApp GitHubEmulator::oauthApp() const {
    return m_backend->app;
}

void GitHubEmulator::setAutoApprove(bool autoApprove) {
    m_backend->autoApprove = autoApprove;
}

void GitHubEmulator::setAuthorizingUser(const QString &login) {
    if (!login.isEmpty() && !m_backend->user(login))
        addUser(login);
    m_backend->authorizingUser = EmulatorBackend::key(login);
}

QPair<QString, QString> GitHubEmulator::issueTokenPair(const QString &login) {
    if (!m_backend->user(login))
        addUser(login);
    const QJsonObject reply =
        m_backend->issueTokenPair(EmulatorBackend::key(login), m_backend->app.clientId);
    return {reply.value("access_token").toString(), reply.value("refresh_token").toString()};
}

QString GitHubEmulator::mintAuthorizationCode(const QString &login, const QString &redirectUri,
                                              const QString &codeChallenge) {
    if (!m_backend->user(login))
        addUser(login);
    const QString code = m_backend->randomToken(QString(), 20).toLower();
    m_backend->codes[code] = EmuAuthCode{m_backend->app.clientId,
                                         EmulatorBackend::key(login),
                                         redirectUri,
                                         codeChallenge,
                                         QDateTime::currentDateTimeUtc().addSecs(600),
                                         false};
    return code;
}

// --- instrumentation ---------------------------------------------------------

QList<GitHubEmulator::RecordedRequest> GitHubEmulator::requests() const {
    return m_requests;
}

QList<GitHubEmulator::RecordedRequest> GitHubEmulator::requests(const QByteArray &method,
                                                                const QString &path) const {
    QList<RecordedRequest> out;
    for (const auto &r : m_requests) {
        if ((method.isEmpty() || method == "*" || r.method == method) && pathMatches(path, r.path))
            out.append(r);
    }
    return out;
}

void GitHubEmulator::clearRequests() {
    m_recordBase += m_requests.size();
    m_requests.clear();
}

int GitHubEmulator::inFlight() const {
    return m_inFlight;
}

int GitHubEmulator::peakInFlight() const {
    return m_peakInFlight;
}

void GitHubEmulator::resetPeak() {
    m_peakInFlight = m_inFlight;
}

void GitHubEmulator::injectFault(const QByteArray &method, const QString &pathPattern,
                                 const Fault &fault) {
    m_faults.append(FaultRule{method.toUpper(), pathPattern, fault});
}

void GitHubEmulator::clearFaults() {
    m_faults.clear();
}

void GitHubEmulator::setLatency(int ms) {
    m_latencyMs = std::max(0, ms);
}
