#include "GovernanceBaseline.h"

#include "Records.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <limits>

namespace {

// Bumped when the shape changes; an unknown format is not read as ours.
constexpr qint64 kFormat = 1;

const QString kFormatKey = QStringLiteral("format");
const QString kCommitKey = QStringLiteral("commit");
const QString kTreeKey = QStringLiteral("tree");
const QString kFilesKey = QStringLiteral("files");
const QString kAcceptedByKey = QStringLiteral("acceptedBy");
const QString kAcceptedAtKey = QStringLiteral("acceptedAt");
const QString kPullRequestKey = QStringLiteral("pullRequest");
const QString kCleanTreeKey = QStringLiteral("cleanTree");
const QString kCleanCommitKey = QStringLiteral("cleanCommit");

bool isObjectId(const QString &text) {
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{40}$"));
    return hex.match(text).hasMatch();
}

// Relative, "/"-separated, no empty, "." or ".." segment: a path that could
// never name a different file than the one approved.
bool isRepositoryPath(const QString &path) {
    if (path.isEmpty() || path.contains(u'\\') || path.contains(QChar(0)))
        return false;
    for (const QString &segment : path.split(u'/')) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return true;
}

std::optional<QMap<QString, QString>> decodeFiles(const QJsonValue &value) {
    if (!value.isObject() || value.toObject().isEmpty())
        return std::nullopt;
    QMap<QString, QString> files;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!isRepositoryPath(it.key()) || !it->isString() || !isObjectId(it->toString()))
            return std::nullopt;
        files.insert(it.key(), it->toString());
    }
    return files;
}

} // namespace

QByteArray GovernanceBaseline::encode() const {
    QJsonObject files;
    for (auto it = blobIds.begin(); it != blobIds.end(); ++it)
        files.insert(it.key(), it.value());
    QJsonObject object{
        {kFormatKey, kFormat},
        {kCommitKey, commitSha},
        {kTreeKey, treeSha},
        {kFilesKey, files},
        {kAcceptedByKey, acceptedBy},
        {kAcceptedAtKey, acceptedAt.toUTC().toString(Qt::ISODateWithMs)},
    };
    if (pullRequest)
        object.insert(kPullRequestKey, *pullRequest);
    if (cleanTree) {
        object.insert(kCleanTreeKey, *cleanTree);
        if (cleanCommit)
            object.insert(kCleanCommitKey, *cleanCommit);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<GovernanceBaseline> GovernanceBaseline::decode(const QByteArray &bytes) {
    const std::optional<QJsonObject> file = JsonField::fileObject(bytes);
    if (!file)
        return std::nullopt;
    const QJsonObject &object = *file;

    // Only this code writes the file, so anything it would not write means
    // the file is not one of ours.
    static const QSet<QString> known{kFormatKey,      kCommitKey,     kTreeKey,
                                     kFilesKey,       kAcceptedByKey, kAcceptedAtKey,
                                     kPullRequestKey, kCleanTreeKey,  kCleanCommitKey};
    for (const QString &key : object.keys()) {
        if (!known.contains(key))
            return std::nullopt;
    }
    if (JsonField::integer(object, kFormatKey) != kFormat)
        return std::nullopt;

    const auto commit = JsonField::string(object, kCommitKey);
    const auto tree = JsonField::string(object, kTreeKey);
    const auto files = decodeFiles(object.value(kFilesKey));
    const auto acceptedBy = JsonField::string(object, kAcceptedByKey);
    const auto acceptedAt = JsonField::string(object, kAcceptedAtKey);
    if (!commit || !tree || !files || !acceptedBy || !acceptedAt)
        return std::nullopt;
    // Both ids or neither: a provisional baseline has no commit and no tree.
    const bool anchored = isObjectId(*commit) && isObjectId(*tree);
    if (!anchored && !(commit->isEmpty() && tree->isEmpty()))
        return std::nullopt;
    const QDateTime when = QDateTime::fromString(*acceptedAt, Qt::ISODateWithMs);
    if (!when.isValid() || when.timeSpec() != Qt::UTC)
        return std::nullopt;

    GovernanceBaseline baseline{*commit, *tree,        *files,       *acceptedBy,
                                when,    std::nullopt, std::nullopt, std::nullopt};
    if (object.contains(kPullRequestKey)) {
        const auto number = JsonField::integer(object, kPullRequestKey);
        if (!number || *number < 1 || *number > std::numeric_limits<int>::max())
            return std::nullopt;
        baseline.pullRequest = int(*number);
    }
    if (object.contains(kCleanTreeKey)) {
        const auto clean = JsonField::string(object, kCleanTreeKey);
        if (!clean || !isObjectId(*clean) || !anchored)
            return std::nullopt;
        baseline.cleanTree = *clean;
    }
    // Files written before the clean commit was kept lack it and still read.
    if (object.contains(kCleanCommitKey)) {
        const auto clean = JsonField::string(object, kCleanCommitKey);
        if (!clean || !isObjectId(*clean) || !baseline.cleanTree)
            return std::nullopt;
        baseline.cleanCommit = *clean;
    }
    return baseline;
}
