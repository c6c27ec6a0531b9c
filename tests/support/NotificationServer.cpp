#include "NotificationServer.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

} // namespace

NotificationServer::NotificationServer()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                          QStringLiteral("notification-server"))) {}

NotificationServer::~NotificationServer() {
    m_bus.unregisterService(kService);
    QDBusConnection::disconnectFromBus(m_bus.name());
}

bool NotificationServer::start() {
    return m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                QDBusConnection::ExportAllSlots |
                                    QDBusConnection::ExportAllSignals) &&
           m_bus.registerService(kService);
}

void NotificationServer::click(uint id) {
    emit ActionInvoked(id, QStringLiteral("default"));
}

uint NotificationServer::Notify(const QString &appName, uint, const QString &icon,
                                const QString &summary, const QString &body,
                                const QStringList &actions, const QVariantMap &, int) {
    calls.append({appName, icon, summary, body, actions});
    if (silent)
        setDelayedReply(true); // and never answer
    return uint(calls.size());
}
