#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QSystemTrayIcon;

// One message for the desktop: the repository it is about and what changed.
struct DesktopNotification {
    QString title;
    QString body;

    friend bool operator==(const DesktopNotification &, const DesktopNotification &) = default;
};

// Hands notifications to the platform's notification service. Each platform
// has one implementation, picked by the build. notify() never waits: the
// outcome arrives later through `delivered`, so a service that hangs cannot
// freeze the window.
class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    enum class Route {
        service,     // the desktop's notification service took it
        trayMessage, // no service answered; the tray icon's balloon showed it
        logOnly,     // neither was there; only the log line remains
    };
    Q_ENUM(Route)

    virtual void notify(const DesktopNotification &notification) = 0;

signals:
    void delivered(DesktopNotifier::Route route);
    // The user clicked a notification this notifier sent.
    void activated();

protected:
    using QObject::QObject;
};

// `tray` is the fallback when no service answers (may be null);
// `replyTimeout` bounds how long a service may take to accept a message.
std::unique_ptr<DesktopNotifier>
createDesktopNotifier(QSystemTrayIcon *tray,
                      std::chrono::milliseconds replyTimeout = std::chrono::seconds(5));
