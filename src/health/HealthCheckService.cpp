#include "HealthCheckService.h"

#include "AppState.h"
#include "AuditRecorder.h"
#include "BaselineStore.h"
#include "DiagnosticLog.h"
#include "GitHubError.h"
#include "GitHubService.h"
#include "GitHubTokenResponse.h"
#include "GovernanceBlobIds.h"
#include "PersistenceService.h"

#include <QLoggingCategory>
#include <QTimer>

#include <vector>

Q_LOGGING_CATEGORY(lcHealth, "keelmark.health")

namespace {

const QString kCodeownersPath = QStringLiteral(".github/CODEOWNERS");

CheckFailure failureOf(const std::exception &error) {
    // A refused refresh is a refused sign-in, however GitHub words it.
    if (dynamic_cast<const GitHubTokenRefused *>(&error))
        return CheckFailure::unauthorized;
    if (const auto *read = dynamic_cast<const GitHubReadFailure *>(&error)) {
        switch (read->kind()) {
        case GitHubReadFailure::unauthorized:
            return CheckFailure::unauthorized;
        case GitHubReadFailure::rateLimited:
            return CheckFailure::rateLimited;
        case GitHubReadFailure::serverError:
        case GitHubReadFailure::unexpected:
            return CheckFailure::serverError;
        }
    }
    // Transfer errors, time-outs, unreadable bodies, a missing token.
    return CheckFailure::unreachable;
}

// A refused sign-in outweighs a spent limit, which outweighs the rest: the
// most actionable reason is the one shown.
CheckFailure worse(CheckFailure a, CheckFailure b) {
    const auto rank = [](CheckFailure f) {
        switch (f) {
        case CheckFailure::unauthorized:
            return 4;
        case CheckFailure::rateLimited:
            return 3;
        case CheckFailure::serverError:
            return 2;
        case CheckFailure::unreachable:
            return 1;
        case CheckFailure::none:
            break;
        }
        return 0;
    };
    return rank(a) >= rank(b) ? a : b;
}

// One read's answer or why there was none: a failing read never hides the
// answers of the reads beside it.
template <typename T> struct Settled {
    std::optional<T> value;
    CheckFailure failure = CheckFailure::none;
    QString why;
};

template <typename T> QCoro::Task<Settled<T>> settle(QCoro::Task<T> task) {
    Settled<T> result;
    try {
        result.value = co_await std::move(task);
    } catch (const std::exception &error) {
        result.failure = failureOf(error);
        const auto *failure = dynamic_cast<const GitHubFailure *>(&error);
        result.why = failure ? failure->description() + u' ' + failure->detail()
                             : QString::fromLocal8Bit(error.what());
    }
    co_return result;
}

// The approved baseline from the application directory, or the files
// KeelMark composes when none was recorded (set up before baselines).
GovernanceBaseline loadBaseline(const QString &directory, const QString &owner, const QString &org,
                                const QDateTime &now) {
    const PersistenceService persistence(directory);
    if (const auto stored = BaselineStore(persistence).load())
        return *stored;
    return GovernanceBlobIds::provisional(owner, org, now);
}

PullRequestFact pullFact(const GitHubPullSummary &pull) {
    PullRequestFact fact;
    fact.number = pull.number;
    fact.author = pull.author;
    fact.headSha = pull.headSha;
    fact.merged = pull.merged;
    return fact;
}

// Plain functions rather than braced initialisers inside the coroutines:
// g++ 12 miscompiles those.
HeadFact headFact(const GitHubBranchHead &head) {
    HeadFact fact;
    fact.commitSha = head.commitSha;
    fact.treeSha = head.treeSha;
    return fact;
}

QList<ReviewFact> reviewFacts(const QList<GitHubReviewSummary> &reviews) {
    QList<ReviewFact> facts;
    for (const GitHubReviewSummary &review : reviews)
        facts << ReviewFact{review.reviewer, review.state, review.commitSha};
    return facts;
}

template <typename T> void note(const Settled<T> &read, CheckFailure *failure, QString *why) {
    *failure = worse(*failure, read.failure);
    if (!read.why.isEmpty())
        *why = read.why;
}

// The merged pull request a commit arrived through, if any.
std::optional<GitHubPullSummary> mergedPull(const QList<GitHubPullSummary> &pulls) {
    for (const GitHubPullSummary &pull : pulls) {
        if (pull.merged)
            return pull;
    }
    return std::nullopt;
}

// Commits since the baseline that touched governance files, each with the
// pull request it was merged through and that pull request's reviews.
QCoro::Task<Settled<QList<CommitFact>>> readHistory(QPointer<GitHubService> gitHub, QString org,
                                                    QString repo, QStringList watched,
                                                    Settled<QList<GitHubCommitSummary>> compared) {
    Settled<QList<CommitFact>> result;
    if (!gitHub || compared.failure != CheckFailure::none) {
        result.failure = gitHub ? compared.failure : CheckFailure::unreachable;
        result.why = compared.why;
        co_return result;
    }
    QList<GitHubCommitSummary> commits = *compared.value;
    // Files and pull requests of every commit at once: one round trip.
    std::vector<QCoro::Task<Settled<QStringList>>> files;
    std::vector<QCoro::Task<Settled<QList<GitHubPullSummary>>>> pulls;
    for (const GitHubCommitSummary &commit : commits) {
        if (!commit.filesKnown)
            files.push_back(settle(gitHub->getCommitFiles(org, repo, commit.sha)));
        pulls.push_back(settle(gitHub->getCommitPulls(org, repo, commit.sha)));
    }
    QList<std::optional<GitHubPullSummary>> merged;
    qsizetype nextFiles = 0;
    for (qsizetype i = 0; i < commits.size(); ++i) {
        if (!commits[i].filesKnown) {
            const auto answer = co_await std::move(files[size_t(nextFiles++)]);
            result.failure = worse(result.failure, answer.failure);
            commits[i].files = answer.value.value_or(QStringList{});
        }
        const auto answer = co_await std::move(pulls[size_t(i)]);
        result.failure = worse(result.failure, answer.failure);
        merged << (answer.value ? mergedPull(*answer.value) : std::nullopt);
        if (!answer.why.isEmpty())
            result.why = answer.why;
    }
    if (!gitHub || result.failure != CheckFailure::none) {
        result.failure = worse(result.failure, CheckFailure::unreachable);
        co_return result;
    }
    // Reviews of the pull requests that brought governance changes.
    QList<CommitFact> facts;
    std::vector<QCoro::Task<Settled<QList<GitHubReviewSummary>>>> reviews;
    for (qsizetype i = 0; i < commits.size(); ++i) {
        CommitFact fact;
        fact.sha = commits[i].sha;
        fact.author = commits[i].author;
        for (const QString &path : commits[i].files) {
            if (watched.contains(path) && !fact.paths.contains(path))
                fact.paths << path;
        }
        if (fact.paths.isEmpty())
            continue;
        if (merged[i]) {
            fact.pullRequest = pullFact(*merged[i]);
            reviews.push_back(settle(gitHub->getPullReviews(org, repo, merged[i]->number)));
        }
        facts << fact;
    }
    qsizetype nextReview = 0;
    for (CommitFact &fact : facts) {
        if (!fact.pullRequest)
            continue;
        const auto answer = co_await std::move(reviews[size_t(nextReview++)]);
        result.failure = worse(result.failure, answer.failure);
        fact.pullRequest->reviews << reviewFacts(
            answer.value.value_or(QList<GitHubReviewSummary>{}));
    }
    result.value = facts;
    co_return result;
}

} // namespace

