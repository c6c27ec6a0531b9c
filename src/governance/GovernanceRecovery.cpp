#include "GovernanceRecovery.h"

#include "BaselineStore.h"
#include "GitHubService.h"
#include "GovernanceBlobIds.h"
#include "GovernanceFiles.h"
#include "GovernanceSteps.h"
#include "PersistenceService.h"

#include <exception>

using namespace GovernanceSteps;

namespace GovernanceRecovery {

namespace {
const QString kRestoreMessage = QStringLiteral("Restore the approved KeelMark governance files");
} // namespace

GovernanceBaseline currentBaseline(const QString &directory, const QString &owner,
                                   const QString &org, const QDateTime &now) {
    const PersistenceService persistence(directory);
    if (const auto stored = BaselineStore(persistence).load())
        return *stored;
    return GovernanceBlobIds::provisional(owner, org, now);
}

QCoro::Task<GitHubBranchHead> restoreFiles(QPointer<GitHubService> gitHub, QString org,
                                           QString repo, GovernanceBaseline baseline,
                                           QStringList paths, QString owner) {
    QMap<QString, QString> blobIds;
    for (const QString &path : paths) {
        if (baseline.blobIds.contains(path))
            blobIds.insert(path, baseline.blobIds.value(path));
    }
    QList<FileEntry> contents;
    for (const FileEntry &file : GovernanceFiles::compose(owner, org)) {
        if (blobIds.contains(file.path))
            contents << file;
    }
    if (blobIds.isEmpty())
        throw GitHubError(GitHubError::fileWriteFailed,
                          QStringLiteral("None of these files is one KeelMark watches."));
    // Never raised: once protection is lifted the sequence must run to the
    // end that applies it again.
    const GitHubCancellation cancel;
    std::exception_ptr failure;
    GitHubBranchHead written;
    try {
        co_await liftProtection(gitHub, org, repo, cancel);
        ensureWanted(gitHub, cancel);
        if (baseline.isProvisional())
            written = co_await gitHub->writeFiles(org, repo, contents, kRestoreMessage, cancel);
        else
            written = co_await gitHub->writeBlobIds(org, repo, blobIds, kRestoreMessage, cancel);
    } catch (const GitHubFailure &) {
        failure = std::current_exception();
    }
    // Also after a failed commit: a refused write must not leave main open.
    try {
        co_await applyProtection(gitHub, org, repo, cancel, {});
    } catch (const GitHubFailure &) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
    co_return written;
}

QCoro::Task<GovernanceBaseline> acceptMain(QPointer<GitHubService> gitHub, QString org,
                                           QString repo, GovernanceBaseline baseline,
                                           QString acceptedBy, QDateTime when) {
    const GitHubCancellation cancel;
    ensureWanted(gitHub, cancel);
    const std::optional<GitHubBranchHead> head =
        co_await gitHub->getBranchHead(org, repo, QStringLiteral("main"));
    ensureWanted(gitHub, cancel);
    if (!head)
        throw GitHubError(GitHubError::fileWriteFailed,
                          QStringLiteral("Branch main was not found on GitHub."));
    const QMap<QString, QString> tree = co_await gitHub->getTreeBlobIds(org, repo, head->treeSha);
    const GovernanceBaseline result = accepted(baseline, *head, tree, acceptedBy, when);
    // A baseline without files cannot be stored (it would read back as none
    // and the check would fall back to the composed files).
    if (result.blobIds.isEmpty())
        throw GitHubError(GitHubError::fileWriteFailed,
                          QStringLiteral("main holds none of the governance files; restore "
                                         "them instead."));
    co_return result;
}

GovernanceBaseline accepted(const GovernanceBaseline &baseline, const GitHubBranchHead &head,
                            const QMap<QString, QString> &tree, const QString &acceptedBy,
                            const QDateTime &when) {
    GovernanceBaseline result = baseline;
    result.commitSha = head.commitSha;
    result.treeSha = head.treeSha;
    result.acceptedBy = acceptedBy;
    result.acceptedAt = when.toUTC();
    result.pullRequest.reset();
    result.cleanTree.reset();
    result.cleanCommit.reset();
    result.blobIds.clear();
    for (auto it = baseline.blobIds.begin(); it != baseline.blobIds.end(); ++it) {
        if (tree.contains(it.key()))
            result.blobIds.insert(it.key(), tree.value(it.key()));
    }
    return result;
}

} // namespace GovernanceRecovery
