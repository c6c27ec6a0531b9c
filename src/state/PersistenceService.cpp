#include "PersistenceService.h"

#include "PlatformFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

PersistenceService::PersistenceService(const QString &directory)
    : m_directory(directory) {
    // Failure is not fatal: loads then find no file and saves fail quietly.
    QDir().mkpath(m_directory);
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

PersistedState PersistenceService::load() const {
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return PersistedState::decode(file.readAll()).value_or(PersistedState{});
}

bool PersistenceService::save(const PersistedState &state) const {
    // Written beside the file and renamed over it, so a reader never sees
    // half a file and a failed write leaves the previous one intact.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = state.encode();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
