#include "GovernanceBlobIds.h"

#include "GovernanceFiles.h"

#include <QCryptographicHash>

namespace GovernanceBlobIds {

QString ofContent(const QByteArray &bytes) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray("blob ") + QByteArray::number(bytes.size()) + '\0');
    hash.addData(bytes);
    return QString::fromLatin1(hash.result().toHex());
}

QMap<QString, QString> composed(const QString &owner, const QString &org) {
    // The files are committed as UTF-8, so these are the bytes git hashes.
    QMap<QString, QString> ids;
    for (const FileEntry &file : GovernanceFiles::compose(owner, org))
        ids.insert(file.path, ofContent(file.content.toUtf8()));
    return ids;
}

GovernanceBaseline approvedAtSetup(const QString &commitSha, const QString &treeSha,
                                   const QString &owner, const QString &org,
                                   const QDateTime &when) {
    return GovernanceBaseline{commitSha,    treeSha,      composed(owner, org), owner,
                              when.toUTC(), std::nullopt, std::nullopt,         std::nullopt};
}

GovernanceBaseline provisional(const QString &owner, const QString &org, const QDateTime &when) {
    return approvedAtSetup(QString(), QString(), owner, org, when);
}

} // namespace GovernanceBlobIds
