#include "ReconnectAction.h"

#include "AppState.h"
#include "GitHubService.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *wrapped(const QString &text, Style::Color color, const QString &name, QWidget *parent) {
    QLabel *label = Widgets::text(text, Style::TextStyle::caption, color, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    // GitHub's words and account names go in here: never markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

ReconnectAction::ReconnectAction(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName("reconnectGitHub");
    auto *lines = new QVBoxLayout(this);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);
    m_lostText = wrapped("GitHub no longer accepts KeelMark's sign-in. Checks are paused until you "
                         "reconnect.",
                         Style::Color::orange, "signInLostText", this);
    lines->addWidget(m_lostText);

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    m_button = Widgets::smallButton("Reconnect GitHub", "reconnectGitHubButton", "link", this);
    row->addWidget(m_button);
    m_progress = new QWidget(this);
    auto *progress = new QHBoxLayout(m_progress);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setSpacing(8);
    progress->addWidget(new Widgets::Spinner(14, m_progress), 0, Qt::AlignVCenter);
    m_progressText = Widgets::text(QString(), Style::TextStyle::caption,
                                   Style::Color::secondaryLabel, m_progress);
    m_progressText->setObjectName("reconnectProgressText");
    progress->addWidget(m_progressText, 0, Qt::AlignVCenter);
    m_cancel = Widgets::smallButton("Cancel", "cancelReconnectButton", QString(), m_progress);
    progress->addWidget(m_cancel, 0, Qt::AlignVCenter);
    row->addWidget(m_progress);
    row->addStretch(1);
    lines->addLayout(row);
    m_problem = wrapped(QString(), Style::Color::red, "reconnectProblemText", this);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines->addWidget(m_problem);

    connect(m_button, &QPushButton::clicked, this, &ReconnectAction::start);
    connect(m_cancel, &QPushButton::clicked, this, &ReconnectAction::cancel);
    AppState *state = m_context.appState;
    for (auto signal : {&AppState::setupCompleteChanged, &AppState::checkSignInRefusedChanged,
                        &AppState::gitHubSignInPhaseChanged, &AppState::gitHubSignInProblemChanged})
        connect(state, signal, this, &ReconnectAction::render);
    render();
}

void ReconnectAction::render() {
    const AppState *state = m_context.appState;
    const GitHubSignInPhase phase = state->gitHubSignInPhase();
    const bool refused = state->checkSignInRefused();
    const QString problem = state->gitHubSignInProblem();
    // The wizard runs its own sign-in; this is only for a set-up machine. A
    // failed reconnect leaves the refusal standing, so its message goes
    // with it; a check GitHub answers ends both.
    setVisible(state->setupComplete() && (refused || phase != GitHubSignInPhase::idle));
    m_lostText->setVisible(refused);
    m_button->setVisible(phase == GitHubSignInPhase::idle);
    m_progress->setVisible(phase != GitHubSignInPhase::idle);
    m_progressText->setText(phase == GitHubSignInPhase::finishing
                                ? QStringLiteral("Finishing the sign-in with GitHub…")
                                : QStringLiteral("Waiting for your browser…"));
    // Once the callback is in, the sign-in ends by itself within the
    // request time-out; only the browser step can be abandoned.
    m_cancel->setVisible(phase == GitHubSignInPhase::waitingForBrowser);
    m_problem->setText(problem);
    m_problem->setVisible(phase == GitHubSignInPhase::idle && !problem.isEmpty());
}

void ReconnectAction::start() {
    AppState *state = m_context.appState;
    if (!m_context.gitHub || state->gitHubSignInPhase() != GitHubSignInPhase::idle)
        return;
    if (!m_context.gitHub->startOAuth(GitHubService::SignInPurpose::reconnect)) {
        state->setGitHubSignInProblem(
            "KeelMark couldn't open your web browser for the GitHub sign-in. Make sure a default "
            "browser is set, then try again.");
        return;
    }
    state->setGitHubSignInProblem({});
    state->setGitHubSignInPhase(GitHubSignInPhase::waitingForBrowser);
}

void ReconnectAction::cancel() {
    if (m_context.gitHub)
        m_context.gitHub->cancelSignIn();
    m_context.appState->setGitHubSignInPhase(GitHubSignInPhase::idle);
}
