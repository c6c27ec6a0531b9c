#pragma once

#include "DiagnosticLog.h"
#include "GitHubGovernanceTypes.h"
#include "GovernanceVerdict.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>

class AppState;
class AuditRecorder;
class GitHubService;
class QTimer;
struct TeamMember;

// The heartbeat: one health check at once, then one every interval. Each
// check reads the ops repository back (conditionally, so an unchanged one
// costs one round trip and no rate limit), lets GovernanceVerdict judge the
// facts, fetches what it asks for and writes the outcome to AppState in one
// batch; results of a check that started earlier than one already applied
// are dropped.
class HealthCheckService : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // `log` is the temporary-directory trace each check writes to.
    HealthCheckService(GitHubService *gitHub, DiagnosticLog log,
                       std::chrono::milliseconds interval = std::chrono::seconds(60),
                       Clock clock = {}, QObject *parent = nullptr);

    // The process-wide instance on GitHubService::shared().
    static HealthCheckService &shared();

    // Checks at once and (re)starts the one repeating timer; a second call
    // does not add a second timer.
    void startHeartbeat(AppState *appState);
    bool isHeartbeatRunning() const;
    // Stops the timer; checks still in flight are dropped when they answer.
    void stopHeartbeat();

    // Never throws.
    QCoro::Task<> performHealthCheck(AppState *appState);

    // True when "@" + owner stands in the text as a whole handle: at the
    // start or after white space, and before the end or white space. An
    // empty owner names nobody.
    static bool codeownersNamesOwner(const QString &text, const QString &owner);

    // Where changes accepted through review and baseline moves are recorded.
    void setAuditRecorder(AuditRecorder *audit);

signals:
    // A check applied its results (or was dropped as stale: applied=false).
    void healthCheckFinished(bool applied);

private:
    void apply(quint64 checkId, AppState *state, const GovernanceFacts &facts,
               GovernanceVerdict verdict, const QList<TeamMember> &team, const QString &directory);
    // Offline with the refused sign-in as the reason, without asking GitHub.
    void applySignInRefused(AppState *state);
    // One line to the temporary-directory log, stamped with the clock.
    void debugLog(const QString &message);

    GitHubService *m_gitHub;
    DiagnosticLog m_log;
    std::chrono::milliseconds m_interval;
    Clock m_clock;
    QTimer *m_timer = nullptr;
    QPointer<AppState> m_heartbeatState;
    quint64 m_nextCheckId = 0;
    quint64 m_lastAppliedCheckId = 0;
    QPointer<AuditRecorder> m_audit;
};