HealthCheckService::HealthCheckService(GitHubService *gitHub, DiagnosticLog log,
                                       std::chrono::milliseconds interval, Clock clock,
                                       QObject *parent)
    : QObject(parent)
    , m_gitHub(gitHub)
    , m_log(std::move(log))
    , m_interval(interval)
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentDateTimeUtc(); }) {}

HealthCheckService &HealthCheckService::shared() {
    // Lives for the whole process, like the client it uses.
    static auto *instance =
        new HealthCheckService(&GitHubService::shared(), DiagnosticLog::inTemporaryDirectory());
    return *instance;
}

void HealthCheckService::startHeartbeat(AppState *appState) {
    m_heartbeatState = appState;
    // One timer per service: a second start (launch, then the end of the
    // wizard) checks at once and restarts the beat rather than adding a
    // second one beside it.
    if (!m_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, [this] {
            // A refused sign-in stays refused until the user reconnects:
            // the beat waits rather than collect the same 401 every minute.
            // Checks the user asks for still go out.
            if (m_heartbeatState && !m_heartbeatState->checkSignInRefused())
                performHealthCheck(m_heartbeatState); // eager; finishes on its own
        });
    }
    m_timer->setInterval(m_interval);
    m_timer->start();
    performHealthCheck(appState);
}

void HealthCheckService::stopHeartbeat() {
    if (m_timer)
        m_timer->stop();
    m_heartbeatState.clear();
    // Marks every check started so far as stale, so none writes a status
    // into the state after it was reset.
    m_lastAppliedCheckId = ++m_nextCheckId;
}

