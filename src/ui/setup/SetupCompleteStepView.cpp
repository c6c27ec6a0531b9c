#include "SetupCompleteStepView.h"

#include "AppState.h"
#include "HealthCheckService.h"
#include "PlatformWords.h"
#include "Style.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SetupCompleteStepView::SetupCompleteStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("setupCompleteStep"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (AppState *state = context.appState) {
        for (auto signal : {&AppState::isSetupModeChanged, &AppState::selectedOrgChanged,
                            &AppState::repoNameChanged, &AppState::gitHubUsernameChanged,
                            &AppState::repoCreatedChanged})
            connect(state, signal, this, &SetupCompleteStepView::render);
    }
    render();
}

void SetupCompleteStepView::render() {
    if (!m_context.appState)
        return;
    QWidget *next = buildContent();
    if (m_content)
        Widgets::retire(m_content);
    m_content = next;
    layout()->addWidget(m_content);
    m_content->show();
}

QWidget *SetupCompleteStepView::buildContent() {
    auto *content = new QWidget(this);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(24);
    column->addStretch(1);
    column->addWidget(buildHeading(content), 0, Qt::AlignHCenter);
    column->addWidget(buildSummary(content), 0, Qt::AlignHCenter);
    QLabel *note = Widgets::wrappedText(
        QStringLiteral("KeelMark is now running in your ") + PlatformWords::trayPlace() +
            QStringLiteral(". Click the icon anytime to check status."),
        Style::TextStyle::caption, Style::Color::secondaryLabel, 400, Qt::AlignHCenter, content);
    note->setObjectName(QStringLiteral("completeTrayNote"));
    column->addWidget(note, 0, Qt::AlignHCenter);
    column->addLayout(buildButtons(content));
    column->addStretch(1);
    return content;
}

QWidget *SetupCompleteStepView::buildHeading(QWidget *parent) {
    const bool setupMode = m_context.appState->isSetupMode();
    auto *heading = new QWidget(parent);
    auto *headingColumn = new QVBoxLayout(heading);
    headingColumn->setContentsMargins(0, 0, 0, 0);
    headingColumn->setSpacing(12);
    auto *icon = new Widgets::SymbolView(
        setupMode ? QStringLiteral("exclamationmark.triangle.fill")
                  : QStringLiteral("checkmark.circle.fill"),
        Style::color(setupMode ? Style::Color::orange : Style::Color::green), 48, heading);
    icon->setObjectName(QStringLiteral("completeIcon"));
    headingColumn->addWidget(icon, 0, Qt::AlignHCenter);
    QLabel *title = Widgets::title(setupMode ? QStringLiteral("Setup Mode — transfer required")
                                             : QStringLiteral("Setup complete"),
                                   heading);
    title->setObjectName(QStringLiteral("completeTitle"));
    headingColumn->addWidget(title, 0, Qt::AlignHCenter);
    QLabel *text =
        setupMode
            ? Widgets::wrappedText(
                  QStringLiteral("The system is configured but you are not the permanent owner. "
                                 "You have 30 days to transfer constitutional authority to the "
                                 "intended owner."),
                  Style::TextStyle::body, Style::Color::secondaryLabel, 450, Qt::AlignHCenter,
                  heading)
            : Widgets::text(QStringLiteral("Your AI governance is active."), Style::TextStyle::body,
                            Style::Color::secondaryLabel, heading);
    text->setObjectName(QStringLiteral("completeText"));
    headingColumn->addWidget(text, 0, Qt::AlignHCenter);
    return heading;
}

QWidget *SetupCompleteStepView::buildSummary(QWidget *parent) {
    AppState *state = m_context.appState;
    auto *summary = new QWidget(parent);
    summary->setObjectName(QStringLiteral("completeSummary"));
    summary->setFixedWidth(400);
    auto *rows = new QVBoxLayout(summary);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    const auto addRow = [&](const QString &name, const QString &symbol, Style::Color color,
                            const QString &line) {
        Widgets::IconLabel row =
            Widgets::iconLabel(symbol, Style::color(color), line, Style::TextStyle::body, summary);
        row.widget->setObjectName(name);
        row.text->setObjectName(name + QStringLiteral("Text"));
        row.symbol->setObjectName(name + QStringLiteral("Symbol"));
        rows->addWidget(row.widget);
    };
    const QString check = QStringLiteral("checkmark.circle.fill");
    if (const std::optional<GitHubOrg> org = state->selectedOrg())
        addRow(QStringLiteral("summaryGitHub"), check, Style::Color::green,
               QStringLiteral("GitHub: ") + org->login + QLatin1Char('/') + state->repoName());
    addRow(QStringLiteral("summaryCodeowners"), check, Style::Color::green,
           QStringLiteral("CODEOWNERS: @") + state->gitHubUsername());
    if (state->repoCreated())
        addRow(QStringLiteral("summaryBranchProtection"), check, Style::Color::green,
               QStringLiteral("Branch protection: enabled"));
    else
        addRow(QStringLiteral("summaryBranchProtection"), QStringLiteral("clock"),
               Style::Color::orange, QStringLiteral("Branch protection: pending verification"));
    if (state->isSetupMode())
        addRow(QStringLiteral("summaryAuthorityTransfer"), QStringLiteral("xmark.circle.fill"),
               Style::Color::orange, QStringLiteral("Authority transfer: pending"));
    return summary;
}

QHBoxLayout *SetupCompleteStepView::buildButtons(QWidget *parent) {
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    if (!m_context.appState->isSetupMode()) {
        auto *open = new QPushButton(QStringLiteral("Open Dashboard"), parent);
        open->setObjectName(QStringLiteral("openDashboardButton"));
        Style::styleButton(open, Style::ButtonStyle::prominent);
        connect(open, &QPushButton::clicked, this,
                [this] { finish(MachineStatusState::protected_); });
        buttons->addWidget(open);
    } else {
        // The hand-over itself is not built yet; the button stays inert.
        auto *transfer = new QPushButton(QStringLiteral("Transfer Authority Now →"), parent);
        transfer->setObjectName(QStringLiteral("transferAuthorityButton"));
        Style::styleButton(transfer, Style::ButtonStyle::prominent);
        auto *later = new QPushButton(QStringLiteral("Do This Later"), parent);
        later->setObjectName(QStringLiteral("doThisLaterButton"));
        Style::styleButton(later, Style::ButtonStyle::bordered);
        connect(later, &QPushButton::clicked, this,
                [this] { finish(MachineStatusState::setupMode); });
        buttons->addWidget(transfer);
        buttons->addWidget(later);
    }
    buttons->addStretch(1);
    return buttons;
}

void SetupCompleteStepView::finish(MachineStatusState status) {
    AppState *state = m_context.appState;
    if (!state || state->setupComplete())
        return;
    // Keep the services: setting setupComplete replaces this screen.
    const UiContext context = m_context;
    state->setSetupComplete(true);
    state->setMachineStatus(status);
    if (context.health)
        context.health->startHeartbeat(state);
}
