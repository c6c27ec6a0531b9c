#include "ProtectionRun.h"

#include "AppState.h"
#include "AuditRecorder.h"
#include "BaselineStore.h"
#include "GitHubError.h"
#include "GitHubService.h"
#include "GovernanceBlobIds.h"
#include "GovernanceFiles.h"
#include "GovernanceSteps.h"
#include "PersistenceService.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPointer>

#include <memory>

Q_LOGGING_CATEGORY(lcGovernance, "keelmark.governance")

using namespace GovernanceSteps;

namespace {

const QString kCommitMessage = QStringLiteral("Initial KeelMark governance configuration");

// The step bodies are free coroutines for the reasons GovernanceSteps
// gives; a late DELETE from a destroyed run could undo a later run's
// protection, hence the cancellation checks.

QJsonObject repositoryDetails(const QString &org, const QString &repo) {
    return {{QStringLiteral("repository"), org + QLatin1Char('/') + repo}};
}

void record(const QPointer<AuditRecorder> &audit, const QString &kind, const QString &message,
            const QJsonObject &details) {
    if (audit)
        audit->record(kind, message, details);
}

QCoro::Task<> ensureRepositoryUnprotected(QPointer<GitHubService> gitHub, QString org, QString repo,
                                          GitHubCancellation cancel,
                                          QPointer<AuditRecorder> audit) {
    ensureWanted(gitHub, cancel);
    const bool created = co_await gitHub->createRepo(org, repo, cancel);
    if (created)
        record(audit, QStringLiteral("repo"),
               QStringLiteral("Created the repository %1/%2").arg(org, repo),
               repositoryDetails(org, repo));
    // The commit of the next step cannot land on a protected main.
    co_await liftProtection(gitHub, org, repo, cancel);
}

QCoro::Task<> writeGovernanceFiles(QPointer<GitHubService> gitHub, QString org, QString repo,
                                   QString owner, GitHubCancellation cancel,
                                   std::shared_ptr<GitHubBranchHead> written,
                                   QPointer<AuditRecorder> audit) {
    ensureWanted(gitHub, cancel);
    const QList<FileEntry> files = GovernanceFiles::compose(owner, org);
    const GitHubBranchHead head =
        co_await gitHub->writeFiles(org, repo, files, kCommitMessage, cancel);
    *written = head;
    QJsonObject details = repositoryDetails(org, repo);
    details.insert(QStringLiteral("commit"), head.commitSha);
    QJsonArray paths;
    for (const FileEntry &file : files)
        paths.append(file.path);
    details.insert(QStringLiteral("files"), paths);
    record(audit, QStringLiteral("commit"),
           QStringLiteral("Committed the governance files to %1/%2").arg(org, repo), details);
}

// GitHub can answer a write 200 without acting on it: read back what the
// run wrote before calling the setup done.
QCoro::Task<> verifyRepository(QPointer<GitHubService> gitHub, QString org, QString repo,
                               GitHubCancellation cancel,
                               std::shared_ptr<GitHubBranchHead> written) {
    ensureWanted(gitHub, cancel);
    co_await gitHub->requireRepo(org, repo);
    ensureWanted(gitHub, cancel);
    const std::optional<GitHubBranchHead> head =
        co_await gitHub->getBranchHead(org, repo, QStringLiteral("main"));
    ensureWanted(gitHub, cancel);
    const std::optional<QJsonObject> protection = co_await gitHub->getProtectionBody(org, repo);
    QStringList missing;
    if (!head || head->commitSha != written->commitSha)
        missing << QStringLiteral("the governance files are not on main");
    if (!protection)
        missing << QStringLiteral("branch protection is not in force");
    if (!missing.isEmpty())
        throw GitHubError(GitHubError::fileWriteFailed,
                          QStringLiteral("GitHub accepted the changes, but ") +
                              missing.join(QStringLiteral(" and ")) + u'.');
}

QList<ProtectionStep> freshSteps() {
    const QString labels[] = {
        QStringLiteral("Creating repository"),
        QStringLiteral("Writing governance files"),
        QStringLiteral("Enabling branch protection"),
        QStringLiteral("Verifying setup"),
    };
    QList<ProtectionStep> steps;
    for (const QString &label : labels)
        steps.append(ProtectionStep{QUuid::createUuid(), label, ProtectionStep::StepStatus::pending,
                                    QString(), QString()});
    return steps;
}

} // namespace

ProtectionRun::ProtectionRun(AppState *appState, GitHubService *gitHub, QObject *parent)
    : QObject(parent)
    , m_appState(appState)
    , m_gitHub(gitHub)
    , m_steps(freshSteps()) {}

ProtectionRun::~ProtectionRun() {
    m_cancel.cancel();
}

