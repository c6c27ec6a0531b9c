#include "EmulatorBackend.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

namespace ghemu {

static QString isoDate(const QDateTime &t) {
    return t.toUTC().toString(Qt::ISODate);
}

QString EmuUser::email() const {
    return QStringLiteral("%1+%2@users.noreply.github.com").arg(id).arg(login);
}

QByteArray wrapBase64(const QByteArray &data) {
    // GitHub wraps the content at 60 characters, each line ending in "\n".
    const QByteArray b64 = data.toBase64();
    QByteArray out;
    for (int i = 0; i < b64.size(); i += 60)
        out += b64.mid(i, 60) + '\n';
    return out;
}

std::optional<QJsonObject> jsonBody(const HttpExchange &req) {
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(req.body, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

EmulatorBackend::EmulatorBackend()
    : rateWindowStart(QDateTime::currentDateTimeUtc()) {}

EmuUser *EmulatorBackend::user(const QString &login) {
    const auto it = users.find(key(login));
    return it == users.end() ? nullptr : &it->second;
}

EmuOrg *EmulatorBackend::org(const QString &login) {
    const auto it = orgs.find(key(login));
    return it == orgs.end() ? nullptr : &it->second;
}

EmuRepo *EmulatorBackend::repo(const QString &owner, const QString &name) {
    const auto it = repos.find(key(owner) + QLatin1Char('/') + key(name));
    return it == repos.end() ? nullptr : &it->second;
}

EmuRepo *EmulatorBackend::repoById(qint64 id) {
    for (auto &[k, r] : repos) {
        if (r.id == id)
            return &r;
    }
    return nullptr;
}

const EmuUser *EmulatorBackend::userByEmail(const QString &email) const {
    for (const auto &[k, u] : users) {
        if (u.email().compare(email, Qt::CaseInsensitive) == 0)
            return &u;
    }
    return nullptr;
}

QString EmulatorBackend::resolveCommit(const EmuRepo &r, const QString &ref) {
    for (const QString &prefix : {QStringLiteral("heads/"), QStringLiteral("tags/")}) {
        if (r.refs.contains(prefix + ref))
            return r.refs.value(prefix + ref);
    }
    if (r.objects.typeOf(ref) == QLatin1String("commit"))
        return ref;
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{7,39}$"));
    if (!hex.match(ref).hasMatch())
        return {};
    // Short ids: walk what the refs reach, and refuse an ambiguous prefix.
    QSet<QString> seen;
    QStringList queue = r.refs.values();
    QString found;
    while (!queue.isEmpty()) {
        const QString sha = queue.takeFirst();
        if (seen.contains(sha))
            continue;
        seen.insert(sha);
        if (sha.startsWith(ref)) {
            if (!found.isEmpty())
                return {};
            found = sha;
        }
        if (const auto c = r.objects.commit(sha))
            queue += c->parents;
    }
    return found;
}

qint64 EmulatorBackend::addUser(const QString &login, const QString &name) {
    if (EmuUser *existing = user(login))
        return existing->id;
    EmuUser u;
    u.id = ++nextId;
    u.login = login;
    u.name = name.isEmpty() ? login : name;
    users[key(login)] = u;
    return u.id;
}

QString EmulatorBackend::randomToken(const QString &prefix, int length) const {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString out = prefix;
    for (int i = 0; i < length; ++i)
        out += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(62)]);
    return out;
}

QString EmulatorBackend::issueToken(const QString &userKey,
                                    const GitHubEmulator::TokenOptions &options,
                                    const QString &clientId) {
    EmuToken t;
    t.text = options.fixedToken.isEmpty()
                 ? randomToken(
                       options.appUserToken ? QStringLiteral("ghu_") : QStringLiteral("gho_"), 36)
                 : options.fixedToken;
    t.userKey = userKey;
    t.appUser = options.appUserToken;
    t.clientId = clientId;
    if (options.expiresIn > 0)
        t.expiresAt = QDateTime::currentDateTimeUtc().addSecs(options.expiresIn);
    tokens[t.text] = t;
    return t.text;
}

qint64 EmulatorBackend::addOrg(const QString &login, const GitHubEmulator::OrgOptions &options) {
    if (EmuOrg *existing = org(login)) {
        existing->options = options;
        return existing->id;
    }
    EmuOrg o;
    o.id = ++nextId;
    o.login = login;
    o.options = options;
    o.installationId = ++nextId;
    orgs[key(login)] = o;
    return o.id;
}

EmuRepo *EmulatorBackend::createRepo(EmuOrg &owner, const QString &name, bool isPrivate,
                                     bool autoInit, const QString &description,
                                     const EmuUser *creator) {
    const QString k = key(owner.login) + QLatin1Char('/') + key(name);
    if (repos.count(k))
        return nullptr;
    EmuRepo &r = repos[k];
    r.id = ++nextId;
    r.owner = owner.login;
    r.name = name;
    r.isPrivate = isPrivate;
    r.description = description;
    r.createdAt = QDateTime::currentDateTimeUtc();
    r.pushedAt = r.createdAt;
    if (autoInit) {
        QByteArray readme = "# " + name.toUtf8() + '\n';
        if (!description.isEmpty())
            readme += description.toUtf8() + '\n';
        commitOnMain(
            r, {{QStringLiteral("README.md"), QStringLiteral("100644"), r.objects.putBlob(readme)}},
            QStringLiteral("Initial commit"), creator);
    }
    return &r;
}

QString EmulatorBackend::commitOnMain(EmuRepo &r, const QList<GitTreeChange> &changes,
                                      const QString &message, const EmuUser *author) {
    const QString parent = r.mainHead();
    QString base;
    if (!parent.isEmpty())
        base = r.objects.commit(parent)->tree;
    QString err;
    const auto tree = r.objects.applyChanges(base, changes, &err);
    if (!tree)
        return {};
    GitCommit c;
    c.tree = *tree;
    if (!parent.isEmpty())
        c.parents = {parent};
    const QDateTime now =
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    if (author)
        c.author = {author->name, author->email(), now};
    else
        c.author = {QStringLiteral("GitHub"), QStringLiteral("noreply@github.com"), now};
    c.committer = {QStringLiteral("GitHub"), QStringLiteral("noreply@github.com"), now};
    c.message = message;
    const QString sha = r.objects.putCommit(c);
    r.refs[QStringLiteral("heads/main")] = sha;
    r.pushedAt = QDateTime::currentDateTimeUtc();
    return sha;
}

static Access accessFromRole(const QString &role) {
    if (role == QLatin1String("admin"))
        return Access::Admin;
    if (role == QLatin1String("maintain"))
        return Access::Maintain;
    if (role == QLatin1String("write") || role == QLatin1String("push"))
        return Access::Write;
    if (role == QLatin1String("triage"))
        return Access::Triage;
    if (role == QLatin1String("read") || role == QLatin1String("pull"))
        return Access::Read;
    return Access::None;
}

Access EmulatorBackend::baseAccessOf(const EmuRepo &r, const EmuUser *u) const {
    Access best = r.isPrivate ? Access::None : Access::Read;
    if (!u)
        return best;
    const QString uk = key(u->login);
    const auto o = orgs.find(key(r.owner));
    if (o != orgs.end()) {
        const QString role = o->second.members.value(uk);
        if (role == QLatin1String("admin"))
            return Access::Admin;
        if (!role.isEmpty())
            best = std::max(best, accessFromRole(o->second.options.defaultRepositoryPermission));
    }
    return std::max(best, accessFromRole(r.collaborators.value(uk)));
}

Access EmulatorBackend::accessOf(const EmuRepo &r, const EmuUser *u) const {
    Access best = baseAccessOf(r, u);
    const auto o = orgs.find(key(r.owner));
    if (!u || o == orgs.end())
        return best;
    for (const EmuTeam &team : o->second.teams) {
        if (team.members.contains(key(u->login)))
            best = std::max(best, accessFromRole(team.roles.value(r.id)));
    }
    return best;
}

// --- replies -------------------------------------------------------------

HttpReply EmulatorBackend::json(int status, const QJsonDocument &doc) const {
    HttpReply r;
    r.status = status;
    r.headers = {{"Content-Type", "application/json; charset=utf-8"}};
    r.body = doc.toJson(QJsonDocument::Compact);
    return r;
}

HttpReply EmulatorBackend::error(int status, const QString &message, const QString &docPath) const {
    QJsonObject o{{"message", message},
                  {"documentation_url", QStringLiteral("https://docs.github.com/") + docPath},
                  {"status", QString::number(status)}};
    return json(status, QJsonDocument(o));
}

HttpReply EmulatorBackend::notFound(const QString &docPath) const {
    return error(404, QStringLiteral("Not Found"), docPath);
}

HttpReply EmulatorBackend::validation(const QString &message, const QString &docPath) const {
    return error(422, message, docPath);
}

HttpReply EmulatorBackend::unprocessable(const QString &message, const QJsonArray &errors,
                                         const QString &docPath) const {
    return json(422,
                QJsonDocument(QJsonObject{
                    {"message", message},
                    {"errors", errors},
                    {"documentation_url", QStringLiteral("https://docs.github.com/") + docPath},
                    {"status", "422"}}));
}

void EmulatorBackend::addCommonHeaders(HttpReply &reply, const Caller &caller, bool counted) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (rateWindowStart.secsTo(now) >= 3600) {
        rateWindowStart = now;
        rateUsed.clear();
    }
    const QString who = caller.user ? key(caller.user->login) : QString();
    const int limit = caller.user ? 5000 : 60;
    // A 304 to an authorised request does not count against the limit.
    const int used = counted ? ++rateUsed[who] : rateUsed[who];
    reply.setHeader("x-github-media-type", "github.v3; format=json");
    reply.setHeader("x-github-request-id",
                    QByteArray("EMU0:") +
                        QByteArray::number(requestCounter).rightJustified(8, '0'));
    if (reply.header("x-ratelimit-remaining").isEmpty()) {
        reply.setHeader("x-ratelimit-limit", QByteArray::number(limit));
        reply.setHeader("x-ratelimit-remaining", QByteArray::number(std::max(0, limit - used)));
        reply.setHeader("x-ratelimit-used", QByteArray::number(used));
        reply.setHeader("x-ratelimit-reset",
                        QByteArray::number(rateWindowStart.addSecs(3600).toSecsSinceEpoch()));
        reply.setHeader("x-ratelimit-resource", "core");
    }
    if (reply.status < 400)
        reply.setHeader("x-github-api-version-selected", "2022-11-28");
    if (caller.token && !caller.token->appUser) {
        reply.setHeader("x-oauth-scopes", "repo, admin:org, read:user");
        reply.setHeader("x-accepted-oauth-scopes", "");
    }
}

