#include "DiagnosticLog.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QMutex overrideMutex;
QString tempLogOverride;

#if defined(Q_OS_UNIX)
bool writeAll(int fd, const QByteArray &bytes) {
    // One write() per line: with O_APPEND the kernel places each line whole
    // at the end, so concurrent writers never interleave inside a line.
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

void appendPosix(const QString &filePath, const QString &line, bool guarded) {
    const QByteArray path = QFile::encodeName(filePath);
    int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    if (guarded)
        flags |= O_NOFOLLOW;
    const int fd = ::open(path.constData(), flags, guarded ? 0600 : 0666);
    if (fd < 0)
        return;
    if (guarded) {
        // In a world-writable directory, someone else may have planted the
        // file: write only to a plain file of our own with no other names
        // (a hard link could point at any file we own).
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
            info.st_nlink != 1) {
            ::close(fd);
            return;
        }
    }
    writeAll(fd, line.toUtf8());
    ::close(fd);
}
#else
void appendQFile(const QString &filePath, const QString &line) {
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(line.toUtf8());
}
#endif

} // namespace

namespace DiagnosticLog {

QString timestamp(const QDateTime &when) {
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

QString timestampedLine(const QString &message) {
    return QLatin1Char('[') + timestamp() + QStringLiteral("] ") + message + QLatin1Char('\n');
}

void appendLine(const QString &filePath, const QString &line) {
#if defined(Q_OS_UNIX)
    appendPosix(filePath, line, false);
#else
    appendQFile(filePath, line);
#endif
}

void appendToTempLog(const QString &line) {
#if defined(Q_OS_UNIX)
    appendPosix(tempLogPath(), line, true);
#else
    appendQFile(tempLogPath(), line);
#endif
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
