#pragma once

#include "NotificationPolicy.h"
#include "platform/DesktopNotifier.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class AppState;

// Watches AppState's status and sends what NotificationPolicy decides.
// Keeps the one clock the policy needs: how long checks have been failing to
// reach GitHub, with a timer for the moment that passes the threshold.
class StatusNotifications : public QObject {
    Q_OBJECT

public:
    StatusNotifications(AppState *state, std::unique_ptr<DesktopNotifier> notifier,
                        NotificationPolicy policy = NotificationPolicy(),
                        QObject *parent = nullptr);
    ~StatusNotifications() override;

    DesktopNotifier *notifier() const { return m_notifier.get(); }

    // The state as the policy sees it right now.
    StatusSnapshot snapshot() const;

signals:
    // The user clicked one of our notifications.
    void activated();

private:
    void evaluate();

    QPointer<AppState> m_state;
    std::unique_ptr<DesktopNotifier> m_notifier;
    NotificationPolicy m_policy;
    QElapsedTimer m_unreachableSince;
    QTimer m_unreachableTimer;
};
