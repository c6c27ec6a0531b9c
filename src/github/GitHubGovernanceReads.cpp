#include "GitHubService.h"

#include "GitHubError.h"
#include "GitHubInternal.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringDecoder>

using namespace GitHubInternal;

namespace {

QJsonObject objectOf(const QByteArray &body) {
    return parseJson(body).object();
}

QJsonArray arrayOf(const QByteArray &body) {
    return parseJson(body).array();
}

QString text(const QJsonObject &object, const char *key) {
    return object.value(QLatin1String(key)).toString();
}

QString loginOf(const QJsonValue &user) {
    return user.toObject().value(QLatin1String("login")).toString();
}

// A rename touches the old path as much as the new one.
QStringList fileNames(const QJsonArray &files) {
    QStringList names;
    for (const QJsonValue &entry : files) {
        const QJsonObject file = entry.toObject();
        names << text(file, "filename");
        const QString previous = text(file, "previous_filename");
        if (!previous.isEmpty())
            names << previous;
    }
    return names;
}

std::optional<QString> decodedContent(const QJsonObject &object) {
    QByteArray encoded = object.value(QLatin1String("content")).toString().toUtf8();
    encoded.removeIf([](char c) { return c == '\n'; });
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = utf8.decode(*decoded);
    if (utf8.hasError())
        return std::nullopt;
    return result;
}

// Outside the coroutines: g++ 12 miscompiles braced initialisers in them.
GitHubReviewSummary reviewOf(const QJsonObject &review) {
    return GitHubReviewSummary{loginOf(review.value(QLatin1String("user"))), text(review, "state"),
                               text(review, "commit_id")};
}

} // namespace

QCoro::Task<bool> GitHubService::repositoryPresent(QString org, QString repo) {
    const QString path = repoPath(org, repo);
    const Reply reply = co_await checkRead(path);
    co_return reply.status == 200;
}

QCoro::Task<std::optional<GitHubBranchHead>> GitHubService::getBranchHead(QString org, QString repo,
                                                                          QString branch) {
    const QString path =
        repoPath(org, repo) + QStringLiteral("/branches/") + filePathSegments(branch);
    const Reply reply = co_await checkRead(path);
    if (reply.status != 200)
        co_return std::nullopt;
    const QJsonObject commit = objectOf(reply.body).value(QLatin1String("commit")).toObject();
    GitHubBranchHead head;
    head.commitSha = text(commit, "sha");
    head.treeSha = commit.value(QLatin1String("commit"))
                       .toObject()
                       .value(QLatin1String("tree"))
                       .toObject()
                       .value(QLatin1String("sha"))
                       .toString();
    if (head.commitSha.isEmpty() || head.treeSha.isEmpty())
        throw GitHubJsonError(QStringLiteral("The branch answer names no commit or tree."));
    co_return head;
}

QCoro::Task<std::optional<QJsonObject>> GitHubService::getProtectionBody(QString org,
                                                                         QString repo) {
    const QString path = repoPath(org, repo) + QStringLiteral("/branches/main/protection");
    const Reply reply = co_await checkRead(path);
    if (reply.status != 200)
        co_return std::nullopt;
    co_return objectOf(reply.body);
}

QCoro::Task<std::optional<QString>> GitHubService::getFileIfPresent(QString org, QString repo,
                                                                    QString path) {
    const QString urlPath =
        repoPath(org, repo) + QStringLiteral("/contents/") + filePathSegments(path);
    const Reply reply = co_await checkRead(urlPath);
    if (reply.status != 200)
        co_return std::nullopt;
    const auto content = decodedContent(objectOf(reply.body));
    if (!content)
        throw GitHubJsonError(QStringLiteral("The content of ") + path +
                              QStringLiteral(" could not be decoded."));
    co_return content;
}

QCoro::Task<QMap<QString, QString>> GitHubService::getTreeBlobIds(QString org, QString repo,
                                                                  QString treeSha) {
    const QString path = repoPath(org, repo) + QStringLiteral("/git/trees/") +
                         pathSegment(treeSha) + QStringLiteral("?recursive=1");
    const Reply reply = co_await checkRead(path);
    if (reply.status != 200)
        throw GitHubReadFailure(GitHubReadFailure::unexpected, reply.status,
                                gitHubMessage(reply.body));
    const QJsonObject tree = objectOf(reply.body);
    // A truncated listing would make files look deleted: refuse it rather
    // than report drift that is not there.
    if (tree.value(QLatin1String("truncated")).toBool())
        throw GitHubJsonError(QStringLiteral("GitHub listed the repository only in part."));
    QMap<QString, QString> blobs;
    for (const QJsonValue &entry : tree.value(QLatin1String("tree")).toArray()) {
        const QJsonObject item = entry.toObject();
        if (text(item, "type") == QLatin1String("blob"))
            blobs.insert(text(item, "path"), text(item, "sha"));
    }
    co_return blobs;
}

