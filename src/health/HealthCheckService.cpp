#include "HealthCheckService.h"

#include "AppState.h"
#include "DiagnosticLog.h"
#include "GitHubError.h"
#include "GitHubService.h"

#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcHealth, "keelmark.health")

namespace {

const QString kCodeownersPath = QStringLiteral(".github/CODEOWNERS");

// The log shows an error by its case name where it has one.
QString errorText(const GitHubError &error) {
    switch (error.kind()) {
    case GitHubError::networkError:
        return QStringLiteral("networkError");
    case GitHubError::orgNotApproved:
        return QStringLiteral("orgNotApproved");
    case GitHubError::repoCreationFailed:
        return QStringLiteral("repoCreationFailed");
    case GitHubError::fileWriteFailed:
        return QStringLiteral("fileWriteFailed");
    case GitHubError::branchProtectionFailed:
        return QStringLiteral("branchProtectionFailed");
    case GitHubError::invalidName:
        return QStringLiteral("invalidName");
    }
    return error.description();
}

// Sub-checks: free coroutines with by-value parameters, each turning every
// failure into a negative answer so that one failing request never hides
// the answers of the others.

QCoro::Task<bool> repositoryExists(QPointer<GitHubService> gitHub, QString org, QString repo) {
    try {
        if (gitHub) {
            const bool answer = co_await gitHub->repoExists(org, repo);
            co_return answer;
        }
    } catch (const std::exception &error) {
        qCDebug(lcHealth) << "repoExists failed:" << error.what();
    }
    co_return false;
}

QCoro::Task<bool> branchProtected(QPointer<GitHubService> gitHub, QString org, QString repo) {
    try {
        if (gitHub) {
            const bool answer = co_await gitHub->hasBranchProtection(org, repo);
            co_return answer;
        }
    } catch (const std::exception &error) {
        qCDebug(lcHealth) << "hasBranchProtection failed:" << error.what();
    }
    co_return false;
}

QCoro::Task<QList<TeamMember>> collaborators(QPointer<GitHubService> gitHub, QString org,
                                             QString repo) {
    try {
        if (gitHub) {
            QList<TeamMember> members = co_await gitHub->getCollaborators(org, repo);
            co_return members;
        }
    } catch (const std::exception &error) {
        qCDebug(lcHealth) << "getCollaborators failed:" << error.what();
    }
    co_return QList<TeamMember>{};
}

struct CodeownersOutcome {
    bool found = false;
    QString logLine;
};

QCoro::Task<CodeownersOutcome> checkCodeowners(QPointer<GitHubService> gitHub, QString org,
                                               QString repo, QString expectedOwner) {
    QString failure;
    try {
        if (!gitHub)
            throw GitHubError(GitHubError::networkError);
        const QString text = co_await gitHub->getFileContent(org, repo, kCodeownersPath);
        const bool found = HealthCheckService::codeownersNamesOwner(text, expectedOwner);
        co_return CodeownersOutcome{found,
                                    QStringLiteral("CODEOWNERS check: found=") +
                                        (found ? QStringLiteral("true") : QStringLiteral("false")) +
                                        QStringLiteral(", looking for @") + expectedOwner};
    } catch (const GitHubError &error) {
        failure = errorText(error);
    } catch (const GitHubFailure &error) {
        failure = error.description();
    } catch (const std::exception &error) {
        failure = QString::fromLocal8Bit(error.what());
    }
    co_return CodeownersOutcome{false, QStringLiteral("CODEOWNERS check failed: ") + failure};
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
            if (m_heartbeatState)
                performHealthCheck(m_heartbeatState); // eager; finishes on its own
        });
    }
    m_timer->setInterval(m_interval);
    m_timer->start();
    performHealthCheck(appState);
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

    const quint64 checkId = ++m_nextCheckId;
    const QPointer<GitHubService> gitHub(m_gitHub);
    const QString login = org->login;

    // Tasks start eagerly: all four requests are in flight before the first
    // answer is awaited.
    auto exists = repositoryExists(gitHub, login, repo);
    auto owners = checkCodeowners(gitHub, login, repo, username);
    auto protection = branchProtected(gitHub, login, repo);
    auto members = collaborators(gitHub, login, repo);

    const bool repoFound = co_await std::move(exists);
    const CodeownersOutcome codeowners = co_await std::move(owners);
    const bool isProtected = co_await std::move(protection);
    const QList<TeamMember> team = co_await std::move(members);
    if (!self || !state)
        co_return;

    debugLog(codeowners.logLine);
    // A check that started earlier but answered later holds older facts.
    if (checkId < m_lastAppliedCheckId) {
        qCDebug(lcHealth) << "dropping stale check" << checkId << "after" << m_lastAppliedCheckId;
        emit healthCheckFinished(false);
        co_return;
    }
    m_lastAppliedCheckId = checkId;

    state->setRepoCreated(repoFound);
    state->setCodeownersValid(codeowners.found);
    state->setBranchProtectionEnabled(isProtected);
    state->setTeamMembers(team);
    state->setLastHeartbeat(m_clock());
    state->setMachineStatus(repoFound && codeowners.found && isProtected
                                ? MachineStatusState::protected_
                                : MachineStatusState::setupMode);
    emit healthCheckFinished(true);
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
