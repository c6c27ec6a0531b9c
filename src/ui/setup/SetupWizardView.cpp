#include "SetupWizardView.h"

#include "AppState.h"
#include "ExtensionApprovalStepView.h"
#include "GitHubConnectStepView.h"
#include "ProtectionProgressStepView.h"
#include "RepoSetupStepView.h"
#include "SetupBannerView.h"
#include "SetupCompleteStepView.h"
#include "SetupStepIndicator.h"
#include "Style.h"
#include "WelcomeStepView.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

SetupWizardView::SetupWizardView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("setupWizard"));
    setMinimumSize(720, 520);

    auto *frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);

    m_banner = new SetupBannerView(context, this);
    frame->addWidget(m_banner);

    m_body = new QHBoxLayout;
    m_body->setSpacing(0);
    m_indicator = new SetupStepIndicator(context, this);
    m_body->addWidget(m_indicator);
    m_body->addWidget(Style::divider(Qt::Vertical, this));
    frame->addLayout(m_body, 1);

    if (AppState *state = context.appState) {
        connect(state, &AppState::isSetupModeChanged, this, &SetupWizardView::updateBanner);
        connect(state, &AppState::currentSetupStepChanged, this, &SetupWizardView::showStep);
        m_shownStep = state->currentSetupStep();
    }
    // A screen taller than a small window scrolls instead of being cut.
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("setupStepScroll"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_body->addWidget(m_scroll, 1);
    m_screen = stepContent(m_shownStep, context, this);
    m_scroll->setWidget(m_screen);
    updateBanner();
}

QWidget *SetupWizardView::stepContent(SetupStep step, const UiContext &context, QWidget *parent) {
    switch (step) {
    case SetupStep::welcome:
        return new WelcomeStepView(context, parent);
    case SetupStep::connectGitHub:
        return new GitHubConnectStepView(context, parent);
    case SetupStep::setupRepo:
        return new RepoSetupStepView(context, parent);
    case SetupStep::applyingProtections:
        return new ProtectionProgressStepView(context, parent);
    case SetupStep::approveExtension:
        return new ExtensionApprovalStepView(context, parent);
    case SetupStep::complete:
        return new SetupCompleteStepView(context, parent);
    }
    return new QWidget(parent);
}

void SetupWizardView::showStep() {
    const SetupStep step = m_context.appState->currentSetupStep();
    // A repeated write of the same step must not rebuild the screen: that
    // would throw away its local state and restart a protection run.
    if (step == m_shownStep && m_screen)
        return;
    m_shownStep = step;
    QWidget *next = stepContent(step, m_context, this);
    // takeWidget gives the old screen back without deleting it: it may be
    // the sender of the signal that brought us here.
    Widgets::retire(m_scroll->takeWidget());
    m_screen = next;
    m_scroll->setWidget(m_screen);
    m_screen->show();
}

void SetupWizardView::updateBanner() {
    m_banner->setVisible(m_context.appState && m_context.appState->isSetupMode());
}