QCoro::Task<QList<GitHubCommitSummary>> GitHubService::compareCommits(QString org, QString repo,
                                                                      QString base, QString head) {
    const QString path = repoPath(org, repo) + QStringLiteral("/compare/") + pathSegment(base) +
                         QStringLiteral("...") + pathSegment(head);
    const Reply reply = co_await checkRead(path);
    if (reply.status != 200)
        throw GitHubReadFailure(GitHubReadFailure::unexpected, reply.status,
                                gitHubMessage(reply.body));
    const QJsonObject comparison = objectOf(reply.body);
    const QJsonArray commits = comparison.value(QLatin1String("commits")).toArray();
    QList<GitHubCommitSummary> result;
    for (const QJsonValue &entry : commits) {
        const QJsonObject commit = entry.toObject();
        GitHubCommitSummary summary;
        summary.sha = text(commit, "sha");
        summary.author = loginOf(commit.value(QLatin1String("author")));
        if (summary.author.isEmpty())
            summary.author = commit.value(QLatin1String("commit"))
                                 .toObject()
                                 .value(QLatin1String("author"))
                                 .toObject()
                                 .value(QLatin1String("name"))
                                 .toString();
        if (commit.contains(QLatin1String("files"))) {
            summary.files = fileNames(commit.value(QLatin1String("files")).toArray());
            summary.filesKnown = true;
        }
        result << summary;
    }
    // The comparison's own file list is the single commit's when there is one.
    if (result.size() == 1 && !result.first().filesKnown) {
        result.first().files = fileNames(comparison.value(QLatin1String("files")).toArray());
        result.first().filesKnown = true;
    }
    co_return result;
}

QCoro::Task<QStringList> GitHubService::getCommitFiles(QString org, QString repo, QString sha) {
    const QString path = repoPath(org, repo) + QStringLiteral("/commits/") + pathSegment(sha);
    const Reply reply = co_await checkRead(path);
    if (reply.status != 200)
        throw GitHubReadFailure(GitHubReadFailure::unexpected, reply.status,
                                gitHubMessage(reply.body));
    co_return fileNames(objectOf(reply.body).value(QLatin1String("files")).toArray());
}

QCoro::Task<QList<GitHubPullSummary>> GitHubService::getCommitPulls(QString org, QString repo,
                                                                    QString sha) {
    const QString path = repoPath(org, repo) + QStringLiteral("/commits/") + pathSegment(sha) +
                         QStringLiteral("/pulls?per_page=100");
    // 409 and 404: no pull requests to list for this commit.
    const Reply reply = co_await checkRead(path, 409);
    QList<GitHubPullSummary> pulls;
    if (reply.status != 200)
        co_return pulls;
    for (const QJsonValue &entry : arrayOf(reply.body)) {
        const QJsonObject pull = entry.toObject();
        GitHubPullSummary summary;
        summary.number = pull.value(QLatin1String("number")).toInt();
        summary.author = loginOf(pull.value(QLatin1String("user")));
        summary.headSha = text(pull.value(QLatin1String("head")).toObject(), "sha");
        summary.merged = pull.value(QLatin1String("merged_at")).isString();
        summary.mergeCommitSha = text(pull, "merge_commit_sha");
        pulls << summary;
    }
    co_return pulls;
}

QCoro::Task<QList<GitHubReviewSummary>> GitHubService::getPullReviews(QString org, QString repo,
                                                                      int number) {
    const QString path = repoPath(org, repo) + QStringLiteral("/pulls/") + QString::number(number) +
                         QStringLiteral("/reviews?per_page=100");
    const Reply reply = co_await checkRead(path);
    QList<GitHubReviewSummary> reviews;
    if (reply.status != 200)
        co_return reviews;
    for (const QJsonValue &entry : arrayOf(reply.body)) {
        const QJsonObject review = entry.toObject();
        reviews << reviewOf(review);
    }
    co_return reviews;
}