HttpReply EmulatorBackend::handleApi(const HttpExchange &req) {
    ++requestCounter;
    Caller caller;
    if (req.header("user-agent").isEmpty()) {
        HttpReply r;
        r.status = 403;
        r.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        r.body = "Request forbidden by administrative rules. Please make sure your request has a "
                 "User-Agent header (https://docs.github.com/en/rest/overview/"
                 "resources-in-the-rest-api#user-agent-required). Check "
                 "https://developer.github.com for other possible causes.\n";
        return r;
    }
    if (std::optional<HttpReply> app = routeAppRequest(req)) {
        addCommonHeaders(*app, caller);
        return *app;
    }
    const QByteArray auth = req.header("authorization").trimmed();
    if (!auth.isEmpty()) {
        const int space = auth.indexOf(' ');
        const QByteArray scheme = auth.left(space).toLower();
        const QString text = QString::fromUtf8(auth.mid(space + 1).trimmed());
        const auto it = tokens.find(text);
        const bool ok = space > 0 && (scheme == "bearer" || scheme == "token") &&
                        it != tokens.end() && !it->second.refresh &&
                        it->second.usable(QDateTime::currentDateTimeUtc()) &&
                        users.count(it->second.userKey);
        if (!ok) {
            HttpReply r = error(401, QStringLiteral("Bad credentials"), QStringLiteral("rest"));
            addCommonHeaders(r, caller);
            return r;
        }
        caller.token = &it->second;
        caller.user = &users[it->second.userKey];
    }
    const QByteArray version = req.header("x-github-api-version");
    if (!version.isEmpty() && version != "2022-11-28" && version != "2026-03-10") {
        HttpReply r =
            error(400,
                  QStringLiteral(
                      "The version you specified in the \"X-GitHub-API-Version\" request header, "
                      "\"%1\", is not a supported version. The following versions are currently "
                      "supported: \"2022-11-28\" (most recent).")
                      .arg(QString::fromUtf8(version)),
                  QStringLiteral("rest/overview/api-versions"));
        addCommonHeaders(r, caller);
        return r;
    }
    HttpReply r = routeApi(req, caller);
    addCommonHeaders(r, caller, !answerConditionally(req, r));
    return r;
}

