#include "TrayMessageNotifier.h"

#include <QLoggingCategory>
#include <QSystemTrayIcon>

Q_LOGGING_CATEGORY(lcTrayNotify, "keelmark.notify")

TrayMessageNotifier::TrayMessageNotifier(QSystemTrayIcon *tray, QObject *parent)
    : DesktopNotifier(parent)
    , m_tray(tray) {
    if (tray)
        connect(tray, &QSystemTrayIcon::messageClicked, this, &DesktopNotifier::activated);
}

void TrayMessageNotifier::notify(const DesktopNotification &notification) {
    emit delivered(showWithoutService(m_tray, notification, {}));
}

DesktopNotifier::Route TrayMessageNotifier::showWithoutService(
    QSystemTrayIcon *tray, const DesktopNotification &notification, const QString &why) {
    const bool balloon = tray && tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable() &&
                         QSystemTrayIcon::supportsMessages();
    QString line = QStringLiteral("notification (%1): %2 - %3")
                       .arg(balloon ? QStringLiteral("tray") : QStringLiteral("log only"),
                            notification.title, notification.body);
    if (!why.isEmpty())
        line += QStringLiteral(" (") + why + QLatin1Char(')');
    qCInfo(lcTrayNotify).noquote() << line;
    if (!balloon)
        return Route::logOnly;
    tray->showMessage(notification.title, notification.body, tray->icon());
    return Route::trayMessage;
}
