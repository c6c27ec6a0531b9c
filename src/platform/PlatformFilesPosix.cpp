#include "PlatformFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QByteArray &bytes) {
    // With O_APPEND the kernel places each write whole at the end, so
    // concurrent writers never interleave inside a line.
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

// In a world-writable directory someone else may have planted the file:
// write only to a plain file of our own with no other names (a hard link
// could point at any file we own).
bool isOurPrivateFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
           info.st_nlink == 1;
}

} // namespace

namespace PlatformFiles {

QString userDataBase() {
    // ~/Library/Application Support on macOS, $XDG_DATA_HOME or
    // ~/.local/share elsewhere.
    const QStringList locations =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    if (!locations.isEmpty() && !locations.first().isEmpty())
        return locations.first();
    return QDir::homePath() + QStringLiteral("/.local/share");
}

QString temporaryDirectory() {
    // A fixed place users can find, rather than a per-session $TMPDIR.
    if (QDir(QStringLiteral("/tmp")).exists())
        return QStringLiteral("/tmp");
    return QDir::tempPath();
}

bool makePrivateDirectory(const QString &path) {
    if (!QDir().mkpath(path))
        return false;
    // The folder is ours: one left 0755 by an earlier version is tightened.
    return ::chmod(QFile::encodeName(path).constData(), 0700) == 0;
}

void makePrivateFile(const QString &path) {
    ::chmod(QFile::encodeName(path).constData(), 0600);
}

bool isOwnRegularFile(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_uid == ::geteuid();
}

bool append(const QString &path, const QByteArray &bytes, AppendMode mode) {
    const bool guarded = mode == AppendMode::guarded;
    int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    // Without O_NONBLOCK a FIFO planted at the path blocks the open until a
    // reader appears, before the checks below could refuse it. On a regular
    // file the flag changes nothing.
    if (guarded)
        flags |= O_NOFOLLOW | O_NONBLOCK;
    const int fd = ::open(QFile::encodeName(path).constData(), flags, 0600);
    if (fd < 0)
        return false;
    const bool written = (!guarded || isOurPrivateFile(fd)) && writeAll(fd, bytes);
    ::close(fd);
    return written;
}

} // namespace PlatformFiles
