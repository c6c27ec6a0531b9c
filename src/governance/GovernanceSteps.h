#pragma once

#include "GitHubError.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

class AuditRecorder;
class GitHubService;

// Steps that every sequence writing to the ops repository shares (the
// protection run, restoring the governance files). Free coroutines with
// by-value parameters, so nothing they use lives in an object that a screen
// may destroy while a request is in flight; once `cancel` is raised no
// further request goes out.
namespace GovernanceSteps {

// Throws GitHubCancelledError once the starter has gone or stopped the run.
void ensureWanted(const QPointer<GitHubService> &gitHub, const GitHubCancellation &cancel);

// GitHub's own words where it gave them, else ours.
QString failureText(const GitHubFailure &error);
// The same for anything a step may throw.
QString failureText(const std::exception &error);

// Removes main's protection when there is any: a commit cannot land on a
// protected main.
QCoro::Task<> liftProtection(QPointer<GitHubService> gitHub, QString org, QString repo,
                             GitHubCancellation cancel);

// Applies KeelMark's rule set to main; with `audit`, records the outcome as
// a "protection" line.
QCoro::Task<> applyProtection(QPointer<GitHubService> gitHub, QString org, QString repo,
                              GitHubCancellation cancel, QPointer<AuditRecorder> audit);

} // namespace GovernanceSteps
