// Comparing commits, pull requests and their reviews, and merging them under
// the branch protection of the base, as GitHub enforces it.
#include "EmulatorBackend.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <functional>

namespace ghemu {

namespace {

const QString kCompareDoc = QStringLiteral("rest/commits/commits#compare-two-commits");
const QString kPullsDoc = QStringLiteral("rest/pulls/pulls");
const QString kReviewsDoc = QStringLiteral("rest/pulls/reviews");

QString isoDate(const QDateTime &t) {
    return t.isValid() ? t.toUTC().toString(Qt::ISODate) : QString();
}

QJsonValue dateOrNull(const QDateTime &t) {
    return t.isValid() ? QJsonValue(isoDate(t)) : QJsonValue(QJsonValue::Null);
}

QDateTime nowSeconds() {
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
}

QSet<QString> reachable(const GitObjectStore &store, const QString &from) {
    QSet<QString> seen;
    QStringList queue{from};
    while (!queue.isEmpty()) {
        const QString sha = queue.takeFirst();
        if (sha.isEmpty() || seen.contains(sha))
            continue;
        seen.insert(sha);
        if (const auto c = store.commit(sha))
            queue += c->parents;
    }
    return seen;
}

// Commits reachable from head but not from base, parents before children.
QStringList commitsBetween(const GitObjectStore &store, const QString &base, const QString &head) {
    const QSet<QString> excluded = reachable(store, base);
    QStringList out;
    QSet<QString> visited;
    const std::function<void(const QString &)> visit = [&](const QString &sha) {
        if (sha.isEmpty() || excluded.contains(sha) || visited.contains(sha))
            return;
        visited.insert(sha);
        if (const auto c = store.commit(sha)) {
            for (const QString &p : c->parents)
                visit(p);
        }
        out.append(sha);
    };
    visit(head);
    return out;
}

QString mergeBase(const GitObjectStore &store, const QString &a, const QString &b) {
    const QSet<QString> ofA = reachable(store, a);
    QStringList queue{b};
    QSet<QString> seen;
    while (!queue.isEmpty()) {
        const QString sha = queue.takeFirst();
        if (ofA.contains(sha))
            return sha;
        if (seen.contains(sha))
            continue;
        seen.insert(sha);
        if (const auto c = store.commit(sha))
            queue += c->parents;
    }
    return {};
}

QString treeOf(const GitObjectStore &store, const QString &commit) {
    const auto c = store.commit(commit);
    return c ? c->tree : GitObjectStore::emptyTreeSha();
}

// Every non-directory entry under a tree by path, with its mode.
QMap<QString, GitTreeEntry> flatten(const GitObjectStore &store, const QString &tree) {
    QMap<QString, GitTreeEntry> out;
    const std::function<void(const QString &, const QString &)> walk = [&](const QString &sha,
                                                                           const QString &prefix) {
        for (const auto &e : store.tree(sha).value_or(QList<GitTreeEntry>())) {
            if (e.type() == QLatin1String("tree"))
                walk(e.sha, prefix + e.name + QLatin1Char('/'));
            else
                out.insert(prefix + e.name, e);
        }
    };
    walk(tree, QString());
    return out;
}

// Paths whose entry differs between two trees.
QStringList changedPaths(const GitObjectStore &store, const QString &from, const QString &to) {
    const auto a = flatten(store, from);
    const auto b = flatten(store, to);
    QStringList out;
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        const auto other = b.constFind(it.key());
        if (other == b.cend() || other->sha != it->sha || other->mode != it->mode)
            out << it.key();
    }
    for (auto it = b.cbegin(); it != b.cend(); ++it) {
        if (!a.contains(it.key()))
            out << it.key();
    }
    out.sort();
    return out;
}

// A file-level three-way merge: the changes from base to theirs laid over
// ours; none when both sides changed one path differently.
std::optional<QString> mergeTrees(GitObjectStore &store, const QString &base, const QString &ours,
                                  const QString &theirs) {
    const auto b = flatten(store, base);
    const auto o = flatten(store, ours);
    const auto t = flatten(store, theirs);
    QList<GitTreeChange> changes;
    for (const QString &path : changedPaths(store, base, theirs)) {
        const auto before = b.value(path);
        const auto mine = o.value(path);
        const auto wanted = t.value(path);
        const bool oursUnchanged = mine.sha == before.sha && mine.mode == before.mode;
        const bool sameAsTheirs = mine.sha == wanted.sha && mine.mode == wanted.mode;
        if (!oursUnchanged && !sameAsTheirs)
            return std::nullopt;
        if (t.contains(path))
            changes.append({path, wanted.mode, wanted.sha});
        else if (o.contains(path))
            changes.append({path, QString(), std::nullopt});
    }
    QString err;
    return store.applyChanges(ours, changes, &err);
}

// Lines added and removed, counted as multisets (enough for the counters).
QPair<int, int> lineCounts(const std::optional<QByteArray> &before,
                           const std::optional<QByteArray> &after) {
    QMap<QByteArray, int> lines;
    for (const QByteArray &l : before.value_or(QByteArray()).split('\n'))
        ++lines[l];
    int added = 0;
    for (const QByteArray &l : after.value_or(QByteArray()).split('\n')) {
        if (lines.value(l) > 0)
            --lines[l];
        else
            ++added;
    }
    int removed = 0;
    for (int n : lines)
        removed += n;
    if (!before)
        removed = 0;
    if (!after)
        added = 0;
    return {added, removed};
}

// A CODEOWNERS pattern as git's ignore rules read it.
bool ownersPatternMatches(QString pattern, const QString &path) {
    const bool directory = pattern.endsWith(QLatin1Char('/'));
    if (directory)
        pattern.chop(1);
    const bool anchored =
        pattern.startsWith(QLatin1Char('/')) || pattern.contains(QLatin1Char('/'));
    if (pattern.startsWith(QLatin1Char('/')))
        pattern.remove(0, 1);
    QString re;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('*') && pattern.mid(i, 2) == QLatin1String("**")) {
            re += QStringLiteral(".*");
            ++i;
        } else if (c == QLatin1Char('*')) {
            re += QStringLiteral("[^/]*");
        } else if (c == QLatin1Char('?')) {
            re += QStringLiteral("[^/]");
        } else {
            re += QRegularExpression::escape(QString(c));
        }
    }
    re = (anchored ? QStringLiteral("^") : QStringLiteral("^(.*/)?")) + re +
         (directory ? QStringLiteral("/.*$") : QStringLiteral("(/.*)?$"));
    return QRegularExpression(re).match(path).hasMatch();
}

} // namespace

