// Request routing on the REST host: the top-level paths, and the table of
// requests on one repository with the access each needs.
#include "EmulatorBackend.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace ghemu {

namespace {

const QString kReposDoc = QStringLiteral("rest/repos/repos");
const QString kGitDoc = QStringLiteral("rest/git");
const QString kProtectionDoc = QStringLiteral("rest/branches/branch-protection");
const QString kCommitsDoc = QStringLiteral("rest/commits/commits");
const QString kPullsDoc = QStringLiteral("rest/pulls/pulls");
const QString kReleasesDoc = QStringLiteral("rest/releases/releases#get-the-latest-release");
const QString kCollaboratorsDoc =
    QStringLiteral("rest/collaborators/collaborators#list-repository-collaborators");

// What a route checks before its handler runs, besides access.
enum class Gate {
    none,
    hasCommits,        // git data: 409 in an empty repository
    planAllowsPrivate, // branch protection: the plan may refuse private repositories
};

// How a caller without the route's access is answered.
enum class Denial {
    hidden,      // 404, as if the resource did not exist
    integration, // 403 for app tokens, 404 for others
    adminRights, // 403 "Must have admin rights to Repository."
};

// GitHub accepts one trailing slash under these and ignores it.
bool trailingSlashAccepted(const QStringList &seg) {
    const qsizetype base = seg.value(0) == QLatin1String("repos") ? 3 : 2;
    const QString part = seg.value(base);
    return (seg.value(0) == QLatin1String("repos") ||
            seg.value(0) == QLatin1String("repositories")) &&
           (part == QLatin1String("contents") ||
            (part == QLatin1String("git") && seg.value(base + 1) == QLatin1String("refs")));
}

// Matches the path below a repository against a pattern where "*" is one
// segment and a final "**" one or more; the matched parts go to *args.
bool matchRoute(const QStringList &pattern, const QStringList &rest, QStringList *args) {
    args->clear();
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == QLatin1String("**")) {
            if (rest.size() <= i)
                return false;
            args->append(rest.mid(i).join(QLatin1Char('/')));
            return true;
        }
        if (i >= rest.size() || rest[i].isEmpty())
            return false;
        if (pattern[i] == QLatin1String("*"))
            args->append(rest[i]);
        else if (pattern[i] != rest[i])
            return false;
    }
    return pattern.size() == rest.size();
}

} // namespace

struct EmulatorBackend::RepoRoute {
    QByteArray method;
    QStringList pattern; // segments below /repos/{owner}/{repo}
    Access access;
    Denial denial;
    Gate gate;
    QString doc; // documentation path of the refusals
    HttpReply (*handle)(EmulatorBackend &, const RepoCall &);
};

HttpReply EmulatorBackend::routeApi(const HttpExchange &req, const Caller &caller) {
    QStringList seg = req.path.split(QLatin1Char('/'));
    if (seg.isEmpty() || !seg.first().isEmpty())
        return notFound();
    seg.removeFirst();
    // A trailing slash names no resource on GitHub, except where it is ignored.
    if (seg.size() > 1 && seg.last().isEmpty()) {
        if (!trailingSlashAccepted(seg))
            return notFound();
        seg.removeLast();
    }
    const QByteArray &m = req.method;
    const auto requireUser = [&]() -> std::optional<HttpReply> {
        if (!caller.user)
            return error(401, QStringLiteral("Requires authentication"),
                         QStringLiteral("rest/users/users#get-the-authenticated-user"));
        return std::nullopt;
    };

    if (seg.value(0) == QLatin1String("user")) {
        if (auto r = requireUser())
            return *r;
        if (seg.size() == 1 && m == "GET")
            return getUser(caller);
        if (seg.size() == 2 && seg[1] == QLatin1String("installations") && m == "GET")
            return getInstallations(req, caller);
        if (seg.size() == 2 && seg[1] == QLatin1String("orgs") && m == "GET")
            return getUserOrgs(req, caller);
        if (seg.size() == 4 && seg[1] == QLatin1String("memberships") &&
            seg[2] == QLatin1String("orgs") && m == "GET")
            return getMembership(caller, seg[3], caller.user->login);
        return notFound();
    }
    if (seg.value(0) == QLatin1String("users") && seg.size() == 2 && m == "GET") {
        if (EmuUser *u = user(seg[1]))
            return json(200, QJsonDocument(userJson(*u)));
        return notFound(QStringLiteral("rest/users/users#get-a-user"));
    }
    if (seg.value(0) == QLatin1String("orgs") && seg.size() >= 2) {
        EmuOrg *o = org(seg[1]);
        if (!o)
            return notFound(QStringLiteral("rest/orgs/orgs"));
        if (seg.size() == 2 && m == "GET")
            return json(200, QJsonDocument(orgSimpleJson(*o)));
        if (seg.size() == 4 && seg[2] == QLatin1String("memberships") && m == "GET") {
            if (auto r = requireUser())
                return *r;
            return getMembership(caller, o->login, seg[3]);
        }
        if (seg.size() == 3 && seg[2] == QLatin1String("repos") && m == "POST") {
            if (auto r = requireUser())
                return *r;
            return createOrgRepo(req, caller, o->login);
        }
        return notFound();
    }
    EmuRepo *r = nullptr;
    QStringList rest;
    if (seg.value(0) == QLatin1String("repos") && seg.size() >= 3) {
        r = repo(seg[1], seg[2]);
        if (!r)
            return movedRepo(req, caller, seg);
        rest = seg.mid(3);
    } else if (seg.value(0) == QLatin1String("repositories") && seg.size() >= 2) {
        r = repoById(seg[1].toLongLong());
        rest = seg.mid(2);
    } else {
        return notFound();
    }
    // Private repositories the caller cannot see do not exist for them.
    if (!r || accessOf(*r, caller.user) < Access::Read)
        return notFound(kReposDoc + QStringLiteral("#get-a-repository"));
    return routeRepo(req, caller, *r, rest);
}

