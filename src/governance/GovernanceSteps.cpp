#include "GovernanceSteps.h"

#include "AuditRecorder.h"
#include "GitHubService.h"

#include <QJsonObject>

namespace GovernanceSteps {

namespace {

QJsonObject repositoryDetails(const QString &org, const QString &repo) {
    return {{QStringLiteral("repository"), org + QLatin1Char('/') + repo}};
}

} // namespace

void ensureWanted(const QPointer<GitHubService> &gitHub, const GitHubCancellation &cancel) {
    cancel.throwIfCancelled();
    if (!gitHub)
        throw GitHubCancelledError();
}

QString failureText(const GitHubFailure &error) {
    return error.detail().isEmpty() ? error.description() : error.detail();
}

QString failureText(const std::exception &error) {
    if (const auto *failure = dynamic_cast<const GitHubFailure *>(&error))
        return failureText(*failure);
    return QString::fromUtf8(error.what());
}

QCoro::Task<> liftProtection(QPointer<GitHubService> gitHub, QString org, QString repo,
                             GitHubCancellation cancel) {
    ensureWanted(gitHub, cancel);
    // Results of co_await go into named locals: g++ 12 miscompiles the frame
    // of a coroutine with co_await inside a condition.
    const bool isProtected = co_await gitHub->hasBranchProtection(org, repo);
    ensureWanted(gitHub, cancel);
    if (isProtected)
        co_await gitHub->disableBranchProtection(org, repo, cancel);
}

QCoro::Task<> applyProtection(QPointer<GitHubService> gitHub, QString org, QString repo,
                              GitHubCancellation cancel, QPointer<AuditRecorder> audit) {
    ensureWanted(gitHub, cancel);
    try {
        co_await gitHub->enableBranchProtection(org, repo, cancel);
    } catch (const GitHubCancelledError &) {
        throw; // stopped by us: nothing happened worth recording
    } catch (const GitHubFailure &error) {
        // GitHub's own words say why (a plan without protection, a missing
        // permission); ours only that it failed.
        if (audit)
            audit->record(QStringLiteral("protection"),
                          QStringLiteral("Branch protection on %1/%2 failed: %3")
                              .arg(org, repo, failureText(error)),
                          repositoryDetails(org, repo));
        throw;
    }
    if (audit)
        audit->record(QStringLiteral("protection"),
                      QStringLiteral("Branch protection enabled on %1/%2").arg(org, repo),
                      repositoryDetails(org, repo));
}

} // namespace GovernanceSteps
