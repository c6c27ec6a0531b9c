#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace ghemu {

struct GitTreeEntry {
    QString name;
    QString mode; // as the API shows it: "100644", "100755", "040000", "120000", "160000"
    QString sha;

    QString type() const; // "blob", "tree" or "commit"
};

struct GitSignature {
    QString name;
    QString email;
    QDateTime date; // keeps its UTC offset
};

struct GitCommit {
    QString tree;
    QStringList parents;
    GitSignature author;
    GitSignature committer;
    QString message;
};

// One change to a tree, by path: set an entry, or (no sha) delete the path.
struct GitTreeChange {
    QString path;
    QString mode;
    std::optional<QString> sha;
};

// A repository's object database: content-addressed blobs, trees and
// commits whose ids are exactly the SHA-1 ids git computes, so anything
// written here can be checked with git itself.
class GitObjectStore {
public:
    static QString emptyTreeSha();
    static bool isValidMode(const QString &mode);

    QString putBlob(const QByteArray &content);
    QString putTree(QList<GitTreeEntry> entries);
    QString putCommit(const GitCommit &commit);

    bool contains(const QString &sha) const { return m_objects.contains(sha); }
    QString typeOf(const QString &sha) const; // empty when unknown
    std::optional<QByteArray> raw(const QString &sha) const;
    std::optional<QByteArray> blob(const QString &sha) const;
    std::optional<QList<GitTreeEntry>> tree(const QString &sha) const;
    std::optional<GitCommit> commit(const QString &sha) const;

    // The entry at a slash-separated path under a tree.
    std::optional<GitTreeEntry> lookup(const QString &treeSha, const QString &path) const;
    // Every blob under a tree, by full path.
    QMap<QString, QString> files(const QString &treeSha) const;
    bool isAncestor(const QString &ancestor, const QString &descendant) const;

    // A new tree: the base (or nothing) with the changes applied in order.
    // Empty directories disappear, as in git. On failure returns none and
    // sets *error to the message GitHub would give.
    std::optional<QString> applyChanges(const QString &baseTree,
                                        const QList<GitTreeChange> &changes, QString *error);

private:
    struct Object {
        QByteArray type;
        QByteArray raw;
    };
    QString put(const QByteArray &type, const QByteArray &raw);

    QHash<QString, Object> m_objects;
    QHash<QString, QList<GitTreeEntry>> m_trees;
    QHash<QString, GitCommit> m_commits;
};

} // namespace ghemu
