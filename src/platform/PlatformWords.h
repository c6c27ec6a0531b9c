#pragma once

#include <QString>
#include <QStringList>

// The desktop's own names for its places and parts (where the tray icon
// lives, what its settings app is called), so the screens speak the words
// of the system they run on. One .cpp per platform; CMake picks it.
namespace PlatformWords {

// Where the application's icon lives: "menu bar", "system tray".
QString trayPlace();
// Why the security extension needs the user: one sentence.
QString extensionApprovalReason();
// The four steps the user follows to approve the extension, in order.
QStringList extensionApprovalSteps();

} // namespace PlatformWords
