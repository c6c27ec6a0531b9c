#include "RestoreFilesAction.h"

#include "AppState.h"
#include "AuditRecorder.h"
#include "BaselineStore.h"
#include "GitHubService.h"
#include "GovernanceRecovery.h"
#include "GovernanceSteps.h"
#include "GovernanceVerdict.h"
#include "HealthCheckService.h"
#include "PersistenceService.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kRestoreText = QStringLiteral("Restore Governance Files");
const QString kAcceptText = QStringLiteral("Accept This Change");

bool askWithMessageBox(QWidget *parent, RestoreFilesAction::Command command,
                       const QString &repository, const QStringList &paths) {
    const bool restore = command == RestoreFilesAction::Command::restore;
    Widgets::Question question;
    question.title = restore ? QStringLiteral("Restore governance files?")
                             : QStringLiteral("Accept this change?");
    question.text =
        restore ? QStringLiteral("Put the approved governance files back on %1?").arg(repository)
                : QStringLiteral("Approve the governance files now on %1?").arg(repository);
    question.informative =
        restore ? QStringLiteral("KeelMark commits the approved versions to main in one commit, "
                                 "lifting branch protection for it and applying it again "
                                 "right after.")
                : QStringLiteral("The files on main become the approved baseline, recorded as "
                                 "accepted by you; later checks compare main with them.");
    question.details = paths.join(u'\n');
    question.goText = restore ? QStringLiteral("Restore") : QStringLiteral("Accept");
    return Widgets::ask(parent, question);
}

QJsonArray jsonList(const QStringList &items) {
    return QJsonArray::fromStringList(items);
}
} // namespace

RestoreFilesAction::RestoreFilesAction(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_confirm(askWithMessageBox) {
    setObjectName("restoreFiles");
    auto *lines = new QVBoxLayout(this);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);
    auto *row = new QHBoxLayout;
    m_restoreButton =
        Widgets::smallButton(kRestoreText, "restoreFilesButton", "arrow.clockwise", this);
    m_acceptButton =
        Widgets::smallButton(kAcceptText, "acceptChangeButton", "checkmark.seal", this);
    row->addWidget(m_restoreButton);
    row->addWidget(m_acceptButton);
    row->addStretch(1);
    lines->addLayout(row);
    m_message = Widgets::text(QString(), Style::TextStyle::caption, Style::Color::red, this);
    m_message->setObjectName("restoreFilesMessage");
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->hide();
    lines->addWidget(m_message);

    connect(m_restoreButton, &QPushButton::clicked, this, [this] { start(Command::restore); });
    connect(m_acceptButton, &QPushButton::clicked, this, [this] { start(Command::accept); });
    AppState *state = m_context.appState;
    for (auto signal : {&AppState::setupCompleteChanged, &AppState::selectedOrgChanged,
                        &AppState::repoNameChanged, &AppState::fileFindingsChanged})
        connect(state, signal, this, &RestoreFilesAction::render);
    render();
}

void RestoreFilesAction::render() {
    const AppState *state = m_context.appState;
    const bool drift = state->setupComplete() && state->selectedOrg() &&
                       !state->repoName().isEmpty() &&
                       !GovernanceVerdict::driftedPaths(state->fileFindings()).isEmpty();
    // A run keeps its progress on screen even if a check lands meanwhile;
    // an old failure goes once the files match again.
    if (!drift && !m_running)
        m_message->hide();
    setVisible(drift || m_running);
}

void RestoreFilesAction::start(Command command) {
    const AppState *state = m_context.appState;
    if (m_running || !m_context.gitHub || !state->selectedOrg())
        return;
    const QString org = state->selectedOrg()->login;
    const QString repo = state->repoName();
    const QStringList paths = GovernanceVerdict::driftedPaths(state->fileFindings());
    // The question is modal: the page may be gone by the time it is answered.
    QPointer<RestoreFilesAction> alive(this);
    if (!m_confirm || !m_confirm(this, command, org + u'/' + repo, paths) || !alive)
        return;
    m_running = true;
    m_restoreButton->setEnabled(false);
    m_acceptButton->setEnabled(false);
    QPushButton *button = command == Command::restore ? m_restoreButton : m_acceptButton;
    button->setText(command == Command::restore ? QStringLiteral("Restoring…")
                                                : QStringLiteral("Accepting…"));
    m_message->hide();
    // Eager; each finishes on its own.
    if (command == Command::restore) {
        // Only what the owner saw and confirmed goes back.
        auto task = restore(org, repo, state->gitHubUsername(), paths);
        Q_UNUSED(task);
    } else {
        auto task = accept(org, repo, state->gitHubUsername());
        Q_UNUSED(task);
    }
}

