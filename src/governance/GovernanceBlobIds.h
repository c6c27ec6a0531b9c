#pragma once

#include "GovernanceBaseline.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

// The git blob ids of the governance files, which is what a check compares
// with main's tree: the same id means the same bytes, with no file read.
namespace GovernanceBlobIds {

// git's object id of a file: sha1 of "blob <size>\0" followed by the bytes.
QString ofContent(const QByteArray &bytes);

// Path -> blob id of the twelve files composed for `owner` and `org`.
QMap<QString, QString> composed(const QString &owner, const QString &org);

// The baseline recorded when setup commits the composed files.
GovernanceBaseline approvedAtSetup(const QString &commitSha, const QString &treeSha,
                                   const QString &owner, const QString &org, const QDateTime &when);

// For a machine set up before baselines were kept: the composed files with
// no commit yet. The first check anchors it where main holds exactly these.
GovernanceBaseline provisional(const QString &owner, const QString &org, const QDateTime &when);

} // namespace GovernanceBlobIds