bool HealthCheckService::isHeartbeatRunning() const {
    return m_timer && m_timer->isActive();
}

QCoro::Task<> HealthCheckService::performHealthCheck(AppState *appState) {
    const QPointer<HealthCheckService> self(this);
    const QPointer<AppState> state(appState);
    if (!state)
        co_return;

    const std::optional<GitHubOrg> org = state->selectedOrg();
    const QString repo = state->repoName();
    const QString username = state->gitHubUsername();
    debugLog(QStringLiteral("performHealthCheck: org=") +
             (org ? org->login : QStringLiteral("nil")) + QStringLiteral(", repo=") + repo +
             QStringLiteral(", username=") + username);
    if (!org || repo.isEmpty()) {
        debugLog(QStringLiteral("performHealthCheck: SKIPPED — org or repoName is empty"));
        co_return;
    }

    // Without a token (none stored, or dropped) there is nothing to ask
    // GitHub with; that is a lost sign-in, not a lost network.
    if (!m_gitHub->oauthToken()) {
        applySignInRefused(state);
        co_return;
    }
    const quint64 checkId = ++m_nextCheckId;
    const QPointer<GitHubService> gitHub(m_gitHub);
    const QString login = org->login;
    const QString directory = state->appDirectory();
    GovernanceFacts facts;
    // Judged as set up even during setup, so the rows show what holds; the
    // status is set to setup mode on applying.
    facts.setupComplete = true;
    facts.owner = username;
    facts.repository = login + u'/' + repo;
    facts.checkedAt = m_clock();
    facts.baseline = loadBaseline(directory, username, login, facts.checkedAt);

    // Tasks start eagerly: every request of the first round is in flight
    // before the first answer is awaited.
    auto exists = settle(m_gitHub->repositoryPresent(login, repo));
    auto head = settle(m_gitHub->getBranchHead(login, repo, QStringLiteral("main")));
    auto protection = settle(m_gitHub->getProtectionBody(login, repo));
    auto owners = settle(m_gitHub->getFileIfPresent(login, repo, kCodeownersPath));
    auto members = settle(m_gitHub->getCollaborators(login, repo));

    const auto repoFound = co_await std::move(exists);
    const auto mainHead = co_await std::move(head);
    const auto body = co_await std::move(protection);
    const auto codeowners = co_await std::move(owners);
    const auto team = co_await std::move(members);
    if (!self || !state || !gitHub)
        co_return;

    QString why;
    note(repoFound, &facts.failure, &why);
    note(mainHead, &facts.failure, &why);
    note(body, &facts.failure, &why);
    note(codeowners, &facts.failure, &why);
    if (facts.failure == CheckFailure::none) {
        facts.repositoryFound = *repoFound.value;
        facts.protection = *body.value;
        facts.codeowners = *codeowners.value;
        if (*mainHead.value)
            facts.head = headFact(**mainHead.value);
    }
    GovernanceVerdict verdict = GovernanceVerdict::judge(facts);

    if (verdict.needs == GovernanceVerdict::Needs::tree) {
        auto tree = settle(m_gitHub->getTreeBlobIds(login, repo, facts.head->treeSha));
        // The comparison rides along with the tree, so a changed file costs
        // no extra round trip; each commit's own reads wait until the tree
        // shows that a watched file changed, so an unrelated commit costs
        // only this one.
        std::optional<QCoro::Task<Settled<QList<GitHubCommitSummary>>>> comparison;
        if (!facts.baseline.isProvisional())
            comparison = settle(m_gitHub->compareCommits(login, repo, facts.baseline.historyBase(),
                                                         facts.head->commitSha));
        const auto blobs = co_await std::move(tree);
        // Awaited even when unused: a request left running could outlive
        // the service it belongs to.
        std::optional<Settled<QList<GitHubCommitSummary>>> compared;
        if (comparison)
            compared = co_await std::move(*comparison);
        if (!self || !state || !gitHub)
            co_return;
        facts.failure = blobs.failure;
        why = blobs.why;
        facts.tree = blobs.value;
        if (facts.failure == CheckFailure::none)
            verdict = GovernanceVerdict::judge(facts);
        if (compared && verdict.needs == GovernanceVerdict::Needs::history) {
            auto history = readHistory(gitHub, login, repo, facts.baseline.blobIds.keys(),
                                       std::move(*compared));
            const Settled<QList<CommitFact>> commits = co_await std::move(history);
            if (!self || !state)
                co_return;
            facts.failure = commits.failure;
            why = commits.why;
            facts.history = commits.value;
        }
        verdict = GovernanceVerdict::judge(facts);
    }
    if (!why.isEmpty())
        debugLog(QStringLiteral("check could not read everything: ") + why);
    apply(checkId, state, facts, verdict, team.value.value_or(QList<TeamMember>{}), directory);
}