// GETs carry an entity tag; a client that already holds the same
// representation gets 304 with no body.
bool EmulatorBackend::answerConditionally(const HttpExchange &req, HttpReply &reply) const {
    if (req.method != "GET" || reply.status != 200)
        return false;
    const QByteArray tag =
        "W/\"" + QCryptographicHash::hash(reply.body, QCryptographicHash::Sha256).toHex() + '"';
    reply.setHeader("ETag", tag);
    const auto opaque = [](QByteArray t) { return t.startsWith("W/") ? t.mid(2) : t; };
    for (const QByteArray &candidate : req.header("if-none-match").split(',')) {
        const QByteArray wanted = candidate.trimmed();
        if (wanted == "*" || (!wanted.isEmpty() && opaque(wanted) == opaque(tag))) {
            reply.status = 304;
            reply.body.clear();
            return true;
        }
    }
    return false;
}

// --- JSON shapes -----------------------------------------------------------

QJsonObject EmulatorBackend::userJson(const EmuUser &u) const {
    const QString api = apiBase + QStringLiteral("/users/") + u.login;
    return {
        {"login", u.login},
        {"id", u.id},
        {"node_id", QString::fromLatin1(("04:User" + QByteArray::number(u.id)).toBase64())},
        {"avatar_url", QStringLiteral("https://avatars.githubusercontent.com/u/%1?v=4").arg(u.id)},
        {"url", api},
        {"html_url", webBase + QLatin1Char('/') + u.login},
        {"repos_url", api + QStringLiteral("/repos")},
        {"type", "User"},
        {"site_admin", false},
        {"user_view_type", "public"}};
}

