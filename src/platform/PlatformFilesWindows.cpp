#include "PlatformFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace PlatformFiles {

QString userDataBase() {
    // %APPDATA% (the roaming profile); Qt only offers it with the
    // application's own names appended.
    return QDir::homePath() + QStringLiteral("/AppData/Roaming");
}

QString temporaryDirectory() {
    return QDir::tempPath();
}

// The profile folders are per user already; POSIX modes mean nothing here.
bool makePrivateDirectory(const QString &path) {
    return QDir().mkpath(path);
}

void makePrivateFile(const QString &) {}

bool isOwnRegularFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

bool append(const QString &path, const QByteArray &bytes, AppendMode) {
    // The temporary directory is per user on Windows, so there is no shared
    // folder to guard against.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    return file.write(bytes) == bytes.size();
}

} // namespace PlatformFiles
