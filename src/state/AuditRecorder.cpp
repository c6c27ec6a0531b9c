#include "AuditRecorder.h"

#include "DiagnosticLog.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcAudit, "keelmark.audit")

AuditRecorder::AuditRecorder(QString directory, QObject *parent)
    : QObject(parent)
    , m_trail(std::move(directory)) {}

bool AuditRecorder::record(const QString &kind, const QString &message,
                           const QJsonObject &details) {
    const bool written = m_trail.append(kind, message, details);
    if (!written) {
        qCWarning(lcAudit) << "could not append to" << m_trail.filePath();
        DiagnosticLog::appendLine(
            DiagnosticLog::appLogPath(m_trail.directory()),
            DiagnosticLog::timestampedLine(
                QStringLiteral("Audit: could not record %1: %2").arg(kind, message)));
    }
    // Also on failure: a torn tail set aside meanwhile changes what is shown.
    emit recorded();
    return written;
}
