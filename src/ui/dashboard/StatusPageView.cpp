#include "StatusPageView.h"

#include "AppState.h"
#include "LocaleFormat.h"
#include "ReconnectAction.h"
#include "RestoreFilesAction.h"
#include "RestoreProtectionAction.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int labelWidth = 140;

Widgets::StatusRow *addStatusRow(QVBoxLayout *layout, const QString &label,
                                 const QString &objectName) {
    auto *row = new Widgets::StatusRow(label, labelWidth, Style::TextStyle::callout,
                                       Widgets::StatusRow::ValueColoring::byOk);
    row->setObjectName(objectName);
    layout->addWidget(row);
    return row;
}

QWidget *section(const QString &heading, QVBoxLayout **rows) {
    auto *widget = new QWidget;
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(Widgets::heading(heading, true, widget));
    *rows = layout;
    return widget;
}
} // namespace

StatusPageView::StatusPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName("statusPage");
    auto *page = Widgets::pageLayout(this);
    page->addWidget(Widgets::title("System Status", this));

    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    m_statusDot = new Widgets::SymbolView(
        "circle.fill", Style::statusColor(m_context.appState->statusTone()), 16, this);
    m_statusDot->setObjectName("statusDot");
    header->addWidget(m_statusDot);
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName("statusLabel");
    m_statusLabel->setFont(Style::font(Style::TextStyle::title3, QFont::Medium));
    header->addWidget(m_statusLabel);
    header->addStretch(1);
    page->addLayout(header);

    page->addWidget(Widgets::divider(this));
    QVBoxLayout *rows = nullptr;
    page->addWidget(section("Governance", &rows));
    m_gitHubRow = addStatusRow(rows, "GitHub", "gitHubRow");
    rows->addWidget(new ReconnectAction(m_context, this));
    m_codeownersRow = addStatusRow(rows, "CODEOWNERS", "codeownersRow");
    m_branchProtectionRow = addStatusRow(rows, "Branch protection", "branchProtectionRow");
    rows->addWidget(new RestoreProtectionAction(m_context, this));
    m_filesRow = addStatusRow(rows, "Governance files", "governanceFilesRow");
    m_filesRow->valueLabel()->setWordWrap(true);
    m_filesRow->valueLabel()->setObjectName("governanceFilesValue");
    rows->addWidget(new RestoreFilesAction(m_context, this));
    m_branchProtectionRow->valueLabel()->setWordWrap(true);
    m_tokensUnsavedNote = Widgets::text(
        "Your GitHub sign-in couldn't be saved in the system keyring. KeelMark keeps working "
        "until it quits; the next launch will need a new sign-in.",
        Style::TextStyle::caption, Style::Color::orange, this);
    m_tokensUnsavedNote->setObjectName("tokensUnsavedNote");
    m_tokensUnsavedNote->setWordWrap(true);
    rows->addWidget(m_tokensUnsavedNote);

    page->addWidget(Widgets::divider(this));
    page->addWidget(section("Local Security", &rows));
    m_helperRow = addStatusRow(rows, "Helper daemon", "helperRow");
    m_extensionRow = addStatusRow(rows, "ES Extension", "extensionRow");
    m_signatureRow = addStatusRow(rows, "Signature", "signatureRow");

    page->addWidget(Widgets::divider(this));
    page->addWidget(createTeamSection());
    page->addWidget(Widgets::divider(this));
    page->addWidget(createFooter());
    page->addStretch(1);

    AppState *state = m_context.appState;
    connect(state, &AppState::machineStatusChanged, this, &StatusPageView::renderStatus);
    for (auto signal :
         {&AppState::selectedOrgChanged, &AppState::repoNameChanged, &AppState::repoCreatedChanged,
          &AppState::codeownersValidChanged, &AppState::gitHubUsernameChanged,
          &AppState::branchProtectionEnabledChanged, &AppState::gitHubTokensUnsavedChanged,
          &AppState::protectionFindingsChanged, &AppState::fileFindingsChanged})
        connect(state, signal, this, &StatusPageView::renderGovernance);
    for (auto signal : {&AppState::helperRunningChanged, &AppState::extensionActiveChanged,
                        &AppState::signatureValidChanged})
        connect(state, signal, this, &StatusPageView::renderLocalSecurity);
    connect(state, &AppState::teamMembersChanged, this, &StatusPageView::renderTeam);
    connect(state, &AppState::lastHeartbeatChanged, this, &StatusPageView::renderLastCheck);

    renderStatus();
    renderGovernance();
    renderLocalSecurity();
    renderTeam();
    renderLastCheck();
}

