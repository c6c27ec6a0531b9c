#pragma once

#include "AuditTrail.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

// Writing the audit trail out for the admin. Both writers replace the target
// atomically, make it private (0600) and return an error text for the user,
// empty on success.
namespace AuditExport {

// "keelmark-audit-2026-12-07.jsonl" or ".csv".
QString defaultFileName(const QDate &date, bool csv);

// The chain files' bytes back to back, exactly as written, so the chain can
// be checked with other tools.
QString writeJsonLines(const QStringList &chainFiles, const QString &target);

// A header row, then one row per record in the given order: time, kind,
// message, actor, repository, commit. Lines end in CR LF.
QByteArray csv(const QList<AuditRecord> &records);
QString writeCsv(const QList<AuditRecord> &records, const QString &target);

// One cell, quoted where it holds a comma, quote or line break. A cell a
// spreadsheet would run as a formula gets a leading apostrophe.
QString csvCell(const QString &text);

} // namespace AuditExport
