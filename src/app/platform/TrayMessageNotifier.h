#pragma once

#include "DesktopNotifier.h"

#include <QPointer>

// The notifier of last resort: the tray icon's message balloon when there is
// a tray to show it, else only the log line. Also the way the platform
// notifiers fall back when their service is not there.
class TrayMessageNotifier : public DesktopNotifier {
    Q_OBJECT

public:
    explicit TrayMessageNotifier(QSystemTrayIcon *tray, QObject *parent = nullptr);

    void notify(const DesktopNotification &notification) override;

    // Shows `notification` in `tray`'s balloon when it can; says which way
    // it went. Writes the log line either way.
    static Route showWithoutService(QSystemTrayIcon *tray, const DesktopNotification &notification,
                                    const QString &why);

private:
    QPointer<QSystemTrayIcon> m_tray;
};