void HealthCheckService::apply(quint64 checkId, AppState *state, const GovernanceFacts &facts,
                               GovernanceVerdict verdict, const QList<TeamMember> &team,
                               const QString &directory) {
    // A check that started earlier but answered later holds older facts.
    if (checkId < m_lastAppliedCheckId) {
        qCDebug(lcHealth) << "dropping stale check" << checkId << "after" << m_lastAppliedCheckId;
        emit healthCheckFinished(false);
        return;
    }
    m_lastAppliedCheckId = checkId;
    // Facts still incomplete are not a verdict: say so rather than guess.
    if (verdict.needs != GovernanceVerdict::Needs::nothing) {
        verdict.status = MachineStatusState::offline;
        verdict.reasons = {QStringLiteral("GitHub could not be reached")};
    }
    debugLog(QStringLiteral("CODEOWNERS check: found=") +
             (verdict.codeownersOk ? QStringLiteral("true") : QStringLiteral("false")) +
             QStringLiteral(", looking for @") + facts.owner);
    const bool setUp = state->setupComplete();
    if (setUp && verdict.baselineToStore && verdict.status != MachineStatusState::offline) {
        const PersistenceService persistence(directory);
        if (!BaselineStore(persistence).save(*verdict.baselineToStore))
            debugLog(QStringLiteral("could not write the governance baseline"));
        // Recorded once the baseline holds it, so the trail never claims a
        // move that did not happen; every event here moved the baseline.
        else if (m_audit)
            for (const QString &event : verdict.events)
                m_audit->record(QStringLiteral("baseline"), event,
                                {{QStringLiteral("repository"), facts.repository},
                                 {QStringLiteral("commit"), verdict.baselineToStore->commitSha}});
    }
    for (const QString &event : verdict.events)
        debugLog(QStringLiteral("governance: ") + event);
    state->setStatusReasons(verdict.reasons);
    // Only an answer from GitHub ends a refusal; a lost network says nothing
    // about the sign-in.
    if (facts.failure == CheckFailure::unauthorized)
        state->setCheckSignInRefused(true);
    else if (facts.failure == CheckFailure::none)
        state->setCheckSignInRefused(false);
    if (verdict.status == MachineStatusState::offline) {
        // The last established facts and the time of the last good check stay.
        state->setMachineStatus(setUp ? MachineStatusState::offline
                                      : MachineStatusState::setupMode);
        emit healthCheckFinished(true);
        return;
    }
    state->setRepoCreated(verdict.repositoryOk);
    state->setCodeownersValid(verdict.codeownersOk);
    state->setBranchProtectionEnabled(verdict.protectionOk);
    state->setProtectionFindings(verdict.protectionFindings);
    state->setFileFindings(verdict.fileFindings);
    state->setTeamMembers(verdict.repositoryOk ? team : QList<TeamMember>{});
    state->setLastHeartbeat(m_clock());
    state->setMachineStatus(setUp ? verdict.status : MachineStatusState::setupMode);
    emit healthCheckFinished(true);
}

void HealthCheckService::applySignInRefused(AppState *state) {
    GovernanceFacts facts;
    facts.setupComplete = true;
    facts.failure = CheckFailure::unauthorized;
    // Numbered like a check, so a check already under way lands as stale.
    apply(++m_nextCheckId, state, facts, GovernanceVerdict::judge(facts), {}, QString());
}

void HealthCheckService::setAuditRecorder(AuditRecorder *audit) {
    m_audit = audit;
}

bool HealthCheckService::codeownersNamesOwner(const QString &text, const QString &owner) {
    // A handle counts only as a whole word: "@alice" must not be satisfied by
    // "@alice-evil" or by the address "bob@alice", and an empty owner names
    // nobody.
    if (owner.isEmpty())
        return false;
    const QString handle = u'@' + owner;
    for (qsizetype at = text.indexOf(handle); at >= 0; at = text.indexOf(handle, at + 1)) {
        const qsizetype end = at + handle.size();
        const bool startsWord = at == 0 || text.at(at - 1).isSpace();
        const bool endsWord = end == text.size() || text.at(end).isSpace();
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

void HealthCheckService::debugLog(const QString &message) {
    m_log.appendToTempLog(u'[' + DiagnosticLog::timestamp(m_clock()) + QStringLiteral("] ") +
                          message + u'\n');
}
