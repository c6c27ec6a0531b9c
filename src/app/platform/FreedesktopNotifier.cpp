#include "FreedesktopNotifier.h"

#include "TrayMessageNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a service invokes when the notification itself is clicked.
const QString kDefaultAction = QStringLiteral("default");
constexpr qsizetype kRememberedIds = 32;

} // namespace

FreedesktopNotifier::FreedesktopNotifier(QSystemTrayIcon *tray, QDBusConnection bus,
                                         std::chrono::milliseconds replyTimeout, QObject *parent)
    : DesktopNotifier(parent)
    , m_tray(tray)
    , m_bus(std::move(bus))
    , m_replyTimeout(replyTimeout) {
    if (tray)
        connect(tray, &QSystemTrayIcon::messageClicked, this, &DesktopNotifier::activated);
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

void FreedesktopNotifier::notify(const DesktopNotification &notification) {
    if (!m_bus.isConnected()) {
        fallBack(notification, QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // The icon and desktop entry are the names the package installs.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("keelmark")}};
    call << QStringLiteral("KeelMark") << uint(0) << QStringLiteral("keelmark")
         << notification.title << notification.body
         << QStringList{kDefaultAction, QStringLiteral("Open KeelMark")} << hints << int(-1);
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(m_replyTimeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notification](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    fallBack(notification, reply.error().message());
                    return;
                }
                m_ids.append(reply.value());
                if (m_ids.size() > kRememberedIds)
                    m_ids.removeFirst();
                emit delivered(Route::service);
            });
}

void FreedesktopNotifier::fallBack(const DesktopNotification &notification, const QString &why) {
    emit delivered(TrayMessageNotifier::showWithoutService(m_tray, notification, why));
}

void FreedesktopNotifier::onActionInvoked(uint id, const QString &actionKey) {
    if (actionKey == kDefaultAction && m_ids.contains(id))
        emit activated();
}

void FreedesktopNotifier::onNotificationClosed(uint id, uint) {
    m_ids.removeAll(id);
}

std::unique_ptr<DesktopNotifier> createDesktopNotifier(QSystemTrayIcon *tray,
                                                       std::chrono::milliseconds replyTimeout) {
    return std::make_unique<FreedesktopNotifier>(tray, QDBusConnection::sessionBus(), replyTimeout);
}
