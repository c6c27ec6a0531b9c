#pragma once

#include "AppStateTypes.h"
#include "GovernanceBaseline.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// Why a check could not get its answers; any of these makes it offline.
enum class CheckFailure {
    none,
    unreachable,  // transport error or time-out
    serverError,  // 5xx
    rateLimited,  // 403/429 with the rate limit spent
    unauthorized, // 401: the sign-in was refused
};

// One review of a pull request, as GET …/pulls/{n}/reviews lists it.
struct ReviewFact {
    QString reviewer;  // user.login
    QString state;     // "APPROVED", "CHANGES_REQUESTED", "COMMENTED", "DISMISSED", ...
    QString commitSha; // commit_id: the revision the review was given on
};

// A pull request a commit arrived through (GET …/commits/{sha}/pulls).
struct PullRequestFact {
    int number = 0;
    QString author;  // user.login
    QString headSha; // the revision that was merged
    bool merged = false;
    QList<ReviewFact> reviews; // oldest first
};

// A commit on main since the baseline that touched governance files.
struct CommitFact {
    QString sha;
    QString author;    // login of whoever authored or pushed it
    QStringList paths; // the governance paths it touched
    std::optional<PullRequestFact> pullRequest;
};

// main's head as GET …/branches/main gives it.
struct HeadFact {
    QString commitSha;
    QString treeSha;
};

// What one check fetched. The service fills in what it read; an optional
// left empty was either answered 404 (protection, head, CODEOWNERS) or not
// read (tree, history: the verdict says when it needs them).
struct GovernanceFacts {
    bool setupComplete = false;
    CheckFailure failure = CheckFailure::none;
    QString owner;      // the code owner's login
    QString repository; // "org/repo"
    bool repositoryFound = true;
    std::optional<QJsonObject> protection; // body of GET …/branches/main/protection
    std::optional<HeadFact> head;
    std::optional<QString> codeowners;          // .github/CODEOWNERS as committed
    GovernanceBaseline baseline;                // a provisional one when none was stored
    std::optional<QMap<QString, QString>> tree; // path -> blob id of head's tree
    std::optional<QList<CommitFact>> history;   // commits since the baseline, oldest first
    QDateTime checkedAt;
};

// The answer of a check: the status, its reasons in the user's words (one
// list per Status-page row), and what the service should apply. A pure
// value: the service fetches, calls judge(), fetches what `needs` asks for
// and judges again, then applies.
struct GovernanceVerdict {
    enum class Needs { nothing, tree, history };

    MachineStatusState status = MachineStatusState::setupMode;
    // Until this is `nothing` the file facts are incomplete and the status
    // is not final.
    Needs needs = Needs::nothing;

    // Row facts; when offline they are not established and the service
    // keeps the last ones it showed.
    bool repositoryOk = false;
    bool protectionOk = false;
    bool filesOk = false;
    bool codeownersOk = false;

    QStringList reasons;            // every finding, most serious first
    QStringList protectionFindings; // "Branch protection weakened: force pushes allowed"
    QStringList fileFindings;       // per changed file, or the match line
    QStringList events;             // reviewed changes the baseline moved to

    // Written to the baseline file when set: anchored, moved past a reviewed
    // change, or carrying a newer clean tree.
    std::optional<GovernanceBaseline> baselineToStore;

    static GovernanceVerdict judge(const GovernanceFacts &facts);

    // Each rule of KeelMark's rule set the body no longer enforces, in the
    // user's words; empty when every rule holds (stricter settings are fine).
    // No body (404) is the single finding "Branch protection is off".
    static QStringList weakenedProtection(const std::optional<QJsonObject> &body);

    // The watched files a check's file findings name as differing from the
    // baseline without approval; empty when the files match or were not
    // compared (no main, no check yet).
    static QStringList driftedPaths(const QStringList &fileFindings);
};