void ProtectionRun::setAuditRecorder(AuditRecorder *audit) {
    m_audit = audit;
}

void ProtectionRun::start() {
    // Showing the screen again must neither start a second run alongside
    // the first nor provision a finished repository once more.
    if (m_running || m_allComplete)
        return;
    retry();
}

void ProtectionRun::retry() {
    if (m_running)
        return;
    setHasFailed(false);
    setAllComplete(false);
    for (ProtectionStep &step : m_steps) {
        step.status = ProtectionStep::StepStatus::pending;
        step.message.clear();
        step.detail.clear();
    }
    emit stepsChanged();
    runProtectionSequence(); // eager; finishes on its own
}

QCoro::Task<> ProtectionRun::runProtectionSequence() {
    if (m_running)
        co_return;
    const QPointer<ProtectionRun> self(this);
    const QPointer<AppState> appState(m_appState);
    const QPointer<GitHubService> gitHub(m_gitHub);
    if (!appState || !gitHub)
        co_return;
    const std::optional<GitHubOrg> selected = appState->selectedOrg();
    if (!selected) {
        emit finished();
        co_return;
    }

    const QString org = selected->login;
    const QString repo =
        appState->repoName().isEmpty() ? QStringLiteral("ops") : appState->repoName();
    const QString owner = appState->gitHubUsername();
    const GitHubCancellation cancel = m_cancel;
    const auto written = std::make_shared<GitHubBranchHead>();
    const QPointer<AuditRecorder> audit(m_audit);

    // Each action is a named local: g++ 12 destroys a lambda temporary that
    // is converted to a parameter inside a co_await expression twice.
    const StepAction createStep = [=] {
        return ensureRepositoryUnprotected(gitHub, org, repo, cancel, audit);
    };
    const StepAction writeStep = [=] {
        return writeGovernanceFiles(gitHub, org, repo, owner, cancel, written, audit);
    };
    const StepAction protectStep = [=] {
        return applyProtection(gitHub, org, repo, cancel, audit);
    };
    const StepAction verifyStep = [=] {
        return verifyRepository(gitHub, org, repo, cancel, written);
    };

    setRunning(true);
    co_await run(0, createStep);
    if (self && !m_hasFailed)
        co_await run(1, writeStep);
    if (self && !m_hasFailed)
        co_await run(2, protectStep);
    if (self && !m_hasFailed)
        co_await run(3, verifyStep);
    if (!self)
        co_return;

    if (!m_hasFailed) {
        if (appState) {
            appState->setRepoCreated(true);
            // What the owner approved by running setup: later checks
            // measure main against it.
            const PersistenceService persistence(appState->appDirectory());
            if (!BaselineStore(persistence)
                     .save(GovernanceBlobIds::approvedAtSetup(written->commitSha, written->treeSha,
                                                              owner, org,
                                                              QDateTime::currentDateTimeUtc())))
                qCWarning(lcGovernance) << "could not record the approved governance baseline";
        }
        setAllComplete(true);
    }
    setRunning(false);
    emit finished();
}

QCoro::Task<> ProtectionRun::run(int index, StepAction action) {
    const QPointer<ProtectionRun> self(this);
    setStatus(index, ProtectionStep::StepStatus::inProgress);

    QString message;
    QString detail;
    bool failed = true;
    try {
        if (!m_gitHub)
            throw GitHubError(GitHubError::networkError);
        co_await action();
        failed = false;
    } catch (const GitHubFailure &error) {
        // Our words say which step failed; GitHub's own (a missing
        // permission, a plan without protection) say what to do about it.
        message = error.description();
        detail = error.detail();
    } catch (const std::exception &error) {
        message = QString::fromLocal8Bit(error.what());
    } catch (...) {
        message = tr("An unexpected error occurred.");
    }
    if (!self)
        co_return;

    if (!failed) {
        setStatus(index, ProtectionStep::StepStatus::completed);
        co_return;
    }
    qCDebug(lcGovernance) << "step" << index << "failed:" << message << detail;
    m_steps[index].message = message;
    m_steps[index].detail = detail;
    setStatus(index, ProtectionStep::StepStatus::failed);
    setHasFailed(true);
}

void ProtectionRun::setStatus(int index, ProtectionStep::StepStatus status) {
    m_steps[index].status = status;
    emit stepsChanged();
}

void ProtectionRun::setAllComplete(bool value) {
    if (m_allComplete == value)
        return;
    m_allComplete = value;
    emit allCompleteChanged();
}

void ProtectionRun::setHasFailed(bool value) {
    if (m_hasFailed == value)
        return;
    m_hasFailed = value;
    emit hasFailedChanged();
}

void ProtectionRun::setRunning(bool value) {
    if (m_running == value)
        return;
    m_running = value;
    emit runningChanged();
}
