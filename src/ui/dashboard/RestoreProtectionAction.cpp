#include "RestoreProtectionAction.h"

#include "AppState.h"
#include "AuditRecorder.h"
#include "GitHubService.h"
#include "GovernanceSteps.h"
#include "HealthCheckService.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kButtonText = QStringLiteral("Restore Protection");

bool askWithMessageBox(QWidget *parent, const QString &repository) {
    Widgets::Question question;
    question.title = QStringLiteral("Restore branch protection?");
    question.text = QStringLiteral("Restore branch protection on %1?").arg(repository);
    question.informative =
        QStringLiteral("KeelMark applies its rules to main again: reviews required, CODEOWNERS "
                       "enforced, no force push, no deletion.");
    question.goText = QStringLiteral("Restore");
    return Widgets::ask(parent, question);
}
} // namespace

RestoreProtectionAction::RestoreProtectionAction(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_confirm(askWithMessageBox) {
    setObjectName("restoreProtection");
    auto *lines = new QVBoxLayout(this);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);
    auto *row = new QHBoxLayout;
    m_button = Widgets::smallButton(kButtonText, "restoreProtectionButton", "lock.shield", this);
    row->addWidget(m_button);
    row->addStretch(1);
    lines->addLayout(row);
    m_message = Widgets::text(QString(), Style::TextStyle::caption, Style::Color::red, this);
    m_message->setObjectName("restoreProtectionMessage");
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->hide();
    lines->addWidget(m_message);

    connect(m_button, &QPushButton::clicked, this, &RestoreProtectionAction::start);
    AppState *state = m_context.appState;
    for (auto signal : {&AppState::setupCompleteChanged, &AppState::selectedOrgChanged,
                        &AppState::repoNameChanged, &AppState::branchProtectionEnabledChanged})
        connect(state, signal, this, &RestoreProtectionAction::render);
    render();
}

void RestoreProtectionAction::render() {
    const AppState *state = m_context.appState;
    // Before setup finishes there is nothing of ours to restore.
    setVisible(state->setupComplete() && state->selectedOrg() && !state->repoName().isEmpty() &&
               !state->branchProtectionEnabled());
}

void RestoreProtectionAction::start() {
    const AppState *state = m_context.appState;
    if (m_running || !m_context.gitHub || !state->selectedOrg())
        return;
    const QString org = state->selectedOrg()->login;
    const QString repo = state->repoName();
    // The question is modal: the page may be gone by the time it is answered.
    QPointer<RestoreProtectionAction> alive(this);
    if (!m_confirm || !m_confirm(this, org + u'/' + repo) || !alive)
        return;
    m_running = true;
    m_button->setEnabled(false);
    m_button->setText(QStringLiteral("Restoring…"));
    m_message->hide();
    auto task = restore(org, repo); // eager; finishes on its own
    Q_UNUSED(task);
}

QCoro::Task<> RestoreProtectionAction::restore(QString org, QString repo) {
    // The page may close while GitHub answers; the services and the state
    // live for the whole run, but are guarded all the same.
    const QPointer<RestoreProtectionAction> self(this);
    const QPointer<GitHubService> gitHub(m_context.gitHub);
    const QPointer<HealthCheckService> health(m_context.health);
    const QPointer<AppState> state(m_context.appState);
    const QPointer<AuditRecorder> audit(m_context.audit);
    const QString repository = org + u'/' + repo;

    QString failure;
    try {
        co_await gitHub->enableBranchProtection(org, repo);
    } catch (const std::exception &error) {
        failure = GovernanceSteps::failureText(error);
    }
    if (audit)
        audit->record(QStringLiteral("restore"),
                      failure.isEmpty()
                          ? QStringLiteral("Restored branch protection on %1").arg(repository)
                          : QStringLiteral("Restoring branch protection on %1 failed: %2")
                                .arg(repository, failure),
                      {{QStringLiteral("repository"), repository}});
    // Checked either way: a refused or timed-out request may still have
    // changed something, and the rows must say what holds now.
    if (health && state)
        co_await health->performHealthCheck(state);
    if (self)
        self->finish(failure);
}

void RestoreProtectionAction::finish(const QString &failure) {
    m_running = false;
    m_button->setEnabled(true);
    m_button->setText(kButtonText);
    m_message->setText(failure.isEmpty()
                           ? QString()
                           : QStringLiteral("Branch protection could not be restored: ") + failure);
    m_message->setVisible(!failure.isEmpty());
}
