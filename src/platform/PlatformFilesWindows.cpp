#include "PlatformFiles.h"

#include <QDir>
#include <QFile>

namespace PlatformFiles {

QString userDataBase() {
    // %APPDATA% (the roaming profile); Qt only offers it with the
    // application's own names appended.
    return QDir::homePath() + QStringLiteral("/AppData/Roaming");
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
