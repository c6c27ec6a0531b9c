#include "AuditObserver.h"

#include "AppState.h"
#include "AuditRecorder.h"
#include "GitHubService.h"

#include <QJsonArray>

#include <utility>

namespace {

const QString kStatusKey = QStringLiteral("status");

// The status the trail last recorded: the app starts every run in setup
// mode, and the first check finding the same state as before the restart
// is no change worth a line.
std::optional<MachineStatusState> lastRecordedStatus(const AuditRecorder &audit) {
    for (const AuditRecord &record : audit.trail().records()) {
        if (record.kind == kStatusKey)
            return machineStatusFromText(record.details.value(kStatusKey).toString());
    }
    return std::nullopt;
}

} // namespace

AuditObserver::AuditObserver(AppState *state, GitHubService *gitHub, AuditRecorder *audit,
                             QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_audit(audit)
    , m_status(state->machineStatus()) {
    if (state->gitHubConnected())
        m_signedInAs = state->gitHubUsername();
    if (const auto org = state->selectedOrg())
        m_org = org->login;
    if (audit) {
        if (const auto recorded = lastRecordedStatus(*audit))
            m_status = *recorded;
    }
    connect(state, &AppState::gitHubConnectedChanged, this, &AuditObserver::onConnectedWritten);
    connect(state, &AppState::selectedOrgChanged, this, &AuditObserver::onOrgWritten);
    connect(state, &AppState::machineStatusChanged, this, &AuditObserver::onStatusChanged);
    if (gitHub) {
        connect(gitHub, &GitHubService::tokenRefreshRefused, this,
                &AuditObserver::onRefreshRefused);
        connect(gitHub, &GitHubService::reconnectFinished, this,
                &AuditObserver::onReconnectFinished);
        // Any new token (a sign-in, a refresh that worked) ends the refusal.
        connect(gitHub, &GitHubService::tokensChanged, this, [this] { m_refusalRecorded = false; });
    }
}

void AuditObserver::onConnectedWritten() {
    // Only a finished sign-in writes "connected", so each write is one.
    const QString user = m_state->gitHubUsername();
    if (m_state->gitHubConnected()) {
        m_signedInAs = user;
        record(QStringLiteral("signin"), QStringLiteral("Signed in to GitHub as @%1").arg(user),
               {{QStringLiteral("actor"), user}});
    } else if (!m_signedInAs.isEmpty()) {
        const QString previous = std::exchange(m_signedInAs, QString());
        record(QStringLiteral("signout"),
               QStringLiteral("Signed out of GitHub (@%1)").arg(previous),
               {{QStringLiteral("actor"), previous}});
    }
}

void AuditObserver::onOrgWritten() {
    const auto org = m_state->selectedOrg();
    if (!org || org->login == m_org)
        return;
    m_org = org->login;
    record(QStringLiteral("org"), QStringLiteral("Chose the organisation %1").arg(m_org),
           {{QStringLiteral("actor"), m_state->gitHubUsername()}});
}

void AuditObserver::onStatusChanged() {
    const MachineStatusState status = m_state->machineStatus();
    if (status == m_status)
        return;
    const QString before = statusLabel(m_status);
    m_status = status;
    QJsonObject details = repositoryDetails();
    details.insert(kStatusKey, toText(status));
    // The check stores its reasons before the status, so these are the new ones.
    const QStringList reasons = m_state->statusReasons();
    if (!reasons.isEmpty())
        details.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(reasons));
    QString message =
        QStringLiteral("Status changed from %1 to %2").arg(before, statusLabel(status));
    if (!reasons.isEmpty())
        message += QStringLiteral(": ") + reasons.join(QStringLiteral("; "));
    record(kStatusKey, message, details);
}

void AuditObserver::onRefreshRefused(const QString &reason) {
    // Every later check is refused the same way: one line until it changes.
    if (m_refusalRecorded)
        return;
    m_refusalRecorded = true;
    record(QStringLiteral("token"),
           QStringLiteral("GitHub refused to renew the sign-in: %1").arg(reason),
           {{QStringLiteral("actor"), m_state->gitHubUsername()}});
}

void AuditObserver::onReconnectFinished(bool succeeded, const QString &account,
                                        const QString &problem) {
    QJsonObject details = repositoryDetails();
    if (!account.isEmpty())
        details.insert(QStringLiteral("actor"), account);
    if (succeeded)
        record(QStringLiteral("signin"), QStringLiteral("Reconnected GitHub as @%1").arg(account),
               details);
    else
        record(QStringLiteral("signin"),
               QStringLiteral("Reconnecting GitHub failed: %1").arg(problem), details);
}

QJsonObject AuditObserver::repositoryDetails() const {
    const auto org = m_state->selectedOrg();
    if (!org || m_state->repoName().isEmpty())
        return {};
    return {{QStringLiteral("repository"), org->login + QLatin1Char('/') + m_state->repoName()}};
}

void AuditObserver::record(const QString &kind, const QString &message, QJsonObject details) {
    if (m_audit)
        m_audit->record(kind, message, details);
}