QCoro::Task<> RestoreFilesAction::restore(QString org, QString repo, QString owner,
                                          QStringList paths) {
    // The page may close while GitHub answers; the services and the state
    // live for the whole run, but are guarded all the same.
    const QPointer<RestoreFilesAction> self(this);
    const QPointer<GitHubService> gitHub(m_context.gitHub);
    const QPointer<HealthCheckService> health(m_context.health);
    const QPointer<AppState> state(m_context.appState);
    const QPointer<AuditRecorder> audit(m_context.audit);
    const QString repository = org + u'/' + repo;
    const GovernanceBaseline baseline = GovernanceRecovery::currentBaseline(
        state->appDirectory(), owner, org, QDateTime::currentDateTimeUtc());

    QString failure;
    GitHubBranchHead head;
    try {
        head = co_await GovernanceRecovery::restoreFiles(gitHub, org, repo, baseline, paths, owner);
    } catch (const std::exception &error) {
        failure = GovernanceSteps::failureText(error);
    }
    QJsonObject details{{QStringLiteral("repository"), repository},
                        {QStringLiteral("files"), jsonList(paths)}};
    if (failure.isEmpty())
        details.insert(QStringLiteral("commit"), head.commitSha);
    if (audit)
        audit->record(
            QStringLiteral("restore"),
            failure.isEmpty()
                ? QStringLiteral("Restored the approved governance files on %1").arg(repository)
                : QStringLiteral("Restoring the governance files on %1 failed: %2")
                      .arg(repository, failure),
            details);
    // Checked either way: a failed step may still have changed something,
    // and the rows must say what holds now.
    if (health && state)
        co_await health->performHealthCheck(state);
    if (self)
        self->finish(Command::restore, failure);
}

QCoro::Task<> RestoreFilesAction::accept(QString org, QString repo, QString owner) {
    const QPointer<RestoreFilesAction> self(this);
    const QPointer<GitHubService> gitHub(m_context.gitHub);
    const QPointer<HealthCheckService> health(m_context.health);
    const QPointer<AppState> state(m_context.appState);
    const QPointer<AuditRecorder> audit(m_context.audit);
    const QString repository = org + u'/' + repo;
    const QString directory = state->appDirectory();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const GovernanceBaseline baseline =
        GovernanceRecovery::currentBaseline(directory, owner, org, now);

    QString failure;
    GovernanceBaseline approved;
    try {
        approved = co_await GovernanceRecovery::acceptMain(gitHub, org, repo, baseline, owner, now);
    } catch (const std::exception &error) {
        failure = GovernanceSteps::failureText(error);
    }
    if (failure.isEmpty() && !BaselineStore(PersistenceService(directory)).save(approved))
        failure = QStringLiteral("The approved baseline could not be saved in %1.").arg(directory);
    if (audit) {
        QJsonObject details{{QStringLiteral("repository"), repository}};
        if (failure.isEmpty()) {
            details.insert(QStringLiteral("commit"), approved.commitSha);
            details.insert(QStringLiteral("acceptedBy"), owner);
            details.insert(QStringLiteral("files"), jsonList(approved.blobIds.keys()));
        }
        audit->record(QStringLiteral("accept"),
                      failure.isEmpty()
                          ? QStringLiteral("Accepted the governance files at %1 on %2 as approved")
                                .arg(approved.commitSha.left(7), repository)
                          : QStringLiteral("Accepting the governance files on %1 failed: %2")
                                .arg(repository, failure),
                      details);
    }
    if (health && state)
        co_await health->performHealthCheck(state);
    if (self)
        self->finish(Command::accept, failure);
}

void RestoreFilesAction::finish(Command command, const QString &failure) {
    m_running = false;
    m_restoreButton->setEnabled(true);
    m_acceptButton->setEnabled(true);
    m_restoreButton->setText(kRestoreText);
    m_acceptButton->setText(kAcceptText);
    const QString what = command == Command::restore
                             ? QStringLiteral("The governance files could not be restored: ")
                             : QStringLiteral("The change could not be accepted: ");
    m_message->setText(failure.isEmpty() ? QString() : what + failure);
    m_message->setVisible(!failure.isEmpty());
    render();
}
