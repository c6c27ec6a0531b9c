#include "AppState.h"
#include "DiagnosticLog.h"
#include "PersistenceService.h"
#include "PlatformFiles.h"

AppState::AppState(QObject *parent)
    : AppState(&PersistenceService::shared(), parent) {}

AppState::AppState(PersistenceService *persistence, QObject *parent)
    : QObject(parent)
    , m_persistence(persistence) {
    load();
    m_ready = true;
}

void AppState::load() {
    const PersistedState stored = m_persistence->load();

    PlatformFiles::makePrivateDirectory(appDirectory());
    DiagnosticLog::appendLine(
        DiagnosticLog::appLogPath(appDirectory()),
        QStringLiteral("AppState.init(0x%1): loaded setupComplete=%2, org=%3, repo=%4\n")
            .arg(QString::number(quintptr(this), 16),
                 stored.setupComplete ? QStringLiteral("true") : QStringLiteral("false"),
                 stored.orgLogin.value_or(QStringLiteral("nil")), stored.repoName));

    // Through the ordinary setters; m_ready is still false, so none of these
    // writes the file back.
    setSetupComplete(stored.setupComplete);
    setGitHubUsername(stored.gitHubUsername);
    setRepoName(stored.repoName);
    setIsSetupMode(stored.isSetupMode);
    setGitHubConnected(stored.gitHubConnected);
    if (stored.setupRole)
        setSetupRole(setupRoleFromText(*stored.setupRole));
    if (stored.orgId && stored.orgLogin)
        setSelectedOrg(GitHubOrg{*stored.orgId, *stored.orgLogin, stored.orgIsAdmin});
    if (m_setupComplete)
        setCurrentSetupStep(SetupStep::complete);
}

void AppState::persistIfReady() {
    if (!m_ready)
        return;
    PersistedState state;
    state.setupComplete = m_setupComplete;
    state.gitHubUsername = m_gitHubUsername;
    state.repoName = m_repoName;
    state.isSetupMode = m_isSetupMode;
    state.gitHubConnected = m_gitHubConnected;
    if (m_setupRole)
        state.setupRole = toText(*m_setupRole);
    if (m_selectedOrg) {
        state.orgId = m_selectedOrg->id;
        state.orgLogin = m_selectedOrg->login;
        state.orgIsAdmin = m_selectedOrg->isAdmin;
    }
    m_persistence->save(state);
}

QString AppState::appDirectory() const {
    return m_persistence->directory();
}

void AppState::returnToGitHubStep() {
    // The step first: leaving setupComplete makes the window build the
    // wizard, which opens at the current step.
    setCurrentSetupStep(SetupStep::connectGitHub);
    setGitHubSignInPhase(GitHubSignInPhase::idle);
    setGitHubSignInProblem({});
    setGitHubTokensUnsaved(false);
    setGitHubOrgs({});
    setSelectedOrg(std::nullopt);
    setRepoName({});
    setGitHubUsername({});
    setGitHubConnected(false);
    setRepoCreated(false);
    setCodeownersValid(false);
    setBranchProtectionEnabled(false);
    setTeamMembers({});
    setStatusReasons({});
    setProtectionFindings({});
    setFileFindings({});
    setCheckSignInRefused(false);
    setLastHeartbeat(std::nullopt);
    setMachineStatus(MachineStatusState::setupMode);
    setSetupComplete(false);
}

QString AppState::statusLabel() const {
    return ::statusLabel(m_machineStatus);
}

StatusTone AppState::statusTone() const {
    return ::statusTone(m_machineStatus);
}

// Persisted fields: every write saves, also when the value is unchanged, and
// observers hear of it after the value is stored.
#define KEELMARK_PERSISTED_SETTER(Setter, member, signal, Type)                                    \
    void AppState::Setter(Type value) {                                                            \
        member = value;                                                                            \
        persistIfReady();                                                                          \
        emit signal();                                                                             \
    }

KEELMARK_PERSISTED_SETTER(setSetupComplete, m_setupComplete, setupCompleteChanged, bool)
KEELMARK_PERSISTED_SETTER(setGitHubUsername, m_gitHubUsername, gitHubUsernameChanged,
                          const QString &)
KEELMARK_PERSISTED_SETTER(setRepoName, m_repoName, repoNameChanged, const QString &)
KEELMARK_PERSISTED_SETTER(setIsSetupMode, m_isSetupMode, isSetupModeChanged, bool)
KEELMARK_PERSISTED_SETTER(setGitHubConnected, m_gitHubConnected, gitHubConnectedChanged, bool)
KEELMARK_PERSISTED_SETTER(setSetupRole, m_setupRole, setupRoleChanged, std::optional<SetupRole>)
KEELMARK_PERSISTED_SETTER(setSelectedOrg, m_selectedOrg, selectedOrgChanged,
                          std::optional<GitHubOrg>)

#undef KEELMARK_PERSISTED_SETTER

// Run-only fields: notify only on a real change.
#define KEELMARK_SETTER(Setter, member, signal, Type)                                              \
    void AppState::Setter(Type value) {                                                            \
        if (member == value)                                                                       \
            return;                                                                                \
        member = value;                                                                            \
        emit signal();                                                                             \
    }

KEELMARK_SETTER(setCurrentSetupStep, m_currentSetupStep, currentSetupStepChanged, SetupStep)
KEELMARK_SETTER(setRepoCreated, m_repoCreated, repoCreatedChanged, bool)
KEELMARK_SETTER(setCodeownersValid, m_codeownersValid, codeownersValidChanged, bool)
KEELMARK_SETTER(setBranchProtectionEnabled, m_branchProtectionEnabled,
                branchProtectionEnabledChanged, bool)
KEELMARK_SETTER(setMachineStatus, m_machineStatus, machineStatusChanged, MachineStatusState)
KEELMARK_SETTER(setHelperRunning, m_helperRunning, helperRunningChanged, bool)
KEELMARK_SETTER(setExtensionActive, m_extensionActive, extensionActiveChanged, bool)
KEELMARK_SETTER(setSignatureValid, m_signatureValid, signatureValidChanged, bool)
KEELMARK_SETTER(setLastHeartbeat, m_lastHeartbeat, lastHeartbeatChanged, std::optional<QDateTime>)
KEELMARK_SETTER(setGitHubSignInPhase, m_gitHubSignInPhase, gitHubSignInPhaseChanged,
                GitHubSignInPhase)
KEELMARK_SETTER(setGitHubSignInProblem, m_gitHubSignInProblem, gitHubSignInProblemChanged,
                const QString &)
KEELMARK_SETTER(setGitHubTokensUnsaved, m_gitHubTokensUnsaved, gitHubTokensUnsavedChanged, bool)
KEELMARK_SETTER(setStatusReasons, m_statusReasons, statusReasonsChanged, const QStringList &)
KEELMARK_SETTER(setProtectionFindings, m_protectionFindings, protectionFindingsChanged,
                const QStringList &)
KEELMARK_SETTER(setFileFindings, m_fileFindings, fileFindingsChanged, const QStringList &)
KEELMARK_SETTER(setCheckSignInRefused, m_checkSignInRefused, checkSignInRefusedChanged, bool)

#undef KEELMARK_SETTER

// Records without equality (GitHubOrg, TeamMember) always notify.
void AppState::setGitHubOrgs(const QList<GitHubOrg> &value) {
    m_gitHubOrgs = value;
    emit gitHubOrgsChanged();
}

void AppState::setTeamMembers(const QList<TeamMember> &value) {
    m_teamMembers = value;
    emit teamMembersChanged();
}
