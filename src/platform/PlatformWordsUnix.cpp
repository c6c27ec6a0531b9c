#include "PlatformWords.h"

// Linux and other Unix desktops: the words the common desktops share.
namespace PlatformWords {

QString trayPlace() {
    return QStringLiteral("system tray");
}

QString extensionApprovalReason() {
    return QStringLiteral(
        "Your system requires your approval to activate the file protection system.");
}

QStringList extensionApprovalSteps() {
    return {QStringLiteral("A system dialog will appear"),
            QStringLiteral("Click \"Open Settings\""), QStringLiteral("Go to Privacy"),
            QStringLiteral("Find \"KeelMark\" and click Allow")};
}

} // namespace PlatformWords