// --- protection on pushes ------------------------------------------------

std::optional<QString> EmulatorBackend::pushRefusal(const EmuRepo &r, const QString &ref,
                                                    const EmuUser *user, bool fastForward) const {
    if (ref != QLatin1String("heads/main") || !r.protection)
        return std::nullopt;
    const QJsonObject &p = *r.protection;
    if (accessOf(r, user) == Access::Admin && !p.value("enforce_admins").toBool(false))
        return std::nullopt;
    if (p.value("required_pull_request_reviews").isObject() || p.value("lock_branch").toBool(false))
        return QStringLiteral("Changes must be made through a pull request.");
    const QJsonObject checks = p.value("required_status_checks").toObject();
    QStringList contexts;
    for (const auto &c : checks.value("contexts").toArray())
        contexts << c.toString();
    for (const auto &c : checks.value("checks").toArray())
        contexts << c.toObject().value("context").toString();
    if (!contexts.isEmpty())
        return QStringLiteral("Required status check \"%1\" is expected.").arg(contexts.first());
    if (!fastForward && !p.value("allow_force_pushes").toBool(false))
        return QStringLiteral("Cannot force-push to this branch");
    if (p.value("restrictions").isObject()) {
        QStringList allowed;
        for (const auto &u : p.value("restrictions").toObject().value("users").toArray())
            allowed << key(u.toString());
        if (!user || !allowed.contains(key(user->login)))
            return QStringLiteral("You're not authorized to push to this branch.");
    }
    return std::nullopt;
}

void EmulatorBackend::dismissStaleReviews(EmuRepo &r, const QString &branch) {
    for (EmuPull &pull : r.pulls) {
        if (!pull.open || pull.headRef != branch || pull.baseRef != QLatin1String("main") ||
            !r.protection)
            continue;
        const QJsonObject reviews = r.protection->value("required_pull_request_reviews").toObject();
        if (!reviews.value("dismiss_stale_reviews").toBool(false))
            continue;
        const QString head = pullHead(r, pull);
        for (EmuReview &review : pull.reviews) {
            if (review.state == QLatin1String("APPROVED") && review.commitId != head)
                review.state = QStringLiteral("DISMISSED");
        }
    }
}

// --- compare -------------------------------------------------------------

