#pragma once

#include "GitHubError.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <functional>

class AppState;
class AuditRecorder;
class GitHubService;

// One row of the protection run.
struct ProtectionStep {
    enum class StepStatus { pending, inProgress, completed, failed };

    QUuid id;
    QString label;
    StepStatus status = StepStatus::pending;
    QString message; // the error's description when failed
    QString detail;  // GitHub's own explanation, shown as a second caption line
};

// Provisions the selected organisation's ops repository in four steps and
// owns the rows' state, so the progress screen only displays it. Destroying
// the run stops its requests: the one in flight completes, no other is sent.
class ProtectionRun : public QObject {
    Q_OBJECT

public:
    ProtectionRun(AppState *appState, GitHubService *gitHub, QObject *parent = nullptr);
    ~ProtectionRun() override;

    QList<ProtectionStep> steps() const { return m_steps; }
    bool allComplete() const { return m_allComplete; }
    bool hasFailed() const { return m_hasFailed; }
    bool isRunning() const { return m_running; }

    // Where the repository, the commit and the protection outcome are
    // recorded as they happen; optional.
    void setAuditRecorder(AuditRecorder *audit);

    // Runs the whole sequence once; never throws.
    QCoro::Task<> runProtectionSequence();
    // Resets every row to pending and runs again from the first step;
    // ignored while a run is in progress.
    void retry();
    // Starts the first run (the progress screen calls this when shown);
    // ignored while a run is in progress or once one has succeeded.
    void start();

signals:
    void stepsChanged();
    void allCompleteChanged();
    void hasFailedChanged();
    void runningChanged();
    // The sequence ended, successfully or not (also when there was nothing
    // to do because no organisation is selected).
    void finished();

private:
    using StepAction = std::function<QCoro::Task<>()>;
    QCoro::Task<> run(int index, StepAction action);
    void setStatus(int index, ProtectionStep::StepStatus status);
    void setAllComplete(bool value);
    void setHasFailed(bool value);
    void setRunning(bool value);

    // Both outlive the screen in the app; tests may tear them down first.
    QPointer<AppState> m_appState;
    QPointer<GitHubService> m_gitHub;
    QPointer<AuditRecorder> m_audit;
    QList<ProtectionStep> m_steps;
    // Shared with every request the run starts; raised when the run dies.
    GitHubCancellation m_cancel;
    bool m_allComplete = false;
    bool m_hasFailed = false;
    bool m_running = false;
};
