#pragma once

#include "AppStateTypes.h"
#include "platform/DesktopNotifier.h"

#include <QStringList>

#include <chrono>
#include <optional>

// What the machine looked like after one check, as far as notifications care.
struct StatusSnapshot {
    MachineStatusState status = MachineStatusState::setupMode;
    // The findings behind the status, one per line of the Status page.
    QStringList reasons;
    QString repository; // "org/repo"
    // GitHub answered the stored sign-in with a refusal.
    bool signInRefused = false;
    // How long checks have failed to reach GitHub without a break.
    std::chrono::milliseconds unreachableFor{0};
};

// Decides which changes deserve a desktop notification. It remembers what it
// last told the user, so a state that persists over many checks is told once
// and a repeated alert stays quiet until something else happened in between.
class NotificationPolicy {
public:
    explicit NotificationPolicy(
        std::chrono::milliseconds unreachableThreshold = std::chrono::minutes(5));

    std::optional<DesktopNotification> next(const StatusSnapshot &snapshot);

    std::chrono::milliseconds unreachableThreshold() const { return m_unreachableThreshold; }

private:
    enum class Concern { none, alert, signInRefused, unreachable };

    std::optional<DesktopNotification> raise(Concern concern, const StatusSnapshot &snapshot,
                                             const QString &body);

    std::chrono::milliseconds m_unreachableThreshold;
    Concern m_told = Concern::none;
    QStringList m_toldReasons;
};
