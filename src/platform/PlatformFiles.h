#pragma once

#include <QByteArray>
#include <QString>

// File-system services that differ per platform. The implementation is chosen
// by CMake (PlatformFilesPosix.cpp or PlatformFilesWindows.cpp), so storage
// code never needs a preprocessor branch.
namespace PlatformFiles {

// The per-user application-data base that the application directory goes
// under: ~/.local/share on Linux, ~/Library/Application Support on macOS,
// %APPDATA% on Windows.
QString userDataBase();

enum class AppendMode {
    plain,   // a file in the user's own directory
    guarded, // a file in a shared directory another user could plant
};

// Appends `bytes` with one write to a file opened for appending, so lines
// from concurrent writers land whole. In guarded mode the file is created
// private (0600), a symbolic link is not followed, and nothing is written
// unless it is a regular file of the current user with no other names.
// Returns false when nothing was written.
bool append(const QString &path, const QByteArray &bytes, AppendMode mode);

} // namespace PlatformFiles