QJsonObject EmulatorBackend::orgSimpleJson(const EmuOrg &o) const {
    const QString api = apiBase + QStringLiteral("/orgs/") + o.login;
    return {
        {"login", o.login},
        {"id", o.id},
        {"node_id", QString::fromLatin1(("04:Organization" + QByteArray::number(o.id)).toBase64())},
        {"url", api},
        {"repos_url", api + QStringLiteral("/repos")},
        {"avatar_url", QStringLiteral("https://avatars.githubusercontent.com/u/%1?v=4").arg(o.id)},
        {"description", QJsonValue::Null}};
}

QString EmulatorBackend::repoApiUrl(const EmuRepo &r) const {
    return apiBase + QStringLiteral("/repos/") + r.fullName();
}

QJsonObject EmulatorBackend::repoJson(const EmuRepo &r, const EmuUser *viewer) const {
    const Access a = accessOf(r, viewer);
    const auto o = orgs.find(key(r.owner));
    QJsonObject owner;
    if (o != orgs.end()) {
        owner = orgSimpleJson(o->second);
        owner.insert("type", "Organization");
        owner.insert("html_url", webBase + QLatin1Char('/') + r.owner);
    }
    const QString api = repoApiUrl(r);
    QJsonObject j{
        {"id", r.id},
        {"node_id", QString::fromLatin1(("010:Repository" + QByteArray::number(r.id)).toBase64())},
        {"name", r.name},
        {"full_name", r.fullName()},
        {"private", r.isPrivate},
        {"owner", owner},
        {"html_url", webBase + QLatin1Char('/') + r.fullName()},
        {"description",
         r.description.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(r.description)},
        {"fork", false},
        {"url", api},
        {"git_refs_url", api + QStringLiteral("/git/refs{/sha}")},
        {"contents_url", api + QStringLiteral("/contents/{+path}")},
        {"collaborators_url", api + QStringLiteral("/collaborators{/collaborator}")},
        {"default_branch", "main"},
        {"visibility", r.isPrivate ? "private" : "public"},
        {"size", r.mainHead().isEmpty() ? 0 : 1},
        {"archived", false},
        {"disabled", false},
        {"created_at", isoDate(r.createdAt)},
        {"updated_at", isoDate(r.pushedAt)},
        {"pushed_at", isoDate(r.pushedAt)}};
    if (viewer) {
        j.insert("permissions", QJsonObject{{"admin", a >= Access::Admin},
                                            {"maintain", a >= Access::Maintain},
                                            {"push", a >= Access::Write},
                                            {"triage", a >= Access::Triage},
                                            {"pull", a >= Access::Read}});
    }
    if (o != orgs.end())
        j.insert("organization", owner);
    return j;
}

