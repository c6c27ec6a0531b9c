#include "GitObjectStore.h"

#include <QCryptographicHash>

#include <algorithm>
#include <map>
#include <memory>

namespace ghemu {

QString GitTreeEntry::type() const {
    if (mode == QLatin1String("040000"))
        return QStringLiteral("tree");
    if (mode == QLatin1String("160000"))
        return QStringLiteral("commit");
    return QStringLiteral("blob");
}

QString GitObjectStore::emptyTreeSha() {
    return QStringLiteral("4b825dc642cb6eb9a060e54bf8d69288fbee4904");
}

bool GitObjectStore::isValidMode(const QString &mode) {
    static const QStringList modes = {"100644", "100755", "040000", "120000", "160000"};
    return modes.contains(mode);
}

QString GitObjectStore::put(const QByteArray &type, const QByteArray &raw) {
    QByteArray framed = type + ' ' + QByteArray::number(raw.size()) + '\0' + raw;
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(framed, QCryptographicHash::Sha1).toHex());
    m_objects.insert(sha, Object{type, raw});
    return sha;
}

QString GitObjectStore::putBlob(const QByteArray &content) {
    return put("blob", content);
}

// git orders entries by name bytes, comparing a tree as if its name ended
// in '/', so "a.txt" sorts before the directory "a" and "a-b" before "a/".
static bool gitEntryLess(const GitTreeEntry &a, const GitTreeEntry &b) {
    const QByteArray an = a.name.toUtf8();
    const QByteArray bn = b.name.toUtf8();
    const int common = std::min(an.size(), bn.size());
    const int c = std::memcmp(an.constData(), bn.constData(), size_t(common));
    if (c != 0)
        return c < 0;
    const auto next = [](const QByteArray &n, int at, bool isTree) -> unsigned char {
        if (at < n.size())
            return static_cast<unsigned char>(n.at(at));
        return isTree ? '/' : '\0';
    };
    return next(an, common, a.mode == QLatin1String("040000")) <
           next(bn, common, b.mode == QLatin1String("040000"));
}

QString GitObjectStore::putTree(QList<GitTreeEntry> entries) {
    std::sort(entries.begin(), entries.end(), gitEntryLess);
    QByteArray raw;
    for (const auto &e : entries) {
        // git writes directory modes without the leading zero.
        const QByteArray mode = e.mode == QLatin1String("040000") ? "40000" : e.mode.toLatin1();
        raw += mode + ' ' + e.name.toUtf8() + '\0' + QByteArray::fromHex(e.sha.toLatin1());
    }
    const QString sha = put("tree", raw);
    m_trees.insert(sha, entries);
    return sha;
}

static QByteArray signatureLine(const GitSignature &s) {
    const int offset = s.date.offsetFromUtc();
    const int abs = std::abs(offset) / 60;
    const QByteArray tz = (offset < 0 ? QByteArray("-") : QByteArray("+")) +
                          QByteArray::number(abs / 60).rightJustified(2, '0') +
                          QByteArray::number(abs % 60).rightJustified(2, '0');
    return s.name.toUtf8() + " <" + s.email.toUtf8() + "> " +
           QByteArray::number(s.date.toSecsSinceEpoch()) + ' ' + tz;
}

QString GitObjectStore::putCommit(const GitCommit &commit) {
    QByteArray raw = "tree " + commit.tree.toLatin1() + '\n';
    for (const auto &p : commit.parents)
        raw += "parent " + p.toLatin1() + '\n';
    raw += "author " + signatureLine(commit.author) + '\n';
    raw += "committer " + signatureLine(commit.committer) + '\n';
    raw += '\n' + commit.message.toUtf8();
    const QString sha = put("commit", raw);
    m_commits.insert(sha, commit);
    return sha;
}

QString GitObjectStore::typeOf(const QString &sha) const {
    const auto it = m_objects.constFind(sha);
    return it == m_objects.constEnd() ? QString() : QString::fromLatin1(it->type);
}

std::optional<QByteArray> GitObjectStore::raw(const QString &sha) const {
    const auto it = m_objects.constFind(sha);
    if (it == m_objects.constEnd())
        return std::nullopt;
    return it->raw;
}

std::optional<QByteArray> GitObjectStore::blob(const QString &sha) const {
    const auto it = m_objects.constFind(sha);
    if (it == m_objects.constEnd() || it->type != "blob")
        return std::nullopt;
    return it->raw;
}

