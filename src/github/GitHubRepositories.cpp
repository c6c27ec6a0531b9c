#include "GitHubService.h"

#include "DiagnosticLog.h"
#include "GitHubError.h"
#include "GitHubInternal.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringDecoder>

using namespace GitHubInternal;

namespace {

std::optional<QString> strictUtf8(const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The "sha" text of a reply's object (or of its `nested` object).
std::optional<QString> shaOf(const QByteArray &body, const QString &nested = {}) {
    QJsonObject object = parseJson(body).object();
    if (!nested.isEmpty())
        object = object.value(nested).toObject();
    const auto sha = JsonField::string(object, QStringLiteral("sha"));
    if (!sha || sha->isEmpty())
        return std::nullopt;
    return sha;
}

// role_name is the highest role from every grant (a team can give more than
// the base role that permissions shows); a custom role name says nothing we
// can rank, so permissions decide then.
std::optional<MachineRole> roleFromName(const QString &roleName) {
    if (roleName == QLatin1String("admin"))
        return MachineRole::ceo;
    if (roleName == QLatin1String("maintain") || roleName == QLatin1String("write"))
        return MachineRole::staff;
    if (roleName == QLatin1String("triage") || roleName == QLatin1String("read"))
        return MachineRole::freelancer;
    return std::nullopt;
}

std::optional<TeamMember> teamMemberFrom(const QJsonValue &entry) {
    const QJsonObject object = entry.toObject();
    const auto login = JsonField::string(object, QStringLiteral("login"));
    if (!login)
        return std::nullopt;
    TeamMember member;
    member.gitHubUsername = *login;
    if (const auto role = roleFromName(object.value(QLatin1String("role_name")).toString())) {
        member.role = *role;
        return member;
    }
    const QJsonValue permissions = object.value(QLatin1String("permissions"));
    if (!permissions.isObject())
        return std::nullopt;
    const QJsonObject flags = permissions.toObject();
    for (auto it = flags.begin(); it != flags.end(); ++it) {
        if (!it.value().isBool())
            return std::nullopt;
    }
    if (flags.value(QLatin1String("admin")).toBool())
        member.role = MachineRole::ceo;
    else if (flags.value(QLatin1String("push")).toBool())
        member.role = MachineRole::staff;
    else
        member.role = MachineRole::freelancer;
    return member;
}

// Request bodies are built here rather than inline: g++ 12 miscompiles
// braced JSON initialisers inside coroutines ("array used as initializer").
QJsonObject createRepoBody(const QString &org, const QString &name) {
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("private"), true},
        {QStringLiteral("auto_init"), true},
        {QStringLiteral("description"),
         org + QStringLiteral(" AI operations \u2014 governed by KeelMark")},
    };
}

QJsonArray contentEntries(const QList<FileEntry> &files) {
    QJsonArray entries;
    for (const FileEntry &file : files) {
        entries.append(QJsonObject{
            {QStringLiteral("path"), file.path},
            {QStringLiteral("mode"), QStringLiteral("100644")},
            {QStringLiteral("type"), QStringLiteral("blob")},
            {QStringLiteral("content"), file.content},
        });
    }
    return entries;
}

// Entries that name blobs GitHub already holds, so no content travels.
QJsonArray blobEntries(const QMap<QString, QString> &blobIds) {
    QJsonArray entries;
    for (auto it = blobIds.begin(); it != blobIds.end(); ++it) {
        entries.append(QJsonObject{
            {QStringLiteral("path"), it.key()},
            {QStringLiteral("mode"), QStringLiteral("100644")},
            {QStringLiteral("type"), QStringLiteral("blob")},
            {QStringLiteral("sha"), it.value()},
        });
    }
    return entries;
}

bool isObjectId(const QString &text) {
    if (text.size() != 40)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

QJsonObject treeBody(const QString &baseTree, const QJsonArray &entries) {
    return QJsonObject{{QStringLiteral("base_tree"), baseTree}, {QStringLiteral("tree"), entries}};
}

QJsonObject commitBody(const QString &message, const QString &tree, const QString &parent) {
    return QJsonObject{
        {QStringLiteral("message"), message},
        {QStringLiteral("tree"), tree},
        {QStringLiteral("parents"), QJsonArray{parent}},
    };
}

QJsonObject refUpdateBody(const QString &sha) {
    return QJsonObject{{QStringLiteral("sha"), sha}, {QStringLiteral("force"), false}};
}

} // namespace

