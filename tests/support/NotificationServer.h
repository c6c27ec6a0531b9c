#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// Stands in for the desktop's notification service on the session bus of
// the test command: records every Notify, can click a notification, and can
// play dead (take the call and never answer). It has its own connection, so
// the name it owns goes away with it.
class NotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName, icon, summary, body;
        QStringList actions;
    };
    QList<Call> calls;
    bool silent = false;

    NotificationServer();
    ~NotificationServer() override;

    // Owns the service name; false when there is no bus or another owner.
    bool start();
    void click(uint id);

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int timeout);

signals:
    void ActionInvoked(uint id, const QString &actionKey);

private:
    QDBusConnection m_bus;
};