std::optional<QList<GitTreeEntry>> GitObjectStore::tree(const QString &sha) const {
    if (sha == emptyTreeSha() && !m_trees.contains(sha))
        return QList<GitTreeEntry>{};
    const auto it = m_trees.constFind(sha);
    if (it == m_trees.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<GitCommit> GitObjectStore::commit(const QString &sha) const {
    const auto it = m_commits.constFind(sha);
    if (it == m_commits.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<GitTreeEntry> GitObjectStore::lookup(const QString &treeSha,
                                                   const QString &path) const {
    const QStringList parts = path.split(QLatin1Char('/'));
    QString current = treeSha;
    for (int i = 0; i < parts.size(); ++i) {
        const auto entries = tree(current);
        if (!entries)
            return std::nullopt;
        const auto it = std::find_if(entries->begin(), entries->end(),
                                     [&](const GitTreeEntry &e) { return e.name == parts.at(i); });
        if (it == entries->end())
            return std::nullopt;
        if (i == parts.size() - 1)
            return *it;
        if (it->mode != QLatin1String("040000"))
            return std::nullopt;
        current = it->sha;
    }
    return std::nullopt;
}

QMap<QString, QString> GitObjectStore::files(const QString &treeSha) const {
    QMap<QString, QString> out;
    const auto walk = [&](auto &&self, const QString &sha, const QString &prefix) -> void {
        const auto entries = tree(sha);
        if (!entries)
            return;
        for (const auto &e : *entries) {
            if (e.mode == QLatin1String("040000"))
                self(self, e.sha, prefix + e.name + QLatin1Char('/'));
            else
                out.insert(prefix + e.name, e.sha);
        }
    };
    walk(walk, treeSha, QString());
    return out;
}

bool GitObjectStore::isAncestor(const QString &ancestor, const QString &descendant) const {
    QStringList queue{descendant};
    QSet<QString> seen;
    while (!queue.isEmpty()) {
        const QString sha = queue.takeFirst();
        if (sha == ancestor)
            return true;
        if (seen.contains(sha))
            continue;
        seen.insert(sha);
        if (const auto c = commit(sha))
            queue += c->parents;
    }
    return false;
}

namespace {

// A tree being edited: directories are loaded from the store only when a
// change reaches into them; untouched subtrees keep their ids.
struct EditNode {
    QString mode;
    QString sha;
    bool loaded = false;
    std::map<QString, std::unique_ptr<EditNode>> children;
};

bool loadChildren(const GitObjectStore &store, EditNode &node) {
    if (node.loaded)
        return true;
    node.loaded = true;
    if (node.sha.isEmpty())
        return true;
    const auto entries = store.tree(node.sha);
    if (!entries)
        return false;
    for (const auto &e : *entries) {
        auto child = std::make_unique<EditNode>();
        child->mode = e.mode;
        child->sha = e.sha;
        node.children[e.name] = std::move(child);
    }
    return true;
}

// Writes loaded directories bottom-up; an empty directory yields no id.
QString writeNode(GitObjectStore &store, EditNode &node) {
    if (!node.loaded)
        return node.sha;
    QList<GitTreeEntry> entries;
    for (auto &[name, child] : node.children) {
        QString sha = child->sha;
        if (child->mode == QLatin1String("040000")) {
            sha = writeNode(store, *child);
            if (sha.isEmpty())
                continue;
        }
        entries.append({name, child->mode, sha});
    }
    if (entries.isEmpty())
        return {};
    return store.putTree(entries);
}

} // namespace

std::optional<QString> GitObjectStore::applyChanges(const QString &baseTree,
                                                    const QList<GitTreeChange> &changes,
                                                    QString *error) {
    EditNode root;
    root.mode = QStringLiteral("040000");
    root.sha = baseTree;
    if (!loadChildren(*this, root)) {
        *error = QStringLiteral("base_tree is not a valid tree oid");
        return std::nullopt;
    }
    for (const auto &change : changes) {
        const QStringList parts = change.path.split(QLatin1Char('/'));
        EditNode *dir = &root;
        for (int i = 0; i < parts.size() - 1; ++i) {
            auto &slot = dir->children[parts.at(i)];
            if (!slot || slot->mode != QLatin1String("040000")) {
                if (!change.sha) {
                    *error = QStringLiteral("tree.path '%1' does not exist").arg(change.path);
                    return std::nullopt;
                }
                slot = std::make_unique<EditNode>();
                slot->mode = QStringLiteral("040000");
            }
            dir = slot.get();
            if (!loadChildren(*this, *dir)) {
                *error = QStringLiteral("tree.sha %1 is not a valid tree").arg(dir->sha);
                return std::nullopt;
            }
        }
        const QString &leaf = parts.last();
        if (!change.sha) {
            if (!dir->children.erase(leaf)) {
                *error = QStringLiteral("tree.path '%1' does not exist").arg(change.path);
                return std::nullopt;
            }
            continue;
        }
        auto node = std::make_unique<EditNode>();
        node->mode = change.mode;
        node->sha = *change.sha;
        dir->children[leaf] = std::move(node);
    }
    const QString sha = writeNode(*this, root);
    if (sha.isEmpty()) {
        // git can hold an empty tree; GitHub hands its well-known id back.
        return putTree({});
    }
    return sha;
}

} // namespace ghemu
