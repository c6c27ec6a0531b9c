#include "DiagnosticLog.h"

#include "PlatformFiles.h"

DiagnosticLog::DiagnosticLog(QString directory)
    : m_directory(std::move(directory)) {}

DiagnosticLog DiagnosticLog::inTemporaryDirectory() {
    return DiagnosticLog(PlatformFiles::temporaryDirectory());
}

QString DiagnosticLog::tempLogPath() const {
    return m_directory + QStringLiteral("/keelmark-debug.log");
}

void DiagnosticLog::appendToTempLog(const QString &line) const {
    PlatformFiles::append(tempLogPath(), line.toUtf8(), PlatformFiles::AppendMode::guarded);
}

QString DiagnosticLog::timestamp(const QDateTime &when) {
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

QString DiagnosticLog::timestampedLine(const QString &message) {
    return QLatin1Char('[') + timestamp() + QStringLiteral("] ") + message + QLatin1Char('\n');
}

void DiagnosticLog::appendLine(const QString &filePath, const QString &line) {
    PlatformFiles::append(filePath, line.toUtf8(), PlatformFiles::AppendMode::plain);
}

QString DiagnosticLog::appLogPath(const QString &appDirectory) {
    return appDirectory + QStringLiteral("/debug.log");
}
