#include "GovernanceVerdict.h"

#include "HealthCheckService.h"

#include <QJsonArray>

namespace {

const QString kWeakened = QStringLiteral("Branch protection weakened: ");
const QString kFilesMatch = QStringLiteral("Governance files match what you approved");
const QString kDash = QStringLiteral(" \u2014 ");

QString handle(const QString &login) {
    return u'@' + login;
}

QString shortSha(const QString &sha) {
    return sha.left(7);
}

bool sameLogin(const QString &a, const QString &b) {
    // GitHub logins are case-insensitive.
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

// GitHub reports a switched-off section by leaving it out or with
// "enabled": false; anything but a literal true counts as off.
bool sectionEnabled(const QJsonObject &body, const QString &key) {
    return body.value(key).toObject().value(QStringLiteral("enabled")) == QJsonValue(true);
}

// Who may merge without the required review, as "@user", "team x", "app y".
QStringList bypassers(const QJsonObject &reviews) {
    const QJsonObject allowances =
        reviews.value(QStringLiteral("bypass_pull_request_allowances")).toObject();
    QStringList names;
    for (const QJsonValue &user : allowances.value(QStringLiteral("users")).toArray())
        names << handle(user.toObject().value(QStringLiteral("login")).toString());
    for (const QJsonValue &team : allowances.value(QStringLiteral("teams")).toArray())
        names << QStringLiteral("team ") + team.toObject().value(QStringLiteral("slug")).toString();
    for (const QJsonValue &app : allowances.value(QStringLiteral("apps")).toArray())
        names << QStringLiteral("app ") + app.toObject().value(QStringLiteral("slug")).toString();
    return names;
}

QStringList weakenedReviewRules(const QJsonValue &section) {
    if (!section.isObject())
        return {QStringLiteral("pull request reviews not required")};
    const QJsonObject reviews = section.toObject();
    QStringList found;
    // A count of 0, a fraction or a text is no requirement of one approval.
    const QJsonValue count = reviews.value(QStringLiteral("required_approving_review_count"));
    if (!count.isDouble() || count.toDouble() < 1)
        found << QStringLiteral("no approving review required");
    if (reviews.value(QStringLiteral("require_code_owner_reviews")) != QJsonValue(true))
        found << QStringLiteral("code owner review not required");
    if (reviews.value(QStringLiteral("dismiss_stale_reviews")) != QJsonValue(true))
        found << QStringLiteral("stale approvals kept after new commits");
    const QStringList bypass = bypassers(reviews);
    if (!bypass.isEmpty())
        found << QStringLiteral("reviews can be bypassed by ") + bypass.join(QStringLiteral(", "));
    return found;
}

// The owner's review that stands: their latest decision (approve, request
// changes, dismissed); comments decide nothing.
const ReviewFact *ownersDecision(const PullRequestFact &pull, const QString &owner) {
    const ReviewFact *standing = nullptr;
    for (const ReviewFact &review : pull.reviews) {
        if (sameLogin(review.reviewer, owner) &&
            (review.state == QLatin1String("APPROVED") ||
             review.state == QLatin1String("CHANGES_REQUESTED") ||
             review.state == QLatin1String("DISMISSED")))
            standing = &review;
    }
    return standing;
}

// An approval counts only for the revision it was given on: with stale
// approvals kept, a later push would otherwise ride on it.
bool approvedByOwner(const PullRequestFact &pull, const QString &owner) {
    const ReviewFact *standing = ownersDecision(pull, owner);
    return standing && standing->state == QLatin1String("APPROVED") &&
           (pull.headSha.isEmpty() || standing->commitSha == pull.headSha);
}

bool approvedByOwner(const CommitFact &commit, const QString &owner) {
    return commit.pullRequest && commit.pullRequest->merged &&
           approvedByOwner(*commit.pullRequest, owner);
}

// How one commit reached main, in the user's words.
QString arrival(const CommitFact &commit, const QString &owner) {
    if (!commit.pullRequest || !commit.pullRequest->merged)
        return QStringLiteral("pushed directly by ") + handle(commit.author) +
               QStringLiteral(" in ") + shortSha(commit.sha);
    const PullRequestFact &pull = *commit.pullRequest;
    const QString merged = QStringLiteral("merged in #") + QString::number(pull.number);
    if (approvedByOwner(pull, owner))
        return merged + QStringLiteral(", approved by ") + handle(owner);
    const ReviewFact *standing = ownersDecision(pull, owner);
    const QString by = merged + QStringLiteral(" by ") + handle(pull.author);
    if (standing && standing->state == QLatin1String("APPROVED"))
        return by + QStringLiteral(", approved by ") + handle(owner) +
               QStringLiteral(" on an earlier revision only");
    if (standing && standing->state == QLatin1String("DISMISSED"))
        return by + QStringLiteral(" after ") + handle(owner) +
               QStringLiteral("'s approval was dismissed");
    return by + QStringLiteral(" without ") + handle(owner) + QStringLiteral("'s approval");
}

QStringList changedPaths(const GovernanceBaseline &baseline, const QMap<QString, QString> &tree) {
    QStringList changed;
    for (auto it = baseline.blobIds.begin(); it != baseline.blobIds.end(); ++it) {
        if (tree.value(it.key()) != it.value())
            changed << it.key();
    }
    return changed;
}

QString changeWord(const QString &path, const QMap<QString, QString> &tree) {
    // driftedPaths() reads the path back from this shape.
    return path + (tree.contains(path) ? QStringLiteral(" changed") : QStringLiteral(" deleted"));
}

// Reviewed changes move the baseline to head: the files as they are there,
// accepted by the owner through the last pull request that touched them.
GovernanceBaseline movedBaseline(const GovernanceFacts &facts, int pullRequest) {
    GovernanceBaseline moved = facts.baseline;
    moved.commitSha = facts.head->commitSha;
    moved.treeSha = facts.head->treeSha;
    moved.cleanTree.reset();
    moved.cleanCommit.reset();
    moved.acceptedBy = facts.owner;
    moved.acceptedAt = facts.checkedAt.toUTC();
    moved.pullRequest = pullRequest;
    // An approved deletion leaves the file out of what is watched.
    moved.blobIds.clear();
    for (auto it = facts.baseline.blobIds.begin(); it != facts.baseline.blobIds.end(); ++it) {
        if (facts.tree->contains(it.key()))
            moved.blobIds.insert(it.key(), facts.tree->value(it.key()));
    }
    return moved;
}

// Attributes each changed file to the commits that touched it; fills the
// file row and decides whether the baseline moves.
void judgeHistory(const GovernanceFacts &facts, const QStringList &changed,
                  GovernanceVerdict *verdict) {
    int lastReviewed = 0; // the newest reviewed pull request, by history order
    QStringList drift;
    QStringList events;
    for (const QString &path : changed) {
        QStringList ways;
        bool allApproved = true;
        for (const CommitFact &commit : *facts.history) {
            if (!commit.paths.contains(path))
                continue;
            ways << arrival(commit, facts.owner);
            if (!approvedByOwner(commit, facts.owner))
                allApproved = false;
        }
        const QString line = changeWord(path, *facts.tree) + kDash;
        // No commit since the approved one explains the change: the history
        // itself was rewritten.
        if (ways.isEmpty())
            drift << line + QStringLiteral("no commit since the approved one explains it");
        else if (allApproved)
            events << line + ways.join(QStringLiteral("; "));
        else
            drift << line + ways.join(QStringLiteral("; "));
    }
    if (drift.isEmpty()) {
        verdict->filesOk = true;
        verdict->fileFindings = {kFilesMatch};
        verdict->events = events;
        for (const CommitFact &commit : *facts.history) {
            if (approvedByOwner(commit, facts.owner))
                lastReviewed = commit.pullRequest->number;
        }
        verdict->baselineToStore = movedBaseline(facts, lastReviewed);
    } else {
        verdict->fileFindings = drift;
    }
}

void judgeFiles(const GovernanceFacts &facts, GovernanceVerdict *verdict) {
    const GovernanceBaseline &baseline = facts.baseline;
    if (!facts.head) {
        verdict->fileFindings = {QStringLiteral("Branch main not found")};
        return;
    }
    const QString headTree = facts.head->treeSha;
    // An unchanged tree holds unchanged files: nothing more to read.
    if (!baseline.isProvisional() &&
        (headTree == baseline.treeSha || headTree == baseline.cleanTree)) {
        verdict->filesOk = true;
        verdict->fileFindings = {kFilesMatch};
        // The same tree at a newer commit (a revert, an empty commit): later
        // changes are traced from here, or the history read keeps growing.
        if (facts.head->commitSha != baseline.historyBase()) {
            GovernanceBaseline stored = baseline;
            stored.cleanTree = headTree;
            stored.cleanCommit = facts.head->commitSha;
            verdict->baselineToStore = stored;
        }
        return;
    }
    if (!facts.tree) {
        verdict->needs = GovernanceVerdict::Needs::tree;
        return;
    }
    const QStringList changed = changedPaths(baseline, *facts.tree);
    if (changed.isEmpty()) {
        verdict->filesOk = true;
        verdict->fileFindings = {kFilesMatch};
        GovernanceBaseline stored = baseline;
        if (baseline.isProvisional()) {
            // main holds exactly the files KeelMark wrote: that is the baseline.
            stored.commitSha = facts.head->commitSha;
            stored.treeSha = headTree;
            stored.acceptedAt = facts.checkedAt.toUTC();
            verdict->events << QStringLiteral("Approved governance recorded at ") +
                                   shortSha(stored.commitSha);
        } else {
            stored.cleanTree = headTree;
            stored.cleanCommit = facts.head->commitSha;
        }
        verdict->baselineToStore = stored;
        return;
    }
    if (baseline.isProvisional()) {
        // No approved commit to trace from: name the files only.
        for (const QString &path : changed)
            verdict->fileFindings << changeWord(path, *facts.tree) +
                                         QStringLiteral(" \u2014 differs from the files "
                                                        "KeelMark set up");
        return;
    }
    if (!facts.history) {
        verdict->needs = GovernanceVerdict::Needs::history;
        return;
    }
    judgeHistory(facts, changed, verdict);
}

QString offlineReason(CheckFailure failure) {
    switch (failure) {
    case CheckFailure::unreachable:
        return QStringLiteral("GitHub could not be reached");
    case CheckFailure::serverError:
        return QStringLiteral("GitHub answered with a server error");
    case CheckFailure::rateLimited:
        return QStringLiteral("GitHub's rate limit is used up; checking again later");
    case CheckFailure::unauthorized:
        return QStringLiteral("GitHub no longer accepts KeelMark's sign-in");
    case CheckFailure::none:
        break;
    }
    return {};
}

} // namespace

QStringList GovernanceVerdict::weakenedProtection(const std::optional<QJsonObject> &body) {
    if (!body)
        return {QStringLiteral("Branch protection is off")};
    QStringList rules;
    if (!sectionEnabled(*body, QStringLiteral("enforce_admins")))
        rules << QStringLiteral("administrators exempt");
    rules << weakenedReviewRules(body->value(QStringLiteral("required_pull_request_reviews")));
    if (!sectionEnabled(*body, QStringLiteral("required_linear_history")))
        rules << QStringLiteral("linear history not required");
    if (sectionEnabled(*body, QStringLiteral("allow_force_pushes")))
        rules << QStringLiteral("force pushes allowed");
    if (sectionEnabled(*body, QStringLiteral("allow_deletions")))
        rules << QStringLiteral("branch deletion allowed");
    for (QString &rule : rules)
        rule.prepend(kWeakened);
    return rules;
}

QStringList GovernanceVerdict::driftedPaths(const QStringList &fileFindings) {
    QStringList paths;
    for (const QString &finding : fileFindings) {
        for (const QString &word : {QStringLiteral(" changed"), QStringLiteral(" deleted")}) {
            const qsizetype at = finding.indexOf(word + kDash);
            if (at > 0) {
                paths << finding.left(at);
                break;
            }
        }
    }
    return paths;
}

GovernanceVerdict GovernanceVerdict::judge(const GovernanceFacts &facts) {
    GovernanceVerdict verdict;
    if (!facts.setupComplete)
        return verdict;
    if (facts.failure != CheckFailure::none) {
        verdict.status = MachineStatusState::offline;
        verdict.reasons = {offlineReason(facts.failure)};
        return verdict;
    }
    verdict.status = MachineStatusState::tamperAlert;
    if (!facts.repositoryFound) {
        verdict.reasons = {QStringLiteral("Repository ") + facts.repository +
                           QStringLiteral(" not found on GitHub \u2014 deleted, renamed or no "
                                          "longer visible to you")};
        return verdict;
    }
    verdict.repositoryOk = true;

    verdict.protectionFindings = weakenedProtection(facts.protection);
    verdict.protectionOk = verdict.protectionFindings.isEmpty();

    verdict.codeownersOk = facts.codeowners &&
                           HealthCheckService::codeownersNamesOwner(*facts.codeowners, facts.owner);
    judgeFiles(facts, &verdict);

    verdict.reasons << verdict.protectionFindings;
    if (!verdict.filesOk)
        verdict.reasons << verdict.fileFindings;
    if (!facts.codeowners)
        verdict.reasons << QStringLiteral("CODEOWNERS is missing");
    else if (!verdict.codeownersOk)
        verdict.reasons << QStringLiteral("CODEOWNERS no longer names ") + handle(facts.owner);
    // Files not yet compared are not yet known to be in force.
    if (verdict.reasons.isEmpty() && verdict.needs == Needs::nothing)
        verdict.status = MachineStatusState::protected_;
    return verdict;
}