QCoro::Task<bool> GitHubService::repoExists(QString org, QString name) {
    co_return co_await answersOk(repoPath(org, name));
}

QCoro::Task<bool> GitHubService::answersOk(QString path) {
    const QString token = co_await ensureValidToken();
    const Reply reply = co_await apiGet(path, token);
    co_return reply.status == 200;
}

QCoro::Task<> GitHubService::requireRepo(QString org, QString name) {
    const QString path = repoPath(org, name);
    const QString token = co_await ensureValidToken();
    const Reply reply = co_await apiGet(path, token);
    if (reply.status != 200)
        throw GitHubError(GitHubError::repoCreationFailed, gitHubMessage(reply.body));
}

QCoro::Task<bool> GitHubService::createRepo(QString org, QString name, GitHubCancellation cancel) {
    guardOrg(org);
    const QString orgSegment = pathSegment(org);
    pathSegment(name);
    heldToken();
    cancel.throwIfCancelled();
    const bool exists = co_await repoExists(org, name);
    if (exists)
        co_return false;
    cancel.throwIfCancelled();
    const QJsonObject body = createRepoBody(org, name);
    // Read after repoExists: it may have refreshed, which retires the old token.
    const Reply reply =
        co_await send(QByteArrayLiteral("POST"),
                      apiUrl(QStringLiteral("/orgs/") + orgSegment + QStringLiteral("/repos")),
                      heldToken(), body);
    if (reply.status != 201)
        throw GitHubError(GitHubError::repoCreationFailed, gitHubMessage(reply.body));
    co_return true;
}

QCoro::Task<GitHubBranchHead> GitHubService::writeFiles(QString org, QString repo,
                                                        QList<FileEntry> files, QString message,
                                                        GitHubCancellation cancel) {
    guardOrg(org);
    repoPath(org, repo);
    // Every name is checked before the first request, so a bad one sends nothing.
    for (const FileEntry &file : files)
        filePathSegments(file.path);
    co_return co_await commitTreeOnMain(org, repo, contentEntries(files), message, false, cancel);
}

QCoro::Task<GitHubBranchHead> GitHubService::writeBlobIds(QString org, QString repo,
                                                          QMap<QString, QString> blobIds,
                                                          QString message,
                                                          GitHubCancellation cancel) {
    guardOrg(org);
    repoPath(org, repo);
    for (auto it = blobIds.begin(); it != blobIds.end(); ++it) {
        filePathSegments(it.key());
        if (!isObjectId(it.value()))
            throw GitHubError(GitHubError::invalidName);
    }
    co_return co_await commitTreeOnMain(org, repo, blobEntries(blobIds), message, true, cancel);
}

