#include "PlatformWords.h"

namespace PlatformWords {

QString trayPlace() {
    return QStringLiteral("menu bar");
}

QString extensionApprovalReason() {
    return QStringLiteral("macOS requires your approval to activate the file protection system.");
}

QStringList extensionApprovalSteps() {
    return {QStringLiteral("A system dialog will appear"),
            QStringLiteral("Click \"Open System Settings\""),
            QStringLiteral("Go to Privacy & Security"),
            QStringLiteral("Scroll to \"KeelMark\" and click Allow")};
}

} // namespace PlatformWords
