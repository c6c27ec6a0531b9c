#pragma once

#include "GitHubGovernanceTypes.h"
#include "GovernanceBaseline.h"

#include <QCoroTask>
#include <QDateTime>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

class GitHubService;

// Getting back to a governed repository after drift: either the approved
// files go back on main, or the files on main become the approved ones.
namespace GovernanceRecovery {

// What a check measures main against: the stored baseline, or the files
// KeelMark composes (provisional) when none was recorded.
GovernanceBaseline currentBaseline(const QString &directory, const QString &owner,
                                   const QString &org, const QDateTime &now);

// Writes the baseline's version of `paths` back to main in one commit,
// protection lifted around it: tree entries name the baseline's blobs, so no
// content is sent. Only the named paths: other files may differ from the
// baseline through a reviewed change the next check accepts.
// A provisional baseline's blobs may never have reached GitHub, so its
// composed contents are sent instead, as the setup does. KeelMark's
// protection is applied again whatever happened before; a failure throws
// the first failed step's GitHubFailure once that is done. Returns main's
// new head (its old one when it held the files already).
QCoro::Task<GitHubBranchHead> restoreFiles(QPointer<GitHubService> gitHub, QString org,
                                           QString repo, GovernanceBaseline baseline,
                                           QStringList paths, QString owner);

// The baseline that approves main's files as they are now, read from GitHub;
// nothing is stored. Throws a GitHubFailure when main or its tree cannot be
// read, or when main holds none of the watched files.
QCoro::Task<GovernanceBaseline> acceptMain(QPointer<GitHubService> gitHub, QString org,
                                           QString repo, GovernanceBaseline baseline,
                                           QString acceptedBy, QDateTime when);

// The baseline anchored at `head` whose watched files are those of `tree`;
// a watched file main no longer has is watched no more.
GovernanceBaseline accepted(const GovernanceBaseline &baseline, const GitHubBranchHead &head,
                            const QMap<QString, QString> &tree, const QString &acceptedBy,
                            const QDateTime &when);

} // namespace GovernanceRecovery
