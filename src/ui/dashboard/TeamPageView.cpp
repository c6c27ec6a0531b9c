#include "TeamPageView.h"

#include "AppState.h"
#include "GitHubService.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TeamPageView::TeamPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName("teamPage");
    auto *page = Widgets::pageLayout(this);

    auto *header = new QHBoxLayout;
    header->addWidget(Widgets::title("Team Members", this));
    header->addStretch(1);
    auto *refresh = Widgets::smallButton("Refresh", "refreshButton", "arrow.clockwise", this);
    connect(refresh, &QPushButton::clicked, this,
            [context = m_context] { startHealthCheck(context); });
    header->addWidget(refresh);
    page->addLayout(header);

    m_emptyState = createEmptyState();
    page->addWidget(m_emptyState);

    m_memberList = new QWidget(this);
    m_memberList->setObjectName("memberList");
    m_memberRows = new QVBoxLayout(m_memberList);
    m_memberRows->setContentsMargins(0, 0, 0, 0);
    m_memberRows->setSpacing(0);
    page->addWidget(m_memberList);
    page->addStretch(1);

    AppState *state = m_context.appState;
    connect(state, &AppState::teamMembersChanged, this, &TeamPageView::render);
    // "(you)" follows the signed-in login.
    connect(state, &AppState::gitHubUsernameChanged, this, &TeamPageView::render);
    connect(state, &AppState::selectedOrgChanged, this, &TeamPageView::renderLink);
    render();
    renderLink();
}

TeamPageView::RolePresentation TeamPageView::presentation(MachineRole role) {
    switch (role) {
    case MachineRole::ceo:
        return {"Admin", "shield.fill", Style::color(Style::Color::green)};
    case MachineRole::cto:
        return {"Manager", "shield.lefthalf.filled", Style::color(Style::Color::blue)};
    case MachineRole::staff:
        return {"Staff", "person.fill", Style::color(Style::Color::label)};
    case MachineRole::freelancer:
        return {"Freelancer", "person.badge.clock", Style::color(Style::Color::orange)};
    }
    return {"Staff", "person.fill", Style::color(Style::Color::label)};
}

QString TeamPageView::summary(const QList<TeamMember> &members) {
    int admins = 0, staff = 0, freelancers = 0;
    for (const TeamMember &member : members) {
        admins += member.role == MachineRole::ceo;
        staff += member.role == MachineRole::staff;
        freelancers += member.role == MachineRole::freelancer;
    }
    QString text = QString::number(members.size()) + " members";
    const auto part = [&text](int count, const char *word) {
        if (count > 0)
            text += QString(" \u00B7 ") + QString::number(count) + word;
    };
    part(admins, " admin");
    part(staff, " staff");
    part(freelancers, " freelancer");
    return text;
}

QWidget *TeamPageView::createEmptyState() {
    auto *empty = new QWidget(this);
    empty->setObjectName("teamEmptyState");
    auto *stack = new QVBoxLayout(empty);
    stack->setContentsMargins(40, 40, 40, 40);
    stack->setSpacing(12);
    stack->addWidget(
        new Widgets::SymbolView("person.3", Style::color(Style::Color::secondaryLabel), 48, empty),
        0, Qt::AlignHCenter);
    auto *headline = Widgets::text("No team members yet", Style::TextStyle::headline,
                                   Style::Color::secondaryLabel, empty);
    headline->setAlignment(Qt::AlignCenter);
    stack->addWidget(headline);
    auto *hint = Widgets::text("Add collaborators to your ops repo on GitHub to see them here.",
                               Style::TextStyle::caption, Style::Color::secondaryLabel, empty);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    stack->addWidget(hint);
    m_manageLink = Widgets::link("Manage collaborators on GitHub \u2192", "manageCollaboratorsLink",
                                 Style::TextStyle::caption, empty);
    connect(m_manageLink, &QPushButton::clicked, this, &TeamPageView::openAccessSettings);
    stack->addWidget(m_manageLink, 0, Qt::AlignHCenter);
    return empty;
}

QWidget *TeamPageView::createMemberRow(const TeamMember &member, QWidget *parent) {
    const RolePresentation role = presentation(member.role);
    auto *row = new QWidget(parent);
    row->setObjectName("memberRow");
    row->setProperty("gitHubUsername", member.gitHubUsername);
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(0, 10, 0, 10);
    line->setSpacing(12);

    auto *symbol = new Widgets::SymbolView(role.symbol, role.color,
                                           Widgets::symbolSize(Style::TextStyle::body), row);
    symbol->setFixedWidth(20);
    line->addWidget(symbol);

    auto *names = new QVBoxLayout;
    names->setSpacing(2);
    auto *loginLine = new QHBoxLayout;
    auto *login = new QLabel(member.gitHubUsername, row);
    login->setObjectName("memberLogin");
    login->setFont(Style::font(Style::TextStyle::body, QFont::Medium));
    login->setTextFormat(Qt::PlainText);
    loginLine->addWidget(login);
    if (member.gitHubUsername == m_context.appState->gitHubUsername()) {
        auto *you =
            Widgets::text("(you)", Style::TextStyle::caption, Style::Color::secondaryLabel, row);
        you->setObjectName("memberYou");
        loginLine->addWidget(you);
    }
    loginLine->addStretch(1);
    names->addLayout(loginLine);
    if (member.machineName) {
        auto *machine = Widgets::text(*member.machineName, Style::TextStyle::caption,
                                      Style::Color::secondaryLabel, row);
        machine->setObjectName("memberMachine");
        machine->setTextFormat(Qt::PlainText);
        names->addWidget(machine);
    }
    line->addLayout(names, 1);

    QColor fill = role.color;
    fill.setAlphaF(0.15);
    auto *badge = new Widgets::CapsuleLabel(role.badge, role.color, fill, row);
    badge->setObjectName("memberBadge");
    badge->setFont(Style::font(Style::TextStyle::caption2, QFont::Medium));
    badge->setContentsMargins(8, 3, 8, 3);
    line->addWidget(badge);
    return row;
}

void TeamPageView::render() {
    const QList<TeamMember> members = m_context.appState->teamMembers();
    m_emptyState->setVisible(members.isEmpty());
    m_memberList->setVisible(!members.isEmpty());

    Widgets::clearLayout(m_memberRows);
    if (members.isEmpty())
        return;
    for (const TeamMember &member : members) {
        m_memberRows->addWidget(createMemberRow(member, m_memberList));
        m_memberRows->addWidget(Widgets::divider(m_memberList));
    }
    auto *summaryLabel = Widgets::text(summary(members), Style::TextStyle::caption,
                                       Style::Color::secondaryLabel, m_memberList);
    summaryLabel->setObjectName("teamSummary");
    summaryLabel->setContentsMargins(0, 12, 0, 0);
    m_memberRows->addWidget(summaryLabel);
}

void TeamPageView::renderLink() {
    m_manageLink->setVisible(m_context.appState->selectedOrg().has_value());
}

void TeamPageView::openAccessSettings() {
    const auto org = m_context.appState->selectedOrg();
    if (!org || !m_context.gitHub)
        return;
    Widgets::openInBrowser(
        m_context.gitHub->repositoryAccessPageUrl(org->login, m_context.appState->repoName()));
}