// The files that differ between two trees, as GitHub lists them in a
// comparison or a commit; `base` and `head` name the commits the links use.
QJsonArray EmulatorBackend::fileChanges(const EmuRepo &r, const QString &from, const QString &to,
                                        const QString &base, const QString &head) const {
    const GitObjectStore &store = r.objects;
    const auto before = flatten(store, from);
    const auto after = flatten(store, to);
    const QString api = repoApiUrl(r);
    const QString web = webBase + QLatin1Char('/') + r.fullName();
    QJsonArray files;
    for (const QString &path : changedPaths(store, from, to)) {
        const bool added = !before.contains(path);
        const bool removed = !after.contains(path);
        const QString sha = removed ? before.value(path).sha : after.value(path).sha;
        const auto [plus, minus] =
            lineCounts(added ? std::nullopt : store.blob(before.value(path).sha),
                       removed ? std::nullopt : store.blob(after.value(path).sha));
        const QString at = removed ? base : head;
        files.append(
            QJsonObject{{"sha", sha},
                        {"filename", path},
                        {"status", added     ? "added"
                                   : removed ? "removed"
                                             : "modified"},
                        {"additions", plus},
                        {"deletions", minus},
                        {"changes", plus + minus},
                        {"blob_url", web + QStringLiteral("/blob/") + at + QLatin1Char('/') + path},
                        {"raw_url", web + QStringLiteral("/raw/") + at + QLatin1Char('/') + path},
                        {"contents_url", api + QStringLiteral("/contents/") + path +
                                             QStringLiteral("?ref=") + at}});
    }
    return files;
}

HttpReply EmulatorBackend::compare(const RepoCall &call) {
    const EmuRepo &r = call.repo;
    const QString range = call.args.value(0);
    qsizetype dots = range.indexOf(QLatin1String("..."));
    const int width = dots >= 0 ? 3 : 2;
    if (dots < 0)
        dots = range.indexOf(QLatin1String(".."));
    if (dots <= 0)
        return notFound(kCompareDoc);
    const QString baseName = range.left(dots);
    const QString headName = range.mid(dots + width);
    const QString base = resolveCommit(r, baseName);
    const QString head = resolveCommit(r, headName);
    if (base.isEmpty() || head.isEmpty())
        return notFound(kCompareDoc);
    const GitObjectStore &store = r.objects;
    const QString forkPoint = mergeBase(store, base, head);
    const QStringList ahead = commitsBetween(store, base, head);
    const QStringList behind = commitsBetween(store, head, base);
    QString status = QStringLiteral("diverged");
    if (ahead.isEmpty() && behind.isEmpty())
        status = QStringLiteral("identical");
    else if (behind.isEmpty())
        status = QStringLiteral("ahead");
    else if (ahead.isEmpty())
        status = QStringLiteral("behind");
    QJsonArray commits;
    for (const QString &sha : ahead)
        commits.append(repoCommitJson(r, sha));
    // Three dots: what head changed since the fork point.
    const QString from = treeOf(store, forkPoint);
    const QString to = treeOf(store, head);
    const QJsonArray files = fileChanges(r, from, to, base, head);
    const QString api = repoApiUrl(r);
    const QString web = webBase + QLatin1Char('/') + r.fullName();
    const QString url = api + QStringLiteral("/compare/") + range;
    return json(200, QJsonDocument(QJsonObject{
                         {"url", url},
                         {"html_url", web + QStringLiteral("/compare/") + range},
                         {"permalink_url",
                          web + QStringLiteral("/compare/") + base + QStringLiteral("...") + head},
                         {"diff_url", web + QStringLiteral("/compare/") + range + ".diff"},
                         {"patch_url", web + QStringLiteral("/compare/") + range + ".patch"},
                         {"base_commit", repoCommitJson(r, base)},
                         {"merge_base_commit", forkPoint.isEmpty()
                                                   ? QJsonValue(QJsonValue::Null)
                                                   : QJsonValue(repoCommitJson(r, forkPoint))},
                         {"status", status},
                         {"ahead_by", ahead.size()},
                         {"behind_by", behind.size()},
                         {"total_commits", ahead.size()},
                         {"commits", commits},
                         {"files", files}}));
}

// --- pull requests -------------------------------------------------------

EmuPull *EmulatorBackend::pullOf(EmuRepo &r, const QString &number) {
    for (EmuPull &pull : r.pulls) {
        if (QString::number(pull.number) == number)
            return &pull;
    }
    return nullptr;
}

QString EmulatorBackend::pullHead(const EmuRepo &r, const EmuPull &pull) const {
    if (!pull.open || !pull.closedHeadSha.isEmpty())
        return pull.closedHeadSha;
    return r.refs.value(QStringLiteral("heads/") + pull.headRef);
}

