#include "DiagnosticLog.h"

#include "PlatformFiles.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex overrideMutex;
QString tempLogOverride;

} // namespace

namespace DiagnosticLog {

QString timestamp(const QDateTime &when) {
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

QString timestampedLine(const QString &message) {
    return QLatin1Char('[') + timestamp() + QStringLiteral("] ") + message + QLatin1Char('\n');
}

void appendLine(const QString &filePath, const QString &line) {
    PlatformFiles::append(filePath, line.toUtf8(), PlatformFiles::AppendMode::plain);
}

void appendToTempLog(const QString &line) {
    PlatformFiles::append(tempLogPath(), line.toUtf8(), PlatformFiles::AppendMode::guarded);
}

QString tempLogPath() {
    {
        QMutexLocker lock(&overrideMutex);
        if (!tempLogOverride.isEmpty())
            return tempLogOverride;
    }
    const QString name = QStringLiteral("keelmark-debug.log");
    if (QDir(QStringLiteral("/tmp")).exists())
        return QStringLiteral("/tmp/") + name;
    return QDir::tempPath() + QLatin1Char('/') + name;
}

void setTempLogPathForTesting(const QString &path) {
    QMutexLocker lock(&overrideMutex);
    tempLogOverride = path;
}

QString appLogPath(const QString &appDirectory) {
    return appDirectory + QStringLiteral("/debug.log");
}

} // namespace DiagnosticLog
