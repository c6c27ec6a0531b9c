#pragma once

#include <QString>
#include <QStringList>

// What the governance reads return, as GitHub lists them: plain values the
// health check turns into its facts.

struct GitHubBranchHead {
    QString commitSha;
    QString treeSha;
};

// One commit of a comparison.
struct GitHubCommitSummary {
    QString sha;
    QString author; // GitHub login, or the git author name when none is linked
    QStringList files;
    bool filesKnown = false; // false: read them with getCommitFiles
};

struct GitHubPullSummary {
    int number = 0;
    QString author;
    QString headSha;
    bool merged = false;
    QString mergeCommitSha;
};

struct GitHubReviewSummary {
    QString reviewer;
    QString state;
    QString commitSha;
};
