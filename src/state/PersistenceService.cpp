#include "PersistenceService.h"

#include "DiagnosticLog.h"
#include "PlatformFiles.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

// Held by every save and by the start-up sweep, so the sweep never takes
// the temporary file of a save under way in this process.
QMutex saveMutex;

} // namespace

PersistenceService::PersistenceService(const QString &directory)
    : m_directory(directory) {
    // Failure is not fatal: loads then find no file and saves fail quietly.
    PlatformFiles::makePrivateDirectory(m_directory);
    // Files an earlier version left readable to others.
    for (const QString &path : {filePath(), DiagnosticLog::appLogPath(m_directory)}) {
        if (PlatformFiles::isOwnRegularFile(path))
            PlatformFiles::makePrivateFile(path);
    }
    removeStaleTemporaryFiles();
}

PersistenceService &PersistenceService::shared() {
    static PersistenceService instance(defaultDirectory());
    return instance;
}

QString PersistenceService::defaultDirectory() {
    return PlatformFiles::userDataBase() + QStringLiteral("/io.keelmark.app");
}

QString PersistenceService::filePath() const {
    return m_directory + QStringLiteral("/state.json");
}

void PersistenceService::removeStaleTemporaryFiles() const {
    // A save killed between writing and renaming leaves "state.json.XXXXXX"
    // (six letters) beside the file, as it does for the baseline file. Only
    // such names, and only our own plain files: nothing else in the folder is
    // touched.
    static const QRegularExpression ours(QStringLiteral("^(state|baseline)\\.json\\.[A-Za-z]{6}$"));
    const QMutexLocker lock(&saveMutex);
    const QDir dir(m_directory);
    for (const QString &name :
         dir.entryList({QStringLiteral("state.json.*"), QStringLiteral("baseline.json.*")},
                       QDir::Files | QDir::Hidden | QDir::System)) {
        const QString path = dir.filePath(name);
        if (ours.match(name).hasMatch() && PlatformFiles::isOwnRegularFile(path))
            QFile::remove(path);
    }
}

PersistedState PersistenceService::load() const {
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return PersistedState::decode(file.readAll()).value_or(PersistedState{});
}

bool PersistenceService::save(const PersistedState &state) const {
    return replaceFile(QStringLiteral("state.json"), state.encode());
}

bool PersistenceService::replaceFile(const QString &name, const QByteArray &bytes) const {
    return writePrivateFile(m_directory + u'/' + name, bytes);
}

bool PersistenceService::writePrivateFile(const QString &path, const QByteArray &bytes) {
    // Written beside the file and renamed over it, so a reader never sees
    // half a file and a failed write leaves the previous one intact.
    const QMutexLocker lock(&saveMutex);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile copies the old file's mode, or creates 0644; the file is
    // private whatever an earlier version left.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