// A repository renamed away from the name asked for answers 301 with its
// permanent address, as long as the caller may see it.
HttpReply EmulatorBackend::movedRepo(const HttpExchange &req, const Caller &caller,
                                     const QStringList &seg) {
    const auto moved = movedRepos.find(key(seg[1]) + QLatin1Char('/') + key(seg[2]));
    EmuRepo *r = moved == movedRepos.end() ? nullptr : repoById(moved->second);
    if (!r || accessOf(*r, caller.user) < Access::Read)
        return notFound(kReposDoc + QStringLiteral("#get-a-repository"));
    QString target = apiBase + QStringLiteral("/repositories/") + QString::number(r->id);
    for (const QString &part : seg.mid(3))
        target += QLatin1Char('/') + QString::fromUtf8(QUrl::toPercentEncoding(part));
    if (!req.query.isEmpty())
        target += QLatin1Char('?') + req.query.toString(QUrl::FullyEncoded);
    HttpReply reply =
        json(301, QJsonDocument(QJsonObject{
                      {"message", "Moved Permanently"},
                      {"url", target},
                      {"documentation_url", QStringLiteral("https://docs.github.com/") + kReposDoc +
                                                QStringLiteral("#get-a-repository")}}));
    reply.setHeader("Location", target.toUtf8());
    return reply;
}

