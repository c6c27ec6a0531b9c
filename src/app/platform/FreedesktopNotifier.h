#pragma once

#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QList>
#include <QPointer>

// Linux: the desktop's notification service on the session bus. Calls are
// asynchronous with a bounded wait; a bus or service that is missing, fails
// or stays silent sends the message to the tray balloon or the log instead.
class FreedesktopNotifier : public DesktopNotifier {
    Q_OBJECT

public:
    FreedesktopNotifier(QSystemTrayIcon *tray, QDBusConnection bus,
                        std::chrono::milliseconds replyTimeout, QObject *parent = nullptr);

    void notify(const DesktopNotification &notification) override;

private slots:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    void fallBack(const DesktopNotification &notification, const QString &why);

    QPointer<QSystemTrayIcon> m_tray;
    QDBusConnection m_bus;
    std::chrono::milliseconds m_replyTimeout;
    // Ids the service gave our notifications: its signals go to every
    // client, and only clicks on ours may open the window.
    QList<uint> m_ids;
};
