#include "PlatformWords.h"

namespace PlatformWords {

QString trayPlace() {
    return QStringLiteral("system tray");
}

QString extensionApprovalReason() {
    return QStringLiteral("Windows requires your approval to activate the file protection system.");
}

QStringList extensionApprovalSteps() {
    return {QStringLiteral("A system dialog will appear"),
            QStringLiteral("Click \"Open Settings\""), QStringLiteral("Go to Privacy & security"),
            QStringLiteral("Find \"KeelMark\" and click Allow")};
}

} // namespace PlatformWords
