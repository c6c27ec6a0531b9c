#pragma once

#include "PersistedState.h"

#include <QString>

// Reads and atomically replaces state.json in the application directory.
// Never fails to the caller: a missing or broken file reads as defaults and
// a failed save leaves the previous file as it was. The directory is private
// to the user (0700) and so are its files (0600).
class PersistenceService {
public:
    // Creates `directory` (with parents) if needed, makes it and its files
    // private, and removes temporary files a killed save left behind;
    // carries on if it cannot.
    explicit PersistenceService(const QString &directory);

    // The instance on the user's application directory.
    static PersistenceService &shared();

    // The platform's per-user application-data location joined with
    // "io.keelmark.app".
    static QString defaultDirectory();

    QString directory() const { return m_directory; }
    QString filePath() const; // directory + "/state.json"

    PersistedState load() const;
    // Returns whether the file was replaced; callers may ignore it.
    bool save(const PersistedState &state) const;

    // Atomically replaces the file `name` in the directory with `bytes`,
    // private to the user, as save() does for state.json. Returns whether
    // the file was replaced.
    bool replaceFile(const QString &name, const QByteArray &bytes) const;

    // The same atomic, private write for a file at any path.
    static bool writePrivateFile(const QString &path, const QByteArray &bytes);

private:
    void removeStaleTemporaryFiles() const;

    QString m_directory;
};