QWidget *StatusPageView::createTeamSection() {
    QVBoxLayout *layout = nullptr;
    QWidget *team = section("Team", &layout);

    m_noMembers = Widgets::text("No team members detected", Style::TextStyle::body,
                                Style::Color::secondaryLabel, team);
    m_noMembers->setObjectName("noTeamMembers");
    layout->addWidget(m_noMembers);

    m_counts = new QWidget(team);
    m_counts->setObjectName("teamCounts");
    auto *counts = new QHBoxLayout(m_counts);
    counts->setContentsMargins(0, 0, 0, 0);
    counts->setSpacing(16);
    const QColor primary = Style::color(Style::Color::label);
    auto *admins = Widgets::symbolText("shield", QString(), Style::TextStyle::body, primary,
                                       "adminCount", m_counts);
    auto *staff = Widgets::symbolText("person.2", QString(), Style::TextStyle::body, primary,
                                      "staffCount", m_counts);
    m_freelancers = Widgets::symbolText("person.badge.clock", QString(), Style::TextStyle::body,
                                        primary, "freelancerCount", m_counts);
    m_adminCount = admins->findChild<QLabel *>("adminCount");
    m_staffCount = staff->findChild<QLabel *>("staffCount");
    m_freelancerCount = m_freelancers->findChild<QLabel *>("freelancerCount");
    counts->addWidget(admins);
    counts->addWidget(staff);
    counts->addWidget(m_freelancers);
    counts->addStretch(1);
    layout->addWidget(m_counts);
    return team;
}

QWidget *StatusPageView::createFooter() {
    auto *footer = new QWidget(this);
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    const QColor secondary = Style::color(Style::Color::secondaryLabel);
    row->addWidget(new Widgets::SymbolView("clock", secondary,
                                           Widgets::symbolSize(Style::TextStyle::caption), footer));
    m_lastCheck =
        Widgets::text(QString(), Style::TextStyle::caption, Style::Color::secondaryLabel, footer);
    m_lastCheck->setObjectName("lastCheckLabel");
    row->addWidget(m_lastCheck);
    row->addStretch(1);
    auto *checkNow = Widgets::smallButton("Check Now", "checkNowButton", QString(), footer);
    // Each click starts its own check; the service applies only the newest.
    connect(checkNow, &QPushButton::clicked, this,
            [context = m_context] { startHealthCheck(context); });
    row->addWidget(checkNow);
    return footer;
}

void StatusPageView::renderStatus() {
    m_statusDot->setSymbol("circle.fill", Style::statusColor(m_context.appState->statusTone()));
    m_statusDot->setAccessibleName("Machine status");
    m_statusDot->setAccessibleDescription(m_context.appState->statusLabel());
    m_statusLabel->setText(m_context.appState->statusLabel());
}

void StatusPageView::renderGovernance() {
    const AppState *state = m_context.appState;
    const auto org = state->selectedOrg();
    m_gitHubRow->setState(org ? org->login + "/" + state->repoName() : QString("Not connected"),
                          state->repoCreated());

    const bool codeowners = state->codeownersValid();
    m_codeownersRow->setState(codeowners ? "Active (@" + state->gitHubUsername() + ")"
                                         : QString("Not verified"),
                              codeowners);

    // The check's findings name each weakened rule; before any check ran
    // there are none and the plain words stand.
    const bool protection = state->branchProtectionEnabled();
    QStringList weakened = state->protectionFindings();
    for (QString &finding : weakened)
        finding.remove("Branch protection weakened: ");
    m_branchProtectionRow->setState(protection
                                        ? QString("Enabled (reviews required, CODEOWNERS enforced)")
                                    : weakened.isEmpty() ? QString("Not enabled")
                                                         : weakened.join('\n'),
                                    protection);
    const QStringList files = state->fileFindings();
    m_filesRow->setState(files.isEmpty() ? QString("Not checked yet") : files.join('\n'),
                         files == QStringList{"Governance files match what you approved"});
    m_tokensUnsavedNote->setVisible(state->gitHubTokensUnsaved());
}

void StatusPageView::renderLocalSecurity() {
    const AppState *state = m_context.appState;
    const bool helper = state->helperRunning();
    m_helperRow->setState(helper ? "Running" : "Not installed (Phase 2)", helper);
    const bool extension = state->extensionActive();
    m_extensionRow->setState(extension ? "Active" : "Not installed (Phase 3)", extension);
    const bool signature = state->signatureValid();
    m_signatureRow->setState(signature ? "Valid" : "Not available (Phase 2)", signature);
}

void StatusPageView::renderTeam() {
    const QList<TeamMember> members = m_context.appState->teamMembers();
    m_noMembers->setVisible(members.isEmpty());
    m_counts->setVisible(!members.isEmpty());

    // Managers (cto) count in no figure here.
    int admins = 0, staff = 0, freelancers = 0;
    for (const TeamMember &member : members) {
        admins += member.role == MachineRole::ceo;
        staff += member.role == MachineRole::staff;
        freelancers += member.role == MachineRole::freelancer;
    }
    m_adminCount->setText(QString::number(admins) + " admin");
    m_staffCount->setText(QString::number(staff) + " staff");
    m_freelancerCount->setText(QString::number(freelancers) + " freelancer");
    m_freelancers->setVisible(freelancers > 0);
}

void StatusPageView::renderLastCheck() {
    const auto last = m_context.appState->lastHeartbeat();
    m_lastCheck->setText(last ? "Last check: " + LocaleFormat::standardTime(*last)
                              : QString("No health check run yet"));
}