static QJsonObject signatureJson(const GitSignature &s) {
    return {{"name", s.name}, {"email", s.email}, {"date", isoDate(s.date)}};
}

QJsonObject EmulatorBackend::commitJson(const EmuRepo &r, const QString &sha,
                                        const GitCommit &c) const {
    const QString api = repoApiUrl(r);
    QJsonArray parents;
    for (const auto &p : c.parents) {
        parents.append(QJsonObject{{"sha", p},
                                   {"url", api + QStringLiteral("/git/commits/") + p},
                                   {"html_url", webBase + QLatin1Char('/') + r.fullName() +
                                                    QStringLiteral("/commit/") + p}});
    }
    return {
        {"sha", sha},
        {"node_id", QString::fromLatin1(("06:Commit" + sha.toLatin1()).toBase64())},
        {"url", api + QStringLiteral("/git/commits/") + sha},
        {"html_url", webBase + QLatin1Char('/') + r.fullName() + QStringLiteral("/commit/") + sha},
        {"author", signatureJson(c.author)},
        {"committer", signatureJson(c.committer)},
        {"tree",
         QJsonObject{{"sha", c.tree}, {"url", api + QStringLiteral("/git/trees/") + c.tree}}},
        {"message", c.message},
        {"parents", parents},
        {"verification", QJsonObject{{"verified", false},
                                     {"reason", "unsigned"},
                                     {"signature", QJsonValue::Null},
                                     {"payload", QJsonValue::Null},
                                     {"verified_at", QJsonValue::Null}}}};
}

QJsonObject EmulatorBackend::repoCommitJson(const EmuRepo &r, const QString &sha) const {
    const GitCommit c = r.objects.commit(sha).value_or(GitCommit{});
    const QString api = repoApiUrl(r);
    const QString html = webBase + QLatin1Char('/') + r.fullName() + QStringLiteral("/commit/");
    const auto account = [&](const GitSignature &s) -> QJsonValue {
        // GitHub's own commits (merges, web edits) are signed by web-flow.
        if (s.email == QLatin1String("noreply@github.com"))
            return QJsonObject{{"login", "web-flow"}, {"id", 19864447}, {"type", "User"}};
        const EmuUser *u = userByEmail(s.email);
        return u ? QJsonValue(userJson(*u)) : QJsonValue(QJsonValue::Null);
    };
    QJsonArray parents;
    for (const auto &p : c.parents)
        parents.append(QJsonObject{
            {"sha", p}, {"url", api + QStringLiteral("/commits/") + p}, {"html_url", html + p}});
    QJsonObject git = commitJson(r, sha, c);
    git.remove("sha");
    git.remove("node_id");
    git.remove("html_url");
    git.remove("parents");
    git.insert("comment_count", 0);
    return {{"sha", sha},
            {"node_id", QString::fromLatin1(("06:Commit" + sha.toLatin1()).toBase64())},
            {"commit", git},
            {"url", api + QStringLiteral("/commits/") + sha},
            {"html_url", html + sha},
            {"comments_url", api + QStringLiteral("/commits/") + sha + QStringLiteral("/comments")},
            {"author", account(c.author)},
            {"committer", account(c.committer)},
            {"parents", parents}};
}

QJsonObject EmulatorBackend::refJson(const EmuRepo &r, const QString &ref) const {
    const QString sha = r.refs.value(ref);
    const QString api = repoApiUrl(r);
    return {{"ref", QStringLiteral("refs/") + ref},
            {"node_id", QString::fromLatin1(("03:Ref" + ref.toUtf8()).toBase64())},
            {"url", api + QStringLiteral("/git/refs/") + ref},
            {"object", QJsonObject{{"type", "commit"},
                                   {"sha", sha},
                                   {"url", api + QStringLiteral("/git/commits/") + sha}}}};
}

} // namespace ghemu