QCoro::Task<GitHubBranchHead> GitHubService::commitTreeOnMain(QString org, QString repo,
                                                              QJsonArray entries, QString message,
                                                              bool skipUnchanged,
                                                              GitHubCancellation cancel) {
    const QString base = repoPath(org, repo);
    heldToken();

    cancel.throwIfCancelled();
    const Reply head = co_await apiGet(base + QStringLiteral("/git/ref/heads/main"), heldToken());
    const auto parent = shaOf(head.body, QStringLiteral("object"));
    if (!parent)
        throw GitHubError(GitHubError::fileWriteFailed, gitHubMessage(head.body));

    cancel.throwIfCancelled();
    const Reply parentCommit =
        co_await apiGet(base + QStringLiteral("/git/commits/") + pathSegment(*parent), heldToken());
    const auto baseTree = shaOf(parentCommit.body, QStringLiteral("tree"));
    if (!baseTree)
        throw GitHubError(GitHubError::fileWriteFailed, gitHubMessage(parentCommit.body));

    // The new tree overlays main's own: without base_tree every other file
    // on main would be deleted by the commit.
    cancel.throwIfCancelled();
    const QByteArray treeReply = co_await apiPost(base + QStringLiteral("/git/trees"),
                                                  treeBody(*baseTree, entries), heldToken(), 201);
    const auto newTree = shaOf(treeReply);
    if (!newTree)
        throw GitHubError(GitHubError::fileWriteFailed);
    GitHubBranchHead written;
    if (skipUnchanged && *newTree == *baseTree) {
        // main holds these files already: an empty commit would only add
        // noise to its history.
        written.commitSha = *parent;
        written.treeSha = *baseTree;
        co_return written;
    }

    cancel.throwIfCancelled();
    const QByteArray commitReply =
        co_await apiPost(base + QStringLiteral("/git/commits"),
                         commitBody(message, *newTree, *parent), heldToken(), 201);
    const auto newCommit = shaOf(commitReply);
    if (!newCommit)
        throw GitHubError(GitHubError::fileWriteFailed);

    // A refused update (protected or moved main) means nothing was committed.
    cancel.throwIfCancelled();
    const Reply update = co_await apiPatch(base + QStringLiteral("/git/refs/heads/main"),
                                           refUpdateBody(*newCommit), heldToken());
    if (update.status != 200)
        throw GitHubError(GitHubError::fileWriteFailed, gitHubMessage(update.body));
    written.commitSha = *newCommit;
    written.treeSha = *newTree;
    co_return written;
}

QCoro::Task<QString> GitHubService::getFileContent(QString org, QString repo, QString path) {
    const QString urlPath =
        repoPath(org, repo) + QStringLiteral("/contents/") + filePathSegments(path);
    const QString token = co_await ensureValidToken();
    const Reply reply = co_await apiGet(urlPath, token);

    if (reply.status != 200) {
        const QString body = strictUtf8(reply.body).value_or(QStringLiteral("no body"));
        m_log.appendToTempLog(DiagnosticLog::timestampedLine(
            QStringLiteral("getFileContent ") + org + QLatin1Char('/') + repo + QLatin1Char('/') +
            path + QStringLiteral(" HTTP ") + QString::number(reply.status) + QStringLiteral(": ") +
            body));
        throw GitHubError(GitHubError::fileWriteFailed, gitHubMessage(reply.body));
    }

    const QJsonObject object = parseJson(reply.body).object();
    const auto content = JsonField::string(object, QStringLiteral("content"));
    if (!content) {
        printLine(QStringLiteral("[GitHubService] getFileContent ") + path +
                  QStringLiteral(": response missing 'content' field"));
        throw GitHubError(GitHubError::fileWriteFailed);
    }
    // Files over 1 MB come with an empty content and encoding "none": not
    // an empty file.
    const QJsonValue encoding = object.value(QLatin1String("encoding"));
    const bool base64 = encoding.isUndefined() || encoding.toString() == QLatin1String("base64");
    QByteArray encoded = content->toUtf8();
    encoded.removeIf([](char c) { return c == '\n'; });
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    const auto text = decoded ? strictUtf8(*decoded) : std::nullopt;
    if (!base64 || !text) {
        printLine(QStringLiteral("[GitHubService] getFileContent ") + path +
                  QStringLiteral(": base64 decode failed"));
        throw GitHubError(GitHubError::fileWriteFailed);
    }
    co_return *text;
}

QCoro::Task<QList<TeamMember>> GitHubService::getCollaborators(QString org, QString repo) {
    const QString path = repoPath(org, repo) + QStringLiteral("/collaborators");
    const QString token = co_await ensureValidToken();
    // Read on every health check: an unchanged list costs no rate limit.
    const QList<Reply> pages = co_await apiGetPages(path, token, true);

    QList<TeamMember> members;
    for (const Reply &page : pages) {
        const QJsonDocument document = parseJson(page.body);
        // An error object instead of a list: whatever was read so far.
        if (!document.isArray())
            break;
        for (const QJsonValue &entry : document.array()) {
            if (auto member = teamMemberFrom(entry))
                members.append(*member);
        }
    }
    co_return members;
}
