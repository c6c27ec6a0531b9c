#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <optional>

// The governance an admin approved: the commit on main that holds it, that
// commit's tree, and the git blob id of each governance file, with who
// accepted it and when. A check compares main with it; a baseline without a
// commit is provisional (the files KeelMark composes, not yet found on main).
struct GovernanceBaseline {
    QString commitSha;                  // empty while provisional
    QString treeSha;                    // empty while provisional
    QMap<QString, QString> blobIds;     // repository path -> git blob id
    QString acceptedBy;                 // login of whoever approved it
    QDateTime acceptedAt;               // UTC
    std::optional<int> pullRequest;     // the reviewed pull request it moved to
    std::optional<QString> cleanTree;   // last tree of main found to match, when not treeSha
    std::optional<QString> cleanCommit; // main's commit holding cleanTree; never without it

    bool isProvisional() const { return commitSha.isEmpty(); }
    // Where a change to a watched file must have come after: the last commit
    // whose files all matched. Reading history from there keeps it as short
    // as the commits since that check, however old the approval.
    QString historyBase() const { return cleanTree ? cleanCommit.value_or(commitSha) : commitSha; }

    // Pretty-printed, keys sorted, absent optionals left out.
    QByteArray encode() const;
    // All or nothing: a missing or mistyped key, an unknown key or format, a
    // malformed object id or path, or a non-UTC time gives nullopt.
    static std::optional<GovernanceBaseline> decode(const QByteArray &bytes);

    friend bool operator==(const GovernanceBaseline &, const GovernanceBaseline &) = default;
};