QJsonObject EmulatorBackend::pullJson(const EmuRepo &r, const EmuPull &pull, bool full) const {
    const QString api = repoApiUrl(r) + QStringLiteral("/pulls/") + QString::number(pull.number);
    const QString html = webBase + QLatin1Char('/') + r.fullName() + QStringLiteral("/pull/") +
                         QString::number(pull.number);
    const auto o = orgs.find(key(r.owner));
    QJsonObject ownerJson;
    if (o != orgs.end()) {
        ownerJson = orgSimpleJson(o->second);
        ownerJson.insert("type", "Organization");
    }
    const auto side = [&](const QString &ref, const QString &sha) {
        return QJsonObject{{"label", r.owner + QLatin1Char(':') + ref},
                           {"ref", ref},
                           {"sha", sha},
                           {"user", ownerJson},
                           {"repo", repoJson(r, nullptr)}};
    };
    const auto author = users.find(pull.userKey);
    const bool merged = pull.mergedAt.isValid();
    const QString head = pullHead(r, pull);
    QJsonObject j{
        {"url", api},
        {"id", pull.id},
        {"node_id",
         QString::fromLatin1(("010:PullRequest" + QByteArray::number(pull.id)).toBase64())},
        {"html_url", html},
        {"diff_url", html + QStringLiteral(".diff")},
        {"patch_url", html + QStringLiteral(".patch")},
        {"number", pull.number},
        {"state", pull.open ? "open" : "closed"},
        {"locked", false},
        {"title", pull.title},
        {"user", author == users.end() ? QJsonValue(QJsonValue::Null)
                                       : QJsonValue(userJson(author->second))},
        {"body", pull.body.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(pull.body)},
        {"created_at", isoDate(pull.createdAt)},
        {"updated_at", isoDate(pull.closedAt.isValid() ? pull.closedAt : pull.createdAt)},
        {"closed_at", dateOrNull(pull.closedAt)},
        {"merged_at", dateOrNull(pull.mergedAt)},
        {"merge_commit_sha", pull.mergeCommitSha.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                           : QJsonValue(pull.mergeCommitSha)},
        {"assignees", QJsonArray{}},
        {"requested_reviewers", QJsonArray{}},
        {"labels", QJsonArray{}},
        {"draft", false},
        {"head", side(pull.headRef, head)},
        {"base", side(pull.baseRef, r.refs.value(QStringLiteral("heads/") + pull.baseRef))},
        {"_links",
         QJsonObject{{"self", QJsonObject{{"href", api}}}, {"html", QJsonObject{{"href", html}}}}},
        {"author_association", "MEMBER"},
        {"auto_merge", QJsonValue::Null}};
    if (full) {
        const auto merger = users.find(pull.mergedBy);
        const QStringList own =
            pull.open ? commitsBetween(r.objects,
                                       r.refs.value(QStringLiteral("heads/") + pull.baseRef), head)
                      : pull.commits;
        j.insert("merged", merged);
        j.insert("mergeable", pull.open ? QJsonValue(true) : QJsonValue(QJsonValue::Null));
        j.insert("mergeable_state", pull.open ? "clean" : "unknown");
        j.insert("merged_by", merger == users.end() ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(userJson(merger->second)));
        j.insert("comments", 0);
        j.insert("review_comments", 0);
        j.insert("commits", own.size());
    }
    return j;
}

QJsonObject EmulatorBackend::reviewJson(const EmuRepo &r, const EmuPull &pull,
                                        const EmuReview &review) const {
    const QString pullUrl =
        repoApiUrl(r) + QStringLiteral("/pulls/") + QString::number(pull.number);
    const QString html = webBase + QLatin1Char('/') + r.fullName() + QStringLiteral("/pull/") +
                         QString::number(pull.number) + QStringLiteral("#pullrequestreview-") +
                         QString::number(review.id);
    const auto reviewer = users.find(review.userKey);
    const auto o = orgs.find(key(r.owner));
    QString association = QStringLiteral("NONE");
    if (o != orgs.end() && o->second.members.contains(review.userKey))
        association = QStringLiteral("MEMBER");
    else if (r.collaborators.contains(review.userKey))
        association = QStringLiteral("COLLABORATOR");
    return {{"id", review.id},
            {"node_id", QString::fromLatin1(
                            ("017:PullRequestReview" + QByteArray::number(review.id)).toBase64())},
            {"user", reviewer == users.end() ? QJsonValue(QJsonValue::Null)
                                             : QJsonValue(userJson(reviewer->second))},
            {"body", review.body},
            {"state", review.state},
            {"html_url", html},
            {"pull_request_url", pullUrl},
            {"author_association", association},
            {"_links", QJsonObject{{"html", QJsonObject{{"href", html}}},
                                   {"pull_request", QJsonObject{{"href", pullUrl}}}}},
            {"submitted_at", isoDate(review.submittedAt)},
            {"commit_id", review.commitId}};
}

