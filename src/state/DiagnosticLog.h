#pragma once

#include <QDateTime>
#include <QString>

// The two plain-text trace files. Every append opens, writes the whole line
// in one write, and closes; every failure is swallowed.
//
// An object stands for the temporary-directory trace in one folder; whoever
// writes that trace is handed one, so a test points it at its own folder and
// never at the user's real log.
class DiagnosticLog {
public:
    // The trace is keelmark-debug.log in `directory`.
    explicit DiagnosticLog(QString directory);

    // The log in the platform's temporary directory: /tmp, or where there is
    // no /tmp, the system's temporary folder.
    static DiagnosticLog inTemporaryDirectory();

    QString directory() const { return m_directory; }
    QString tempLogPath() const;

    // Appends without following a symbolic link and only when the file
    // belongs to the current user.
    void appendToTempLog(const QString &line) const;

    // "2026-03-01 09:15:42 +0000", always UTC.
    static QString timestamp(const QDateTime &when = QDateTime::currentDateTimeUtc());

    // "[<timestamp>] " + message + "\n"
    static QString timestampedLine(const QString &message);

    // Appends `line` (which carries its own line feed) to `filePath`.
    static void appendLine(const QString &filePath, const QString &line);

    // debug.log in the given application directory.
    static QString appLogPath(const QString &appDirectory);

private:
    QString m_directory;
};
