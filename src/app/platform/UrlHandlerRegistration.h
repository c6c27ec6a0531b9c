#pragma once

#include <QString>

// What a per-user install leaves in the desktop for KeelMark's URL scheme,
// and how the installed program itself is removed. One source file per
// platform; CMake picks it.
namespace UrlHandlerRegistration {

// Removes this user's registration of KeelMark as the keelmark:// handler:
// the scheme's lines in `configHome`'s mimeapps.list and the desktop entries
// of ours (declaring the scheme) in `applicationsDir`, with their lines in
// its cache. Nothing there is not an error. On failure says what stayed.
bool remove(const QString &configHome, const QString &applicationsDir, QString *error);

// The command that removes the installed package holding `binary`, as the
// package database under `packageDatabase` records it; empty when no
// package of ours holds it.
QString packageRemovalCommand(const QString &binary, const QString &packageDatabase);

} // namespace UrlHandlerRegistration
