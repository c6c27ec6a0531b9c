#pragma once

#include "AppStateTypes.h"
#include "Records.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>

#include <optional>

class PersistenceService;

// Where the browser sign-in stands, as the connect step shows it.
enum class GitHubSignInPhase { idle, waitingForBrowser, finishing };

// The one observable application state. Every screen reads it and follows
// its change signals; services write their results into it on the main
// thread. Writing one of the seven persisted fields rewrites state.json at
// once (after construction has finished).
class AppState : public QObject {
    Q_OBJECT

public:
    // Loads the state file through `persistence` (defaults when missing or
    // broken) and writes the start-up line to debug.log beside it.
    explicit AppState(PersistenceService *persistence, QObject *parent = nullptr);
    // Uses PersistenceService::shared().
    explicit AppState(QObject *parent = nullptr);

    // Persisted
    bool setupComplete() const { return m_setupComplete; }
    void setSetupComplete(bool value);
    QString gitHubUsername() const { return m_gitHubUsername; }
    void setGitHubUsername(const QString &value);
    QString repoName() const { return m_repoName; }
    void setRepoName(const QString &value);
    bool isSetupMode() const { return m_isSetupMode; }
    void setIsSetupMode(bool value);
    bool gitHubConnected() const { return m_gitHubConnected; }
    void setGitHubConnected(bool value);
    std::optional<SetupRole> setupRole() const { return m_setupRole; }
    void setSetupRole(std::optional<SetupRole> value);
    std::optional<GitHubOrg> selectedOrg() const { return m_selectedOrg; }
    void setSelectedOrg(std::optional<GitHubOrg> value);

    // For this run only
    SetupStep currentSetupStep() const { return m_currentSetupStep; }
    void setCurrentSetupStep(SetupStep value);
    QList<GitHubOrg> gitHubOrgs() const { return m_gitHubOrgs; }
    void setGitHubOrgs(const QList<GitHubOrg> &value);
    bool repoCreated() const { return m_repoCreated; }
    void setRepoCreated(bool value);
    bool codeownersValid() const { return m_codeownersValid; }
    void setCodeownersValid(bool value);
    bool branchProtectionEnabled() const { return m_branchProtectionEnabled; }
    void setBranchProtectionEnabled(bool value);
    QList<TeamMember> teamMembers() const { return m_teamMembers; }
    void setTeamMembers(const QList<TeamMember> &value);
    MachineStatusState machineStatus() const { return m_machineStatus; }
    void setMachineStatus(MachineStatusState value);
    bool helperRunning() const { return m_helperRunning; }
    void setHelperRunning(bool value);
    bool extensionActive() const { return m_extensionActive; }
    void setExtensionActive(bool value);
    bool signatureValid() const { return m_signatureValid; }
    void setSignatureValid(bool value);
    std::optional<QDateTime> lastHeartbeat() const { return m_lastHeartbeat; }
    void setLastHeartbeat(std::optional<QDateTime> value);
    GitHubSignInPhase gitHubSignInPhase() const { return m_gitHubSignInPhase; }
    void setGitHubSignInPhase(GitHubSignInPhase value);
    // Why the last sign-in or organisation look-up failed, in the user's
    // words; empty when nothing failed.
    QString gitHubSignInProblem() const { return m_gitHubSignInProblem; }
    void setGitHubSignInProblem(const QString &value);
    // The GitHub tokens in use could not be written to the credential
    // store, so the next launch will need a new sign-in.
    bool gitHubTokensUnsaved() const { return m_gitHubTokensUnsaved; }
    void setGitHubTokensUnsaved(bool value);
    // What the last health check established, in the user's words: every
    // finding behind the status (most serious first; when offline, why),
    // and the lines of the protection and governance-file rows.
    QStringList statusReasons() const { return m_statusReasons; }
    void setStatusReasons(const QStringList &value);
    QStringList protectionFindings() const { return m_protectionFindings; }
    void setProtectionFindings(const QStringList &value);
    QStringList fileFindings() const { return m_fileFindings; }
    void setFileFindings(const QStringList &value);
    // GitHub no longer accepts the stored sign-in (a check got 401, the
    // refresh was refused, or no token was found): it needs renewing, and
    // only a check GitHub answers or a reconnect clears it.
    bool checkSignInRefused() const { return m_checkSignInRefused; }
    void setCheckSignInRefused(bool value);

    // Derived from machineStatus on every read.
    QString statusLabel() const;
    StatusTone statusTone() const;

    // The directory that holds state.json and debug.log.
    QString appDirectory() const;

    // After a disconnect: everything about the account, the organisation and
    // the checks is forgotten and the wizard stands at "Connect GitHub"; the
    // role and mode chosen on the welcome step stay. Files beside state.json
    // are not touched.
    void returnToGitHubStep();

signals:
    void setupCompleteChanged();
    void gitHubUsernameChanged();
    void repoNameChanged();
    void isSetupModeChanged();
    void gitHubConnectedChanged();
    void setupRoleChanged();
    void selectedOrgChanged();
    void currentSetupStepChanged();
    void gitHubOrgsChanged();
    void repoCreatedChanged();
    void codeownersValidChanged();
    void branchProtectionEnabledChanged();
    void teamMembersChanged();
    void machineStatusChanged();
    void helperRunningChanged();
    void extensionActiveChanged();
    void signatureValidChanged();
    void lastHeartbeatChanged();
    void gitHubSignInPhaseChanged();
    void gitHubSignInProblemChanged();
    void gitHubTokensUnsavedChanged();
    void statusReasonsChanged();
    void protectionFindingsChanged();
    void fileFindingsChanged();
    void checkSignInRefusedChanged();

private:
    void load();
    void persistIfReady();

    PersistenceService *m_persistence;

    bool m_setupComplete = false;
    QString m_gitHubUsername;
    QString m_repoName;
    bool m_isSetupMode = false;
    bool m_gitHubConnected = false;
    std::optional<SetupRole> m_setupRole;
    std::optional<GitHubOrg> m_selectedOrg;
    SetupStep m_currentSetupStep = SetupStep::welcome;
    QList<GitHubOrg> m_gitHubOrgs;
    bool m_repoCreated = false;
    bool m_codeownersValid = false;
    bool m_branchProtectionEnabled = false;
    QList<TeamMember> m_teamMembers;
    MachineStatusState m_machineStatus = MachineStatusState::setupMode;
    bool m_helperRunning = false;
    bool m_extensionActive = false;
    bool m_signatureValid = false;
    std::optional<QDateTime> m_lastHeartbeat;
    GitHubSignInPhase m_gitHubSignInPhase = GitHubSignInPhase::idle;
    QString m_gitHubSignInProblem;
    bool m_gitHubTokensUnsaved = false;
    QStringList m_statusReasons;
    QStringList m_protectionFindings;
    QStringList m_fileFindings;
    bool m_checkSignInRefused = false;
    // Keeps the load at start-up from writing the file back.
    bool m_ready = false;
};
