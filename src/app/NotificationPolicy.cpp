#include "NotificationPolicy.h"

namespace {

QString titleFor(const StatusSnapshot &snapshot) {
    return snapshot.repository.isEmpty() ? QStringLiteral("KeelMark") : snapshot.repository;
}

} // namespace

NotificationPolicy::NotificationPolicy(std::chrono::milliseconds unreachableThreshold)
    : m_unreachableThreshold(unreachableThreshold) {}

std::optional<DesktopNotification>
NotificationPolicy::raise(Concern concern, const StatusSnapshot &snapshot, const QString &body) {
    if (m_told == concern)
        return std::nullopt;
    m_told = concern;
    m_toldReasons.clear();
    return DesktopNotification{titleFor(snapshot), body};
}

std::optional<DesktopNotification> NotificationPolicy::next(const StatusSnapshot &snapshot) {
    if (snapshot.status == MachineStatusState::tamperAlert) {
        QStringList reasons = snapshot.reasons;
        if (reasons.isEmpty())
            reasons << statusLabel(MachineStatusState::tamperAlert);
        // Only findings the user has not heard of yet; one that went away
        // and came back counts as new, since the state changed in between.
        QStringList fresh;
        for (const QString &reason : reasons) {
            if (m_told != Concern::alert || !m_toldReasons.contains(reason))
                fresh << reason;
        }
        m_told = Concern::alert;
        m_toldReasons = reasons;
        if (fresh.isEmpty())
            return std::nullopt;
        return DesktopNotification{titleFor(snapshot), fresh.join(QLatin1Char('\n'))};
    }
    // A refused sign-in also makes every check fail; it is the one cause
    // worth telling, not the lost connection that follows from it.
    if (snapshot.signInRefused)
        return raise(Concern::signInRefused, snapshot,
                     QStringLiteral("GitHub no longer accepts KeelMark's sign-in. Open "
                                    "KeelMark and reconnect GitHub to keep checking."));
    switch (snapshot.status) {
    case MachineStatusState::setupMode:
        // Not governed (yet, or any more): nothing to watch, nothing to
        // restore, and the next alert is news again.
        m_told = Concern::none;
        m_toldReasons.clear();
        return std::nullopt;
    case MachineStatusState::protected_:
        if (m_told == Concern::none)
            return std::nullopt;
        m_told = Concern::none;
        m_toldReasons.clear();
        return DesktopNotification{titleFor(snapshot), QStringLiteral("Governance restored")};
    case MachineStatusState::offline:
    case MachineStatusState::tamperAlert:
        break;
    }
    // One lost check is weather; only a lasting outage is told, and the last
    // alert stays the last word until then.
    if (snapshot.unreachableFor < m_unreachableThreshold)
        return std::nullopt;
    const auto minutes =
        std::chrono::duration_cast<std::chrono::minutes>(m_unreachableThreshold).count();
    return raise(Concern::unreachable, snapshot,
                 minutes >= 1
                     ? QStringLiteral("Checks have not reached GitHub for %1 minutes. Showing the "
                                      "last known status.")
                           .arg(minutes)
                     : QStringLiteral("Checks have not reached GitHub. Showing the last known "
                                      "status."));
}
