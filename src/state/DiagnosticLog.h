#pragma once

#include <QDateTime>
#include <QString>

// The two plain-text trace files. Every append opens, writes the whole line
// in one write, and closes; every failure is swallowed.
namespace DiagnosticLog {

// "2026-03-01 09:15:42 +0000", always UTC.
QString timestamp(const QDateTime &when = QDateTime::currentDateTimeUtc());

// "[<timestamp>] " + message + "\n"
QString timestampedLine(const QString &message);

// Appends `line` (which carries its own line feed) to `filePath`.
void appendLine(const QString &filePath, const QString &line);

// Appends to the file in the temporary directory without following a
// symbolic link and only when the file belongs to the current user.
void appendToTempLog(const QString &line);

// "/tmp/keelmark-debug.log", or the platform's temporary directory where
// /tmp does not exist.
QString tempLogPath();

// Tests redirect the temporary-directory log; an empty path restores the
// default.
void setTempLogPathForTesting(const QString &path);

// debug.log in the given application directory.
QString appLogPath(const QString &appDirectory);

} // namespace DiagnosticLog
