#include "GitHubService.h"

#include "GitHubError.h"
#include "GitHubInternal.h"

#include <QJsonObject>

using namespace GitHubInternal;

namespace {

QString protectionPath(const QString &org, const QString &repo) {
    return repoPath(org, repo) + QStringLiteral("/branches/main/protection");
}

// The one rule set: a code owner's review for every change, binding admins
// too, linear history, no force pushes, no deletion.
QJsonObject ruleSet() {
    return QJsonObject{
        {QStringLiteral("required_status_checks"), QJsonValue::Null},
        {QStringLiteral("enforce_admins"), true},
        {QStringLiteral("required_pull_request_reviews"),
         QJsonObject{
             {QStringLiteral("required_approving_review_count"), 1},
             {QStringLiteral("require_code_owner_reviews"), true},
             {QStringLiteral("dismiss_stale_reviews"), true},
         }},
        {QStringLiteral("restrictions"), QJsonValue::Null},
        {QStringLiteral("required_linear_history"), true},
        {QStringLiteral("allow_force_pushes"), false},
        {QStringLiteral("allow_deletions"), false},
    };
}

} // namespace

QCoro::Task<bool> GitHubService::hasBranchProtection(QString org, QString repo) {
    co_return co_await answersOk(protectionPath(org, repo));
}

QCoro::Task<> GitHubService::enableBranchProtection(QString org, QString repo,
                                                    GitHubCancellation cancel) {
    guardOrg(org);
    const QString path = protectionPath(org, repo);
    const QString token = co_await ensureValidToken();
    cancel.throwIfCancelled();
    const Reply reply = co_await apiPut(path, ruleSet(), token);
    // GitHub's own words matter here: a plan without protection for private
    // repositories answers 403 with what to upgrade to.
    if (reply.status != 200)
        throw GitHubError(GitHubError::branchProtectionFailed, gitHubMessage(reply.body));
}

QCoro::Task<> GitHubService::disableBranchProtection(QString org, QString repo,
                                                     GitHubCancellation cancel) {
    guardOrg(org);
    const QString path = protectionPath(org, repo);
    const QString token = co_await ensureValidToken();
    cancel.throwIfCancelled();
    const Reply reply = co_await apiDelete(path, token);
    // 404: there was no protection to remove.
    if (reply.status != 204 && reply.status != 404)
        throw GitHubError(GitHubError::branchProtectionFailed, gitHubMessage(reply.body));
}
