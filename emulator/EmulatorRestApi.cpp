// The REST side of the emulator: users, organisations, repository creation,
// git data, contents and collaborators. Requests reach these handlers through
// the tables in EmulatorRoutes.cpp.
#include "EmulatorBackend.h"

#include <QJsonDocument>
#include <QUrl>

namespace ghemu {

namespace {

const QString kReposDoc = QStringLiteral("rest/repos/repos");
const QString kRefsDoc = QStringLiteral("rest/git/refs");
const QString kCommitsDoc = QStringLiteral("rest/git/commits");
const QString kTreesDoc = QStringLiteral("rest/git/trees");
const QString kBlobsDoc = QStringLiteral("rest/git/blobs");
const QString kContentsDoc = QStringLiteral("rest/repos/contents#get-repository-content");

} // namespace

// --- users and organisations ----------------------------------------------

HttpReply EmulatorBackend::getUser(const Caller &caller) {
    QJsonObject j = userJson(*caller.user);
    j.insert("name", caller.user->name);
    j.insert("email", QJsonValue::Null);
    j.insert("user_view_type", "private");
    j.insert("created_at", "2020-01-01T00:00:00Z");
    j.insert("updated_at", "2020-01-01T00:00:00Z");
    return json(200, QJsonDocument(j));
}

static int perPageOf(const HttpExchange &req) {
    bool ok = false;
    int perPage = req.query.queryItemValue(QStringLiteral("per_page")).toInt(&ok);
    if (!ok || perPage <= 0)
        perPage = 30;
    return std::min(perPage, 100);
}

static int pageOf(const HttpExchange &req) {
    bool ok = false;
    const int page = req.query.queryItemValue(QStringLiteral("page")).toInt(&ok);
    return ok && page > 0 ? page : 1;
}

// GitHub's Link header for a paged list whose pages are addressed at apiBase + path.
static void setPageLinks(HttpReply &reply, const HttpExchange &req, const QString &apiBase,
                         const QString &path, qsizetype total) {
    const int perPage = perPageOf(req);
    const int page = pageOf(req);
    const int lastPage = int((total + perPage - 1) / perPage);
    if (lastPage <= 1)
        return;
    const auto link = [&](int p, const char *rel) {
        QUrlQuery q = req.query;
        q.removeAllQueryItems(QStringLiteral("per_page"));
        q.removeAllQueryItems(QStringLiteral("page"));
        q.addQueryItem(QStringLiteral("per_page"), QString::number(perPage));
        q.addQueryItem(QStringLiteral("page"), QString::number(p));
        return "<" + (apiBase + path + QLatin1Char('?') + q.toString(QUrl::FullyEncoded)).toUtf8() +
               ">; rel=\"" + rel + "\"";
    };
    QByteArrayList parts;
    if (page > 1)
        parts << link(page - 1, "prev");
    if (page < lastPage)
        parts << link(page + 1, "next") << link(lastPage, "last");
    if (page > 1)
        parts << link(1, "first");
    reply.setHeader("Link", parts.join(", "));
}

HttpReply EmulatorBackend::getInstallations(const HttpExchange &req, const Caller &caller) {
    if (!caller.token->appUser)
        return error(403,
                     QStringLiteral("You must authenticate with an access token authorized to a "
                                    "GitHub App in order to list installations"),
                     QStringLiteral("rest/apps/installations#list-app-installations-accessible-to-"
                                    "the-user-access-token"));
    // Organisations with the app where the user is a member, the user's own
    // account, and installations whose account GitHub does not show.
    const QString uk = key(caller.user->login);
    QJsonArray all;
    for (const auto &[k, o] : orgs) {
        if (!o.options.appInstalled || !o.members.contains(uk))
            continue;
        QJsonObject account = orgSimpleJson(o);
        account.insert("type", "Organization");
        all.append(installationJson(o.installationId, account));
    }
    if (caller.user->installationId != 0)
        all.append(installationJson(caller.user->installationId, userJson(*caller.user)));
    for (const auto &[id, viewer] : accountlessInstallations) {
        if (viewer == uk)
            all.append(installationJson(id, QJsonValue::Null));
    }
    const int perPage = perPageOf(req);
    const int page = pageOf(req);
    QJsonArray slice;
    for (int i = (page - 1) * perPage; i < std::min<qsizetype>(all.size(), page * perPage); ++i)
        slice.append(all.at(i));
    HttpReply reply = json(
        200, QJsonDocument(QJsonObject{{"total_count", all.size()}, {"installations", slice}}));
    setPageLinks(reply, req, apiBase, QStringLiteral("/user/installations"), all.size());
    return reply;
}

QJsonObject EmulatorBackend::installationJson(qint64 id, const QJsonValue &account) const {
    const QString type = account.isNull() ? QStringLiteral("Enterprise")
                                          : account.toObject().value("type").toString();
    const QString login = account.toObject().value("login").toString();
    const QString idText = QString::number(id);
    return QJsonObject{
        {"id", id},
        {"app_id", 1},
        {"app_slug", app.name.toLower()},
        {"client_id", app.clientId},
        {"target_id", account.isNull() ? QJsonValue(id) : account.toObject().value("id")},
        {"target_type", type},
        {"account", account},
        {"repository_selection", "all"},
        {"permissions", QJsonObject{{"administration", "write"},
                                    {"contents", "write"},
                                    {"metadata", "read"},
                                    {"members", "read"}}},
        {"events", QJsonArray{}},
        {"access_tokens_url", apiBase + QStringLiteral("/app/installations/") + idText +
                                  QStringLiteral("/access_tokens")},
        {"repositories_url", apiBase + QStringLiteral("/installation/repositories")},
        {"html_url",
         webBase +
             (type == QLatin1String("Organization") ? QStringLiteral("/organizations/") + login
                                                    : QString()) +
             QStringLiteral("/settings/installations/") + idText},
        {"created_at", "2024-01-01T00:00:00Z"},
        {"updated_at", "2024-01-01T00:00:00Z"},
        {"single_file_name", QJsonValue::Null},
        {"suspended_by", QJsonValue::Null},
        {"suspended_at", QJsonValue::Null}};
}

HttpReply EmulatorBackend::getUserOrgs(const HttpExchange &req, const Caller &caller) {
    // GitHub App user tokens (and fine-grained tokens) see an empty list.
    QJsonArray list;
    if (!caller.token->appUser) {
        const QString uk = key(caller.user->login);
        for (const auto &[k, o] : orgs) {
            if (o.members.contains(uk))
                list.append(orgSimpleJson(o));
        }
    }
    const int perPage = perPageOf(req);
    const int page = pageOf(req);
    QJsonArray slice;
    for (int i = (page - 1) * perPage; i < std::min<qsizetype>(list.size(), page * perPage); ++i)
        slice.append(list.at(i));
    HttpReply reply = json(200, QJsonDocument(slice));
    setPageLinks(reply, req, apiBase, QStringLiteral("/user/orgs"), list.size());
    return reply;
}

HttpReply EmulatorBackend::getMembership(const Caller &caller, const QString &orgLogin,
                                         const QString &username) {
    const QString doc = QStringLiteral("rest/orgs/members#get-organization-membership-for-a-user");
    EmuOrg *o = org(orgLogin);
    EmuUser *target = user(username);
    // Only members see memberships; everyone else gets nothing.
    if (!o || !o->members.contains(key(caller.user->login)) || !target ||
        !o->members.contains(key(target->login)))
        return notFound(doc);
    const QString api = apiBase + QStringLiteral("/orgs/") + o->login;
    QJsonObject u = userJson(*target);
    return json(200, QJsonDocument(
                         QJsonObject{{"url", api + QStringLiteral("/memberships/") + target->login},
                                     {"state", "active"},
                                     {"role", o->members.value(key(target->login))},
                                     {"organization_url", api},
                                     {"organization", orgSimpleJson(*o)},
                                     {"user", u}}));
}

HttpReply EmulatorBackend::createOrgRepo(const HttpExchange &req, const Caller &caller,
                                         const QString &orgLogin) {
    const QString doc = kReposDoc + QStringLiteral("#create-an-organization-repository");
    EmuOrg *o = org(orgLogin);
    if (!o->members.contains(key(caller.user->login)))
        return notFound(doc);
    const auto body = jsonBody(req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    const QJsonValue name = body->value("name");
    if (!name.isString() || name.toString().isEmpty())
        return unprocessable(QStringLiteral("Repository creation failed."),
                             QJsonArray{QJsonObject{{"resource", "Repository"},
                                                    {"code", "missing_field"},
                                                    {"field", "name"}}},
                             doc);
    // GitHub turns characters it does not allow into hyphens.
    QString repoName = name.toString();
    static const QRegularExpression bad(QStringLiteral("[^A-Za-z0-9._-]"));
    repoName.replace(bad, QStringLiteral("-"));
    if (repo(o->login, repoName))
        return unprocessable(
            QStringLiteral("Repository creation failed."),
            QJsonArray{QJsonObject{{"resource", "Repository"},
                                   {"code", "custom"},
                                   {"field", "name"},
                                   {"message", "name already exists on this account"}}},
            doc);
    bool isPrivate = body->value("private").toBool(false);
    const QString visibility = body->value("visibility").toString();
    if (visibility == QLatin1String("private") || visibility == QLatin1String("internal"))
        isPrivate = true;
    else if (visibility == QLatin1String("public"))
        isPrivate = false;
    EmuRepo *r = createRepo(*o, repoName, isPrivate, body->value("auto_init").toBool(false),
                            body->value("description").toString(), caller.user);
    HttpReply reply = json(201, QJsonDocument(repoJson(*r, caller.user)));
    reply.setHeader("Location", repoApiUrl(*r).toUtf8());
    return reply;
}

// --- git data --------------------------------------------------------------

HttpReply EmulatorBackend::getRef(const EmuRepo &r, const QString &ref) {
    if (!r.refs.contains(ref))
        return notFound(kRefsDoc + QStringLiteral("#get-a-reference"));
    return json(200, QJsonDocument(refJson(r, ref)));
}

HttpReply EmulatorBackend::createRef(const HttpExchange &req, EmuRepo &r) {
    const QString doc = kRefsDoc + QStringLiteral("#create-a-reference");
    const auto body = jsonBody(req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    QString ref = body->value("ref").toString();
    const QString sha = body->value("sha").toString();
    if (!ref.startsWith(QLatin1String("refs/")) || ref.count(QLatin1Char('/')) < 2)
        return validation(QStringLiteral("Reference name is invalid"), doc);
    ref = ref.mid(5);
    if (r.refs.contains(ref))
        return validation(QStringLiteral("Reference already exists"), doc);
    if (r.objects.typeOf(sha) != QLatin1String("commit"))
        return validation(QStringLiteral("Object does not exist"), doc);
    r.refs[ref] = sha;
    return json(201, QJsonDocument(refJson(r, ref)));
}

HttpReply EmulatorBackend::updateRef(const HttpExchange &req, const Caller &caller, EmuRepo &r,
                                     const QString &ref) {
    const QString doc = kRefsDoc + QStringLiteral("#update-a-reference");
    const auto body = jsonBody(req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    if (!body->value("sha").isString())
        return validation(QStringLiteral("Invalid request.\n\n\"sha\" wasn't supplied."), doc);
    const QString sha = body->value("sha").toString();
    const bool force = body->value("force").toBool(false);
    if (!r.refs.contains(ref))
        return validation(QStringLiteral("Reference does not exist"), doc);
    if (r.objects.typeOf(sha) != QLatin1String("commit"))
        return validation(QStringLiteral("Object does not exist"), doc);
    const QString old = r.refs.value(ref);
    const bool fastForward = r.objects.isAncestor(old, sha);

    if (const auto refusal = pushRefusal(r, ref, caller.user, fastForward))
        return validation(*refusal, doc);
    if (!fastForward && !force)
        return validation(QStringLiteral("Update is not a fast forward"), doc);
    r.refs[ref] = sha;
    r.pushedAt = QDateTime::currentDateTimeUtc();
    if (ref.startsWith(QLatin1String("heads/")))
        dismissStaleReviews(r, ref.mid(6));
    return json(200, QJsonDocument(refJson(r, ref)));
}

HttpReply EmulatorBackend::getCommit(const EmuRepo &r, const QString &sha) {
    const auto c = r.objects.commit(sha);
    if (!c)
        return notFound(kCommitsDoc + QStringLiteral("#get-a-commit-object"));
    return json(200, QJsonDocument(commitJson(r, sha, *c)));
}

static std::optional<GitSignature> parseSignature(const QJsonValue &v, QString *error) {
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    const QJsonObject o = v.toObject();
    GitSignature s;
    s.name = o.value("name").toString();
    s.email = o.value("email").toString();
    if (s.name.isEmpty() || s.email.isEmpty()) {
        *error = QStringLiteral("Invalid request.\n\n\"name\", \"email\" weren't supplied.");
        return std::nullopt;
    }
    if (o.contains("date")) {
        s.date = QDateTime::fromString(o.value("date").toString(), Qt::ISODate);
        if (!s.date.isValid()) {
            *error =
                QStringLiteral("Invalid request.\n\nFor 'properties/date', \"%1\" is not a date.")
                    .arg(o.value("date").toString());
            return std::nullopt;
        }
    } else {
        s.date = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    }
    return s;
}

HttpReply EmulatorBackend::createCommit(const HttpExchange &req, const Caller &caller, EmuRepo &r) {
    const QString doc = kCommitsDoc + QStringLiteral("#create-a-commit");
    const auto body = jsonBody(req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    QStringList missing;
    if (!body->value("message").isString())
        missing << QStringLiteral("\"message\"");
    if (!body->value("tree").isString())
        missing << QStringLiteral("\"tree\"");
    if (!missing.isEmpty())
        return validation(
            QStringLiteral("Invalid request.\n\n%1 %2 supplied.")
                .arg(missing.join(QStringLiteral(", ")),
                     missing.size() == 1 ? QStringLiteral("wasn't") : QStringLiteral("weren't")),
            doc);
    GitCommit c;
    c.tree = body->value("tree").toString();
    c.message = body->value("message").toString();
    if (r.objects.typeOf(c.tree) != QLatin1String("tree"))
        return validation(QStringLiteral("Tree SHA does not exist"), doc);
    const QJsonValue parents = body->value("parents");
    if (!parents.isUndefined() && !parents.isNull() && !parents.isArray())
        return validation(QStringLiteral("Invalid request.\n\nFor 'properties/parents', %1 is not "
                                         "an array.")
                              .arg(QString::fromUtf8(req.body)),
                          doc);
    for (const auto &p : parents.toArray()) {
        if (!p.isString() || r.objects.typeOf(p.toString()) != QLatin1String("commit"))
            return validation(QStringLiteral("Parent SHA does not exist or is not a commit object"),
                              doc);
        c.parents << p.toString();
    }
    QString err;
    const auto author = parseSignature(body->value("author"), &err);
    if (!err.isEmpty())
        return validation(err, doc);
    const auto committer = parseSignature(body->value("committer"), &err);
    if (!err.isEmpty())
        return validation(err, doc);
    const QDateTime now =
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    c.author = author.value_or(GitSignature{caller.user->name, caller.user->email(), now});
    c.committer = committer.value_or(
        author ? *author : GitSignature{caller.user->name, caller.user->email(), now});
    const QString sha = r.objects.putCommit(c);
    HttpReply reply = json(201, QJsonDocument(commitJson(r, sha, c)));
    reply.setHeader("Location", (repoApiUrl(r) + QStringLiteral("/git/commits/") + sha).toUtf8());
    return reply;
}

HttpReply EmulatorBackend::getTree(const HttpExchange &req, const EmuRepo &r, const QString &sha) {
    const QString api = repoApiUrl(r);
    // A tree id, or anything naming a commit (id, branch, tag): its tree.
    QString treeSha = sha;
    if (const auto c = r.objects.commit(resolveCommit(r, sha)))
        treeSha = c->tree;
    if (!r.objects.tree(treeSha))
        return notFound(kTreesDoc + QStringLiteral("#get-a-tree"));
    const bool recursive = !req.query.queryItemValue(QStringLiteral("recursive")).isEmpty();
    QJsonArray entries;
    const auto walk = [&](auto &&self, const QString &t, const QString &prefix) -> void {
        const QList<GitTreeEntry> children = r.objects.tree(t).value_or(QList<GitTreeEntry>());
        for (const auto &e : children) {
            QJsonObject j{
                {"path", prefix + e.name}, {"mode", e.mode}, {"type", e.type()}, {"sha", e.sha}};
            if (e.type() == QLatin1String("blob")) {
                j.insert("size", r.objects.blob(e.sha).value_or(QByteArray()).size());
                j.insert("url", api + QStringLiteral("/git/blobs/") + e.sha);
            } else if (e.type() == QLatin1String("tree")) {
                j.insert("url", api + QStringLiteral("/git/trees/") + e.sha);
            }
            entries.append(j);
            if (recursive && e.type() == QLatin1String("tree"))
                self(self, e.sha, prefix + e.name + QLatin1Char('/'));
        }
    };
    walk(walk, treeSha, QString());
    return json(200,
                QJsonDocument(QJsonObject{{"sha", treeSha},
                                          {"url", api + QStringLiteral("/git/trees/") + treeSha},
                                          {"tree", entries},
                                          {"truncated", false}}));
}

HttpReply EmulatorBackend::createTree(const HttpExchange &req, EmuRepo &r) {
    const QString doc = kTreesDoc + QStringLiteral("#create-a-tree");
    const auto body = jsonBody(req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    if (!body->value("tree").isArray())
        return validation(QStringLiteral("Invalid request.\n\n\"tree\" wasn't supplied."), doc);
    QString base;
    if (body->contains("base_tree") && !body->value("base_tree").isNull()) {
        base = body->value("base_tree").toString();
        if (r.objects.typeOf(base) != QLatin1String("tree"))
            return validation(QStringLiteral("base_tree is not a valid tree oid"), doc);
    }
    QList<GitTreeChange> changes;
    for (const auto &v : body->value("tree").toArray()) {
        const QJsonObject e = v.toObject();
        const QString path = e.value("path").toString();
        const QString mode = e.value("mode").toString();
        const QString type = e.value("type").toString();
        const QStringList parts = path.split(QLatin1Char('/'));
        if (path.isEmpty() || parts.contains(QString()) || parts.contains(QStringLiteral(".")) ||
            parts.contains(QStringLiteral("..")) || parts.contains(QStringLiteral(".git")))
            return validation(QStringLiteral("tree.path contains a malformed path component"), doc);
        if (!GitObjectStore::isValidMode(mode))
            return validation(
                QStringLiteral("Invalid request.\n\nFor 'properties/mode', \"%1\" is not one of "
                               "[\"100644\", \"100755\", \"040000\", \"160000\", \"120000\"].")
                    .arg(mode),
                doc);
        GitTreeEntry probe{QString(), mode, QString()};
        if (type != probe.type())
            return validation(QStringLiteral("tree.type must match tree.mode"), doc);
        const bool hasSha = e.contains("sha");
        const bool hasContent = e.contains("content");
        if (hasSha && hasContent)
            return validation(QStringLiteral("Must supply either tree.sha or tree.content. Request "
                                             "contained both."),
                              doc);
        if (!hasSha && !hasContent)
            return validation(QStringLiteral("Must supply either tree.sha or tree.content."), doc);
        GitTreeChange change{path, mode, std::nullopt};
        if (hasContent) {
            if (type != QLatin1String("blob"))
                return validation(QStringLiteral("tree.content is only valid for blobs"), doc);
            change.sha = r.objects.putBlob(e.value("content").toString().toUtf8());
        } else if (!e.value("sha").isNull()) {
            const QString sha = e.value("sha").toString();
            const QString actual = r.objects.typeOf(sha);
            if (type != QLatin1String("commit") && actual != type)
                return validation(QStringLiteral("tree.sha %1 is not a valid %2").arg(sha, type),
                                  doc);
            change.sha = sha;
        }
        changes.append(change);
    }
    QString err;
    const auto sha = r.objects.applyChanges(base, changes, &err);
    if (!sha)
        return validation(err, doc);
    HttpReply reply = getTree(HttpExchange{}, r, *sha);
    reply.status = 201;
    reply.setHeader("Location", (repoApiUrl(r) + QStringLiteral("/git/trees/") + *sha).toUtf8());
    return reply;
}

HttpReply EmulatorBackend::getBlob(const EmuRepo &r, const QString &sha) {
    const auto b = r.objects.blob(sha);
    if (!b)
        return notFound(kBlobsDoc + QStringLiteral("#get-a-blob"));
    return json(200, QJsonDocument(QJsonObject{
                         {"sha", sha},
                         {"node_id", QString::fromLatin1(("04:Blob" + sha.toLatin1()).toBase64())},
                         {"size", b->size()},
                         {"url", repoApiUrl(r) + QStringLiteral("/git/blobs/") + sha},
                         {"content", QString::fromLatin1(wrapBase64(*b))},
                         {"encoding", "base64"}}));
}

HttpReply EmulatorBackend::createBlob(const HttpExchange &req, EmuRepo &r) {
    const QString doc = kBlobsDoc + QStringLiteral("#create-a-blob");
    const auto body = jsonBody(req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    if (!body->value("content").isString())
        return validation(QStringLiteral("Invalid request.\n\n\"content\" wasn't supplied."), doc);
    const QString encoding = body->value("encoding").toString(QStringLiteral("utf-8"));
    QByteArray data = body->value("content").toString().toUtf8();
    if (encoding == QLatin1String("base64")) {
        const auto decoded =
            QByteArray::fromBase64Encoding(data, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return validation(QStringLiteral("Invalid Base64 content"), doc);
        data = *decoded;
    } else if (encoding != QLatin1String("utf-8")) {
        return validation(QStringLiteral("encoding must be utf-8 or base64"), doc);
    }
    const QString sha = r.objects.putBlob(data);
    HttpReply reply =
        json(201, QJsonDocument(QJsonObject{
                      {"sha", sha}, {"url", repoApiUrl(r) + QStringLiteral("/git/blobs/") + sha}}));
    return reply;
}

// --- contents and collaborators -------------------------------------------

HttpReply EmulatorBackend::getContents(const HttpExchange &req, const EmuRepo &r,
                                       const QString &path) {
    if (r.refs.isEmpty())
        return error(404, QStringLiteral("This repository is empty."), kContentsDoc);
    QString ref = req.query.queryItemValue(QStringLiteral("ref"), QUrl::FullyDecoded);
    if (ref.isEmpty())
        ref = QStringLiteral("main");
    QString commitSha = r.refs.value(QStringLiteral("heads/") + ref);
    if (commitSha.isEmpty())
        commitSha = r.refs.value(QStringLiteral("tags/") + ref);
    if (commitSha.isEmpty() && r.objects.typeOf(ref) == QLatin1String("commit"))
        commitSha = ref;
    if (commitSha.isEmpty())
        return error(404, QStringLiteral("No commit found for the ref %1").arg(ref), kContentsDoc);
    const QString root = r.objects.commit(commitSha)->tree;
    const QString api = repoApiUrl(r);
    const auto describe = [&](const QString &entryPath, const GitTreeEntry &e) {
        const QString self =
            api + QStringLiteral("/contents/") + entryPath + QStringLiteral("?ref=") + ref;
        const bool isDir = e.type() == QLatin1String("tree");
        const QString git =
            api + (isDir ? QStringLiteral("/git/trees/") : QStringLiteral("/git/blobs/")) + e.sha;
        const QString html = webBase + QLatin1Char('/') + r.fullName() +
                             (isDir ? QStringLiteral("/tree/") : QStringLiteral("/blob/")) + ref +
                             QLatin1Char('/') + entryPath;
        const auto blob = r.objects.blob(e.sha);
        QJsonObject j{{"type", isDir ? "dir" : "file"},
                      {"size", blob ? blob->size() : 0},
                      {"name", e.name},
                      {"path", entryPath},
                      {"sha", e.sha},
                      {"url", self},
                      {"git_url", git},
                      {"html_url", html},
                      {"download_url",
                       isDir ? QJsonValue(QJsonValue::Null)
                             : QJsonValue(QStringLiteral("https://raw.githubusercontent.com/") +
                                          r.fullName() + QLatin1Char('/') + ref + QLatin1Char('/') +
                                          entryPath)},
                      {"_links", QJsonObject{{"self", self}, {"git", git}, {"html", html}}}};
        return j;
    };
    if (path.isEmpty()) {
        QJsonArray list;
        for (const auto &e : r.objects.tree(root).value_or(QList<GitTreeEntry>()))
            list.append(describe(e.name, e));
        return json(200, QJsonDocument(list));
    }
    const auto entry = r.objects.lookup(root, path);
    if (!entry)
        return notFound(kContentsDoc);
    if (entry->type() == QLatin1String("tree")) {
        QJsonArray list;
        for (const auto &e : r.objects.tree(entry->sha).value_or(QList<GitTreeEntry>()))
            list.append(describe(path + QLatin1Char('/') + e.name, e));
        return json(200, QJsonDocument(list));
    }
    QJsonObject j = describe(path, *entry);
    j.insert("encoding", "base64");
    j.insert("content",
             QString::fromLatin1(wrapBase64(r.objects.blob(entry->sha).value_or(QByteArray()))));
    return json(200, QJsonDocument(j));
}

HttpReply EmulatorBackend::listCollaborators(const HttpExchange &req, const EmuRepo &r) {
    struct Row {
        const EmuUser *user;
        Access access;
        bool direct;
    };
    QList<Row> rows;
    for (const auto &[k, u] : users) {
        const Access a = accessOf(r, &u);
        const bool direct = r.collaborators.contains(k);
        if (a >= Access::Read && (direct || (org(r.owner) && org(r.owner)->members.contains(k))))
            rows.append({&u, a, direct});
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row &a, const Row &b) { return a.user->id < b.user->id; });
    const QString affiliation = req.query.queryItemValue(QStringLiteral("affiliation"));
    if (affiliation == QLatin1String("direct") || affiliation == QLatin1String("outside")) {
        const EmuOrg *o = org(r.owner);
        rows.removeIf([&](const Row &row) {
            const bool member = o && o->members.contains(key(row.user->login));
            return affiliation == QLatin1String("direct") ? !row.direct : (!row.direct || member);
        });
    }
    const int perPage = perPageOf(req);
    const int page = pageOf(req);
    QJsonArray list;
    static const char *roleNames[] = {"none", "read", "triage", "write", "maintain", "admin"};
    for (int i = (page - 1) * perPage; i < std::min<qsizetype>(rows.size(), page * perPage); ++i) {
        const Row &row = rows.at(i);
        // The flags are the base role; role_name counts team grants too.
        const Access base = baseAccessOf(r, row.user);
        QJsonObject j = userJson(*row.user);
        j.insert("permissions", QJsonObject{{"admin", base >= Access::Admin},
                                            {"maintain", base >= Access::Maintain},
                                            {"push", base >= Access::Write},
                                            {"triage", base >= Access::Triage},
                                            {"pull", base >= Access::Read}});
        j.insert("role_name", QString::fromLatin1(roleNames[int(row.access)]));
        list.append(j);
    }
    HttpReply reply = json(200, QJsonDocument(list));
    // Links use the numeric repository form and keep the other parameters.
    setPageLinks(reply, req, apiBase, QStringLiteral("/repositories/%1/collaborators").arg(r.id),
                 rows.size());
    return reply;
}

} // namespace ghemu
