#include "TrayMessageNotifier.h"

// macOS and Windows: the tray icon's own messages for now. The platform's
// notification centre can take over here without touching shared code.
std::unique_ptr<DesktopNotifier> createDesktopNotifier(QSystemTrayIcon *tray,
                                                       std::chrono::milliseconds) {
    return std::make_unique<TrayMessageNotifier>(tray);
}