HttpReply EmulatorBackend::routeRepo(const HttpExchange &req, const Caller &caller, EmuRepo &r,
                                     const QStringList &rest) {
    using B = EmulatorBackend;
    using C = RepoCall;
    const auto split = [](const char *pattern) {
        return QString::fromLatin1(pattern).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    };
    const Access read = Access::Read;
    const Access write = Access::Write;
    const Access admin = Access::Admin;
    static const QList<RepoRoute> routes{
        {"GET", split(""), read, Denial::hidden, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.getRepo(c); }},
        {"PATCH", split(""), admin, Denial::adminRights, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.updateRepo(c); }},
        {"DELETE", split(""), admin, Denial::adminRights, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.deleteRepo(c); }},
        {"GET", split("git/ref/**"), read, Denial::hidden, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.getRef(c.repo, c.args[0]); }},
        {"GET", split("git/refs/**"), read, Denial::hidden, Gate::none, kGitDoc,
         [](B &b, const C &c) { return b.getRef(c.repo, c.args[0]); }},
        {"PATCH", split("git/refs/**"), write, Denial::integration, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.updateRef(c.req, c.caller, c.repo, c.args[0]); }},
        {"POST", split("git/refs"), write, Denial::integration, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.createRef(c.req, c.repo); }},
        {"GET", split("git/commits/*"), read, Denial::hidden, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.getCommit(c.repo, c.args[0]); }},
        {"POST", split("git/commits"), write, Denial::integration, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.createCommit(c.req, c.caller, c.repo); }},
        {"GET", split("git/trees/*"), read, Denial::hidden, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.getTree(c.req, c.repo, c.args[0]); }},
        {"POST", split("git/trees"), write, Denial::integration, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.createTree(c.req, c.repo); }},
        {"GET", split("git/blobs/*"), read, Denial::hidden, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.getBlob(c.repo, c.args[0]); }},
        {"POST", split("git/blobs"), write, Denial::integration, Gate::hasCommits, kGitDoc,
         [](B &b, const C &c) { return b.createBlob(c.req, c.repo); }},
        {"GET", split("contents"), read, Denial::hidden, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.getContents(c.req, c.repo, QString()); }},
        {"GET", split("contents/**"), read, Denial::hidden, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.getContents(c.req, c.repo, c.args[0]); }},
        {"GET", split("collaborators"), write, Denial::hidden, Gate::none, kCollaboratorsDoc,
         [](B &b, const C &c) { return b.listCollaborators(c.req, c.repo); }},
        {"GET", split("branches"), read, Denial::hidden, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.listBranches(c); }},
        {"GET", split("branches/*/protection"), admin, Denial::adminRights, Gate::planAllowsPrivate,
         kProtectionDoc,
         [](B &b, const C &c) {
             if (auto refusal = b.protectionRefusal(c))
                 return *refusal;
             return b.getProtection(c.repo);
         }},
        {"PUT", split("branches/*/protection"), admin, Denial::adminRights, Gate::planAllowsPrivate,
         kProtectionDoc,
         [](B &b, const C &c) {
             if (auto refusal = b.protectionRefusal(c))
                 return *refusal;
             return b.putProtection(c.req, c.repo);
         }},
        {"DELETE", split("branches/*/protection"), admin, Denial::adminRights,
         Gate::planAllowsPrivate, kProtectionDoc,
         [](B &b, const C &c) {
             if (auto refusal = b.protectionRefusal(c))
                 return *refusal;
             return b.deleteProtection(c.repo);
         }},
        // After the protection rows: branch names may contain slashes.
        {"GET", split("branches/**"), read, Denial::hidden, Gate::none, kReposDoc,
         [](B &b, const C &c) { return b.getBranch(c); }},
        {"GET", split("compare/**"), read, Denial::hidden, Gate::hasCommits, kCommitsDoc,
         [](B &b, const C &c) { return b.compare(c); }},
        {"GET", split("commits/*/pulls"), read, Denial::hidden, Gate::hasCommits, kCommitsDoc,
         [](B &b, const C &c) { return b.commitPulls(c); }},
        {"GET", split("commits/*"), read, Denial::hidden, Gate::hasCommits, kCommitsDoc,
         [](B &b, const C &c) { return b.getCommit(c); }},
        {"GET", split("pulls"), read, Denial::hidden, Gate::none, kPullsDoc,
         [](B &b, const C &c) { return b.listPulls(c); }},
        {"POST", split("pulls"), read, Denial::hidden, Gate::hasCommits, kPullsDoc,
         [](B &b, const C &c) {
             if (auto refusal = b.anonymousRefusal(c))
                 return *refusal;
             return b.createPull(c);
         }},
        {"GET", split("pulls/*"), read, Denial::hidden, Gate::none, kPullsDoc,
         [](B &b, const C &c) { return b.getPull(c); }},
        {"GET", split("pulls/*/reviews"), read, Denial::hidden, Gate::none, kPullsDoc,
         [](B &b, const C &c) { return b.listReviews(c); }},
        {"POST", split("pulls/*/reviews"), read, Denial::hidden, Gate::none, kPullsDoc,
         [](B &b, const C &c) {
             if (auto refusal = b.anonymousRefusal(c))
                 return *refusal;
             return b.createReview(c);
         }},
        {"PUT", split("pulls/*/merge"), write, Denial::integration, Gate::none, kPullsDoc,
         [](B &b, const C &c) { return b.mergePull(c); }},
        {"GET", split("releases/latest"), read, Denial::hidden, Gate::none, kReleasesDoc,
         [](B &b, const C &c) { return b.getLatestRelease(c); }},
    };

    QStringList args;
    for (const RepoRoute &route : routes) {
        if (route.method != req.method || !matchRoute(route.pattern, rest, &args))
            continue;
        if (route.gate == Gate::planAllowsPrivate && r.isPrivate) {
            const EmuOrg *o = org(r.owner);
            if (o && o->options.refusesPrivateProtection)
                return error(403,
                             QStringLiteral("Upgrade to GitHub Team or make this repository "
                                            "public to enable this feature."),
                             route.doc);
        }
        if (accessOf(r, caller.user) < route.access) {
            if (route.denial == Denial::adminRights)
                return error(403, QStringLiteral("Must have admin rights to Repository."),
                             route.doc);
            if (route.denial == Denial::integration && caller.token && caller.token->appUser)
                return error(403, QStringLiteral("Resource not accessible by integration"),
                             QStringLiteral("rest"));
            return notFound(route.doc);
        }
        if (route.gate == Gate::hasCommits && r.refs.isEmpty())
            return error(409, QStringLiteral("Git Repository is empty."), route.doc);
        return route.handle(*this, RepoCall{req, caller, r, args});
    }
    return notFound();
}

// --- repository-level handlers ----------------------------------------------

HttpReply EmulatorBackend::getRepo(const RepoCall &call) {
    return json(200, QJsonDocument(repoJson(call.repo, call.caller.user)));
}

