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

// Where the temporary-directory trace goes: /tmp where it exists, else the
// platform's temporary directory.
QString temporaryDirectory();

// Creates `path` (with parents) and makes it private to the current user
// (0700), tightening a folder that already exists. False when it cannot be
// created.
bool makePrivateDirectory(const QString &path);

// Restricts an existing file to the current user (0600).
void makePrivateFile(const QString &path);

// True for a regular file (not a link) owned by the current user.
bool isOwnRegularFile(const QString &path);

enum class AppendMode {
    plain,   // a file in the user's own directory
    guarded, // a file in a shared directory another user could plant
};

// Appends `bytes` with one write to a file opened for appending, so lines
// from concurrent writers land whole. A new file is created private (0600).
// In guarded mode a symbolic link is not followed, and nothing is written
// unless it is a regular file of the current user with no other names; the
// open never waits (a planted FIFO with no reader must not hang the caller).
// Returns false when nothing was written.
bool append(const QString &path, const QByteArray &bytes, AppendMode mode);

} // namespace PlatformFiles
