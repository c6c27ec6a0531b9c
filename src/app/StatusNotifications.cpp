#include "StatusNotifications.h"

#include "AppState.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcNotify, "keelmark.notify")

StatusNotifications::StatusNotifications(AppState *state, std::unique_ptr<DesktopNotifier> notifier,
                                         NotificationPolicy policy, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_notifier(std::move(notifier))
    , m_policy(policy) {
    connect(m_notifier.get(), &DesktopNotifier::activated, this, &StatusNotifications::activated);
    m_unreachableTimer.setSingleShot(true);
    m_unreachableTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_unreachableTimer, &QTimer::timeout, this, &StatusNotifications::evaluate);
    if (!state)
        return;
    connect(state, &AppState::machineStatusChanged, this, &StatusNotifications::evaluate);
    // A check writes its reasons, sign-in verdict and time before its status.
    // Judged at once, the new reasons would meet the old status (a restored
    // repository would be a reasonless alert), so these wait until the check
    // has written everything.
    // A check that changes nothing still ends here; the policy keeps it quiet.
    connect(state, &AppState::lastHeartbeatChanged, this, &StatusNotifications::evaluate,
            Qt::QueuedConnection);
    // A new finding under an unchanged alert is news too.
    connect(state, &AppState::statusReasonsChanged, this, &StatusNotifications::evaluate,
            Qt::QueuedConnection);
    connect(state, &AppState::checkSignInRefusedChanged, this, &StatusNotifications::evaluate,
            Qt::QueuedConnection);
    evaluate();
}

StatusNotifications::~StatusNotifications() = default;

StatusSnapshot StatusNotifications::snapshot() const {
    StatusSnapshot snapshot;
    if (!m_state)
        return snapshot;
    snapshot.status = m_state->machineStatus();
    snapshot.reasons = m_state->statusReasons();
    snapshot.signInRefused = m_state->checkSignInRefused();
    if (const std::optional<GitHubOrg> org = m_state->selectedOrg();
        org && !m_state->repoName().isEmpty())
        snapshot.repository = org->login + QLatin1Char('/') + m_state->repoName();
    if (m_unreachableSince.isValid())
        snapshot.unreachableFor = std::chrono::milliseconds(m_unreachableSince.elapsed());
    return snapshot;
}

void StatusNotifications::evaluate() {
    if (!m_state)
        return;
    // Offline is where checks fail to reach GitHub; the clock runs from the
    // first failure in a row and stops at the first answer.
    if (m_state->machineStatus() != MachineStatusState::offline) {
        m_unreachableSince.invalidate();
        m_unreachableTimer.stop();
    } else {
        if (!m_unreachableSince.isValid())
            m_unreachableSince.start();
        // Timers may fire a little early; re-arm for what is left.
        const auto left = m_policy.unreachableThreshold() -
                          std::chrono::milliseconds(m_unreachableSince.elapsed());
        if (left.count() > 0 && !m_unreachableTimer.isActive())
            m_unreachableTimer.start(left);
    }
    const std::optional<DesktopNotification> notification = m_policy.next(snapshot());
    if (!notification)
        return;
    qCInfo(lcNotify).noquote() << "notify:" << notification->title << "-" << notification->body;
    m_notifier->notify(*notification);
}