HttpReply EmulatorBackend::updateRepo(const RepoCall &call) {
    const QString doc = kReposDoc + QStringLiteral("#update-a-repository");
    const auto body = jsonBody(call.req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    EmuRepo &r = call.repo;
    if (body->contains("description"))
        r.description = body->value("description").toString();
    const QJsonValue name = body->value("name");
    if (name.isUndefined() || name.toString() == r.name)
        return json(200, QJsonDocument(repoJson(r, call.caller.user)));
    static const QRegularExpression bad(QStringLiteral("[^A-Za-z0-9._-]"));
    const QString newName = name.toString().replace(bad, QStringLiteral("-"));
    if (newName.isEmpty())
        return validation(QStringLiteral("Invalid request.\n\nname cannot be blank."), doc);
    const QString oldKey = key(r.owner) + QLatin1Char('/') + key(r.name);
    const QString newKey = key(r.owner) + QLatin1Char('/') + key(newName);
    if (newKey != oldKey && repos.count(newKey))
        return validation(QStringLiteral("name already exists on this account"), doc);
    EmuRepo moved = std::move(r);
    repos.erase(oldKey);
    moved.name = newName;
    const qint64 id = moved.id;
    repos[newKey] = std::move(moved);
    // The old name keeps pointing here until a repository takes it.
    if (newKey != oldKey)
        movedRepos[oldKey] = id;
    movedRepos.erase(newKey);
    return json(200, QJsonDocument(repoJson(repos[newKey], call.caller.user)));
}

HttpReply EmulatorBackend::deleteRepo(const RepoCall &call) {
    repos.erase(key(call.repo.owner) + QLatin1Char('/') + key(call.repo.name));
    HttpReply reply;
    reply.status = 204;
    return reply;
}

HttpReply EmulatorBackend::listBranches(const RepoCall &call) {
    const EmuRepo &r = call.repo;
    QJsonArray list;
    for (auto it = r.refs.cbegin(); it != r.refs.cend(); ++it) {
        if (!it.key().startsWith(QLatin1String("heads/")))
            continue;
        const QString name = it.key().mid(6);
        list.append(QJsonObject{
            {"name", name},
            {"commit",
             QJsonObject{{"sha", it.value()},
                         {"url", repoApiUrl(r) + QStringLiteral("/commits/") + it.value()}}},
            {"protected", name == QLatin1String("main") && r.protection.has_value()}});
    }
    return json(200, QJsonDocument(list));
}

HttpReply EmulatorBackend::getBranch(const RepoCall &call) {
    const EmuRepo &r = call.repo;
    const QString name = call.args.value(0);
    const QString sha = r.refs.value(QStringLiteral("heads/") + name);
    if (sha.isEmpty())
        return error(404, QStringLiteral("Branch not found"),
                     QStringLiteral("rest/branches/branches#get-a-branch"));
    const bool isProtected = name == QLatin1String("main") && r.protection.has_value();
    const QString self = repoApiUrl(r) + QStringLiteral("/branches/") + name;
    QJsonObject checks{
        {"enforcement_level", "off"}, {"contexts", QJsonArray{}}, {"checks", QJsonArray{}}};
    if (isProtected && r.protection->value("required_status_checks").isObject()) {
        const QJsonObject full = protectionJson(r).value("required_status_checks").toObject();
        checks = QJsonObject{{"enforcement_level", r.protection->value("enforce_admins").toBool()
                                                       ? "everyone"
                                                       : "non_admins"},
                             {"contexts", full.value("contexts")},
                             {"checks", full.value("checks")}};
    }
    return json(200, QJsonDocument(QJsonObject{
                         {"name", name},
                         {"commit", repoCommitJson(r, sha)},
                         {"_links", QJsonObject{{"self", self},
                                                {"html", webBase + QLatin1Char('/') + r.fullName() +
                                                             QStringLiteral("/tree/") + name}}},
                         {"protected", isProtected},
                         {"protection", QJsonObject{{"enabled", isProtected},
                                                    {"required_status_checks", checks}}},
                         {"protection_url", self + QStringLiteral("/protection")}}));
}

// Public repositories are readable without a token, but acting on them is not.
std::optional<HttpReply> EmulatorBackend::anonymousRefusal(const RepoCall &call) {
    if (call.caller.user)
        return std::nullopt;
    return error(401, QStringLiteral("Requires authentication"), kPullsDoc);
}

// Only main carries protection here; other branches exist or not.
std::optional<HttpReply> EmulatorBackend::protectionRefusal(const RepoCall &call) {
    const QString branch = call.args.value(0);
    if (!call.repo.refs.contains(QStringLiteral("heads/") + branch))
        return error(404, QStringLiteral("Branch not found"), kProtectionDoc);
    if (branch == QLatin1String("main"))
        return std::nullopt;
    if (call.req.method == "GET")
        return error(404, QStringLiteral("Branch not protected"), kProtectionDoc);
    return error(422, QStringLiteral("Only main can be protected here"), kProtectionDoc);
}

} // namespace ghemu