HttpReply EmulatorBackend::createPull(const RepoCall &call) {
    const QString doc = kPullsDoc + QStringLiteral("#create-a-pull-request");
    const auto body = jsonBody(call.req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    EmuRepo &r = call.repo;
    const auto failed = [&](const QJsonObject &detail) {
        QJsonObject e = detail;
        e.insert("resource", "PullRequest");
        return unprocessable(QStringLiteral("Validation Failed"), QJsonArray{e}, doc);
    };
    QString head = body->value("head").toString();
    if (head.contains(QLatin1Char(':'))) // "owner:branch"
        head = head.section(QLatin1Char(':'), 1);
    const QString base = body->value("base").toString();
    if (body->value("title").toString().isEmpty())
        return failed({{"field", "title"}, {"code", "missing_field"}});
    if (!r.refs.contains(QStringLiteral("heads/") + base))
        return failed({{"field", "base"}, {"code", "invalid"}});
    if (!r.refs.contains(QStringLiteral("heads/") + head))
        return failed({{"field", "head"}, {"code", "invalid"}});
    for (const EmuPull &other : r.pulls) {
        if (other.open && other.headRef == head && other.baseRef == base)
            return failed(
                {{"code", "custom"},
                 {"message",
                  QStringLiteral("A pull request already exists for %1:%2.").arg(r.owner, head)}});
    }
    if (commitsBetween(r.objects, r.refs.value(QStringLiteral("heads/") + base),
                       r.refs.value(QStringLiteral("heads/") + head))
            .isEmpty())
        return failed(
            {{"code", "custom"},
             {"message", QStringLiteral("No commits between %1 and %2").arg(base, head)}});
    EmuPull pull;
    pull.number = r.pulls.isEmpty() ? 1 : r.pulls.last().number + 1;
    pull.id = ++nextId;
    pull.title = body->value("title").toString();
    pull.body = body->value("body").toString();
    pull.headRef = head;
    pull.baseRef = base;
    pull.userKey = key(call.caller.user->login);
    pull.createdAt = nowSeconds();
    r.pulls.append(pull);
    HttpReply reply = json(201, QJsonDocument(pullJson(r, r.pulls.last(), true)));
    reply.setHeader(
        "Location",
        (repoApiUrl(r) + QStringLiteral("/pulls/") + QString::number(pull.number)).toUtf8());
    return reply;
}

HttpReply EmulatorBackend::listPulls(const RepoCall &call) {
    const QString state = call.req.query.queryItemValue(QStringLiteral("state"));
    QJsonArray list;
    // Newest first, as GitHub lists them by default.
    for (auto it = call.repo.pulls.crbegin(); it != call.repo.pulls.crend(); ++it) {
        if (state == QLatin1String("all") || (state == QLatin1String("closed")) != it->open)
            list.append(pullJson(call.repo, *it, false));
    }
    return json(200, QJsonDocument(list));
}

HttpReply EmulatorBackend::getPull(const RepoCall &call) {
    const EmuPull *pull = pullOf(call.repo, call.args.value(0));
    if (!pull)
        return notFound(kPullsDoc + QStringLiteral("#get-a-pull-request"));
    return json(200, QJsonDocument(pullJson(call.repo, *pull, true)));
}

HttpReply EmulatorBackend::createReview(const RepoCall &call) {
    const QString doc = kReviewsDoc + QStringLiteral("#create-a-review-for-a-pull-request");
    EmuRepo &r = call.repo;
    EmuPull *pull = pullOf(r, call.args.value(0));
    if (!pull)
        return notFound(doc);
    const auto body = jsonBody(call.req);
    if (!body)
        return error(400, QStringLiteral("Problems parsing JSON"), doc);
    const QString event = body->value("event").toString();
    static const QMap<QString, QString> states{{"APPROVE", "APPROVED"},
                                               {"REQUEST_CHANGES", "CHANGES_REQUESTED"},
                                               {"COMMENT", "COMMENTED"}};
    const auto unprocessable = [&](const QString &why) {
        return this->unprocessable(QStringLiteral("Unprocessable Entity"), QJsonArray{why}, doc);
    };
    if (!states.contains(event))
        return validation(QStringLiteral("Invalid request.\n\nFor 'properties/event', \"%1\" is "
                                         "not one of [\"APPROVE\", \"REQUEST_CHANGES\", "
                                         "\"COMMENT\"].")
                              .arg(event),
                          doc);
    const bool own = key(call.caller.user->login) == pull->userKey;
    if (own && event == QLatin1String("APPROVE"))
        return unprocessable(QStringLiteral("Can not approve your own pull request"));
    if (own && event == QLatin1String("REQUEST_CHANGES"))
        return unprocessable(QStringLiteral("Can not request changes on your own pull request"));
    if (event != QLatin1String("APPROVE") && body->value("body").toString().isEmpty())
        return unprocessable(
            QStringLiteral("Body is required for \"%1\" reviews").arg(event.toLower()));
    EmuReview review;
    review.id = ++nextId;
    review.userKey = key(call.caller.user->login);
    review.state = states.value(event);
    review.body = body->value("body").toString();
    review.commitId = body->value("commit_id").toString(pullHead(r, *pull));
    review.submittedAt = nowSeconds();
    pull->reviews.append(review);
    return json(200, QJsonDocument(reviewJson(r, *pull, review)));
}

HttpReply EmulatorBackend::listReviews(const RepoCall &call) {
    const EmuPull *pull = pullOf(call.repo, call.args.value(0));
    if (!pull)
        return notFound(kReviewsDoc + QStringLiteral("#list-reviews-for-a-pull-request"));
    QJsonArray list;
    for (const EmuReview &review : pull->reviews)
        list.append(reviewJson(call.repo, *pull, review));
    return json(200, QJsonDocument(list));
}

QSet<QString> EmulatorBackend::codeOwners(const EmuRepo &r, const QString &tree,
                                          const QString &path) const {
    std::optional<QByteArray> text;
    for (const QString &at : {QStringLiteral(".github/CODEOWNERS"), QStringLiteral("CODEOWNERS"),
                              QStringLiteral("docs/CODEOWNERS")}) {
        if (const auto entry = r.objects.lookup(tree, at)) {
            text = r.objects.blob(entry->sha);
            break;
        }
    }
    QSet<QString> owners;
    // The last matching line wins.
    for (const QByteArray &raw : text.value_or(QByteArray()).split('\n')) {
        const QString line = QString::fromUtf8(raw).section(QLatin1Char('#'), 0, 0).trimmed();
        const QStringList parts =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (parts.isEmpty() || !ownersPatternMatches(parts.first(), path))
            continue;
        owners.clear();
        const auto o = orgs.find(key(r.owner));
        for (const QString &owner : parts.mid(1)) {
            if (!owner.startsWith(QLatin1Char('@')))
                continue;
            const QString name = owner.mid(1);
            if (!name.contains(QLatin1Char('/'))) {
                owners.insert(key(name));
            } else if (o != orgs.end() &&
                       key(name.section(QLatin1Char('/'), 0, 0)) == key(o->second.login)) {
                for (const EmuTeam &team : o->second.teams) {
                    if (key(team.name) == key(name.section(QLatin1Char('/'), 1)))
                        for (const QString &member : team.members)
                            owners.insert(member);
                }
            }
        }
    }
    return owners;
}

std::optional<QString> EmulatorBackend::mergeRefusal(const EmuRepo &r, const EmuPull &pull,
                                                     const EmuUser *merger,
                                                     const QString &method) const {
    if (pull.baseRef != QLatin1String("main") || !r.protection)
        return std::nullopt;
    const QJsonObject &p = *r.protection;
    if (p.value("lock_branch").toBool(false))
        return QStringLiteral("Branch is locked.");
    if (method == QLatin1String("merge") && p.value("required_linear_history").toBool(false))
        return QStringLiteral("This branch must not contain merge commits.");
    // Administrators may override the remaining rules unless they are enforced for them too.
    if (accessOf(r, merger) == Access::Admin && !p.value("enforce_admins").toBool(false))
        return std::nullopt;
    if (const auto refusal = pushRefusal(r, QStringLiteral("heads/main"), merger, true);
        refusal && !refusal->startsWith(QLatin1String("Changes must be made")))
        return refusal;
    const QJsonObject rules = p.value("required_pull_request_reviews").toObject();
    if (!p.value("required_pull_request_reviews").isObject())
        return std::nullopt;
    const QJsonObject bypass = rules.value("bypass_pull_request_allowances").toObject();
    for (const auto &u : bypass.value("users").toArray()) {
        if (merger && key(u.toString()) == key(merger->login))
            return std::nullopt;
    }
    // Each reviewer's latest verdict counts; comments leave it as it was.
    QMap<QString, QString> verdicts;
    for (const EmuReview &review : pull.reviews) {
        if (review.state != QLatin1String("COMMENTED"))
            verdicts.insert(review.userKey, review.state);
    }
    QSet<QString> approvers;
    for (auto it = verdicts.cbegin(); it != verdicts.cend(); ++it) {
        const auto u = users.find(it.key());
        if (u == users.end() || accessOf(r, &u->second) < Access::Write)
            continue;
        if (it.value() == QLatin1String("CHANGES_REQUESTED"))
            return QStringLiteral("Changes requested by a reviewer with write access.");
        if (it.value() == QLatin1String("APPROVED"))
            approvers.insert(it.key());
    }
    const int needed = rules.value("required_approving_review_count").toInt(1);
    if (approvers.size() < needed)
        return needed == 1 ? QStringLiteral("At least 1 approving review is required by reviewers "
                                            "with write access.")
                           : QStringLiteral("At least %1 approving reviews are required by "
                                            "reviewers with write access.")
                                 .arg(needed);
    if (rules.value("require_code_owner_reviews").toBool(false)) {
        const QString baseHead = r.refs.value(QStringLiteral("heads/") + pull.baseRef);
        const QString baseTree = treeOf(r.objects, baseHead);
        const QString head = pullHead(r, pull);
        const QString from = treeOf(r.objects, mergeBase(r.objects, baseHead, head));
        for (const QString &path : changedPaths(r.objects, from, treeOf(r.objects, head))) {
            const QSet<QString> owners = codeOwners(r, baseTree, path);
            if (!owners.isEmpty() && !owners.intersects(approvers)) {
                QStringList names = owners.values();
                names.sort();
                return QStringLiteral("Waiting on code owner review from @%1.")
                    .arg(names.join(QStringLiteral(", @")));
            }
        }
    }
    return std::nullopt;
}

HttpReply EmulatorBackend::mergePull(const RepoCall &call) {
    const QString doc = kPullsDoc + QStringLiteral("#merge-a-pull-request");
    EmuRepo &r = call.repo;
    EmuPull *pull = pullOf(r, call.args.value(0));
    if (!pull)
        return notFound(doc);
    QJsonObject body = jsonBody(call.req).value_or(QJsonObject());
    const QString method = body.value("merge_method").toString(QStringLiteral("merge"));
    if (method != QLatin1String("merge") && method != QLatin1String("squash") &&
        method != QLatin1String("rebase"))
        return validation(QStringLiteral("Invalid request.\n\nFor 'properties/merge_method', "
                                         "\"%1\" is not one of [\"merge\", \"squash\", "
                                         "\"rebase\"].")
                              .arg(method),
                          doc);
    const QString head = pullHead(r, *pull);
    const QString baseHead = r.refs.value(QStringLiteral("heads/") + pull->baseRef);
    if (!pull->open || head.isEmpty() || baseHead.isEmpty())
        return error(405, QStringLiteral("Pull Request is not mergeable"), doc);
    if (body.contains("sha") && body.value("sha").toString() != head)
        return error(
            409, QStringLiteral("Head branch was modified. Review and try the merge again."), doc);
    if (const auto refusal = mergeRefusal(r, *pull, call.caller.user, method))
        return error(405, *refusal, doc);

    GitObjectStore &store = r.objects;
    const QStringList own = commitsBetween(store, baseHead, head);
    if (own.isEmpty())
        return error(405, QStringLiteral("Pull Request is not mergeable"), doc);
    const QDateTime now = nowSeconds();
    const EmuUser &merger = *call.caller.user;
    const GitSignature web{QStringLiteral("GitHub"), QStringLiteral("noreply@github.com"), now};
    QStringList landed;
    QString tip = baseHead;
    if (method == QLatin1String("rebase")) {
        // Each commit replayed on the base, keeping its author.
        for (const QString &sha : own) {
            const GitCommit original = *store.commit(sha);
            const auto tree = mergeTrees(store, treeOf(store, original.parents.value(0)),
                                         treeOf(store, tip), original.tree);
            if (!tree)
                return error(405, QStringLiteral("Pull Request is not mergeable"), doc);
            GitCommit c = original;
            c.tree = *tree;
            c.parents = {tip};
            c.committer = web;
            tip = store.putCommit(c);
            landed << tip;
        }
    } else {
        const auto tree = mergeTrees(store, treeOf(store, mergeBase(store, baseHead, head)),
                                     treeOf(store, baseHead), treeOf(store, head));
        if (!tree)
            return error(405, QStringLiteral("Pull Request is not mergeable"), doc);
        GitCommit c;
        c.tree = *tree;
        c.committer = web;
        const QString number = QString::number(pull->number);
        if (method == QLatin1String("squash")) {
            const auto author = users.find(pull->userKey);
            c.author = author == users.end()
                           ? web
                           : GitSignature{author->second.name, author->second.email(), now};
            c.parents = {baseHead};
            QStringList lines;
            for (const QString &sha : own)
                lines << QStringLiteral("* ") + store.commit(sha)->message.trimmed();
            c.message = body.value("commit_title")
                            .toString(pull->title + QStringLiteral(" (#") + number + ')') +
                        QStringLiteral("\n\n") +
                        body.value("commit_message").toString(lines.join(QLatin1Char('\n')));
        } else {
            c.author = {merger.name, merger.email(), now};
            c.parents = {baseHead, head};
            c.message = body.value("commit_title")
                            .toString(QStringLiteral("Merge pull request #%1 from %2/%3")
                                          .arg(number, r.owner, pull->headRef)) +
                        QStringLiteral("\n\n") + body.value("commit_message").toString(pull->title);
        }
        tip = store.putCommit(c);
        landed << tip;
    }
    r.refs[QStringLiteral("heads/") + pull->baseRef] = tip;
    r.pushedAt = QDateTime::currentDateTimeUtc();
    pull->open = false;
    pull->closedHeadSha = head;
    pull->closedAt = now;
    pull->mergedAt = now;
    pull->mergedBy = key(merger.login);
    pull->mergeCommitSha = tip;
    pull->commits = own;
    pull->landed = landed;
    return json(200, QJsonDocument(QJsonObject{{"sha", tip},
                                               {"merged", true},
                                               {"message", "Pull Request successfully merged"}}));
}

// One commit with the files it changed against its first parent.
HttpReply EmulatorBackend::getCommit(const RepoCall &call) {
    const EmuRepo &r = call.repo;
    const QString sha = resolveCommit(r, call.args.value(0));
    if (sha.isEmpty())
        return validation(QStringLiteral("No commit found for SHA: %1").arg(call.args.value(0)),
                          QStringLiteral("rest/commits/commits#get-a-commit"));
    const auto commit = r.objects.commit(sha);
    const QString parent = commit ? commit->parents.value(0) : QString();
    QJsonObject body = repoCommitJson(r, sha);
    body.insert(QStringLiteral("files"),
                fileChanges(r, treeOf(r.objects, parent), treeOf(r.objects, sha),
                            parent.isEmpty() ? sha : parent, sha));
    return json(200, QJsonDocument(body));
}

// Merged pull requests that brought a commit to main; for a commit not on
// main, the open ones that contain it.
HttpReply EmulatorBackend::commitPulls(const RepoCall &call) {
    const EmuRepo &r = call.repo;
    const QString sha = resolveCommit(r, call.args.value(0));
    if (sha.isEmpty())
        return validation(QStringLiteral("No commit found for SHA: %1").arg(call.args.value(0)),
                          QStringLiteral("rest/commits/commits#list-pull-requests-associated-with-"
                                         "a-commit"));
    const bool onMain = reachable(r.objects, r.mainHead()).contains(sha);
    QJsonArray list;
    for (auto it = r.pulls.crbegin(); it != r.pulls.crend(); ++it) {
        bool related = false;
        if (onMain && it->mergedAt.isValid())
            related = it->commits.contains(sha) || it->landed.contains(sha);
        else if (!onMain && it->open)
            related =
                commitsBetween(r.objects, r.refs.value(QStringLiteral("heads/") + it->baseRef),
                               pullHead(r, *it))
                    .contains(sha);
        if (related)
            list.append(pullJson(r, *it, false));
    }
    return json(200, QJsonDocument(list));
}

// --- scripted users --------------------------------------------------------

HttpReply EmulatorBackend::actAs(const QString &userKey, const QByteArray &method,
                                 const QString &path, const QByteArray &body) {
    HttpExchange req;
    req.method = method;
    const QUrl url(path);
    req.path = url.path();
    req.rawPath = path;
    req.query = QUrlQuery(url);
    req.body = body;
    req.headers = {{"content-type", "application/json"}, {"user-agent", "teammate"}};
    Caller caller;
    caller.user = user(userKey);
    return routeApi(req, caller);
}

} // namespace ghemu
