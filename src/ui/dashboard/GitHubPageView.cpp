#include "GitHubPageView.h"

#include "AccountActions.h"
#include "AppState.h"
#include "ReconnectAction.h"
#include "RestoreFilesAction.h"
#include "RestoreProtectionAction.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int pathWidth = 160;

// "Account:" in the secondary colour, then the value.
QWidget *keyValueLine(const QString &key, QLabel **value, const QString &objectName,
                      QWidget *parent) {
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(Widgets::text(key, Style::TextStyle::body, Style::Color::secondaryLabel, line));
    *value = Widgets::text(QString(), Style::TextStyle::body, Style::Color::label, line);
    (*value)->setObjectName(objectName);
    (*value)->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(*value);
    row->addStretch(1);
    return line;
}

QWidget *checkPair(const QString &first, const QString &second, QWidget *parent) {
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(24);
    const QColor green = Style::color(Style::Color::green);
    for (const QString &text : {first, second})
        row->addWidget(Widgets::symbolText("checkmark.circle.fill", text, Style::TextStyle::caption,
                                           green, {}, line));
    row->addStretch(1);
    return line;
}
} // namespace

GitHubPageView::GitHubPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_accountActions(new AccountActions(context, this)) {
    setObjectName("gitHubPage");
    auto *page = Widgets::pageLayout(this);
    page->addWidget(Widgets::title("GitHub Connection", this));
    page->addWidget(createConnectionBlock());
    page->addWidget(Widgets::divider(this));
    page->addWidget(Widgets::heading("CODEOWNERS", false, this));
    page->addWidget(createOwnershipBlock());
    page->addWidget(Widgets::divider(this));
    page->addWidget(Widgets::heading("Branch Protection", false, this));
    page->addWidget(createProtectionBlock());
    page->addStretch(1);

    auto *disconnect = Widgets::button("Disconnect GitHub", "disconnectGitHubButton",
                                       Style::TextStyle::caption, Style::Color::red, this);
    connect(disconnect, &QPushButton::clicked, m_accountActions,
            &AccountActions::disconnectAccount);
    connect(m_accountActions, &AccountActions::busy, disconnect, [disconnect](const QString &text) {
        disconnect->setEnabled(text.isEmpty());
        disconnect->setText(text.isEmpty() ? QStringLiteral("Disconnect GitHub") : text);
    });
    page->addWidget(disconnect);

    AppState *state = m_context.appState;
    for (auto signal : {&AppState::gitHubUsernameChanged, &AppState::selectedOrgChanged,
                        &AppState::repoNameChanged})
        connect(state, signal, this, &GitHubPageView::renderConnection);
    connect(state, &AppState::gitHubUsernameChanged, this, &GitHubPageView::renderOwners);
    for (auto signal : {&AppState::branchProtectionEnabledChanged,
                        &AppState::protectionFindingsChanged, &AppState::fileFindingsChanged})
        connect(state, signal, this, &GitHubPageView::renderProtection);
    renderConnection();
    renderOwners();
    renderProtection();
}

QStringList GitHubPageView::governedPaths() {
    return {"/.claude/", "/CLAUDE.md", "/.github/", "/.mcp.json", "/CODEOWNERS"};
}

QWidget *GitHubPageView::createConnectionBlock() {
    auto *block = new QWidget(this);
    auto *lines = new QVBoxLayout(block);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(8);
    lines->addWidget(keyValueLine("Account:", &m_account, "accountValue", block));
    m_orgLine = keyValueLine("Org:", &m_org, "orgValue", block);
    lines->addWidget(m_orgLine);
    m_repoLine = keyValueLine("Repo:", &m_repo, "repoValue", block);
    lines->addWidget(m_repoLine);
    // The account above is the one GitHub may have stopped accepting.
    lines->addWidget(new ReconnectAction(m_context, block));
    return block;
}

QWidget *GitHubPageView::createOwnershipBlock() {
    auto *block =
        new Widgets::RoundedBox(Style::color(Style::Color::secondaryLabel, 0.10), 8, this);
    block->setObjectName("codeownersBlock");
    auto *lines = new QVBoxLayout(block);
    lines->setContentsMargins(12, 12, 12, 12);
    lines->setSpacing(4);
    for (const QString &path : governedPaths()) {
        auto *row = new QHBoxLayout;
        auto *pathLabel =
            Widgets::text(path, Style::TextStyle::monospacedCaption, Style::Color::label, block);
        pathLabel->setFixedWidth(pathWidth);
        row->addWidget(pathLabel);
        auto *owner = Widgets::text(QString(), Style::TextStyle::monospacedCaption,
                                    Style::Color::secondaryLabel, block);
        owner->setObjectName("codeownersOwner");
        row->addWidget(owner);
        row->addStretch(1);
        lines->addLayout(row);
        m_owners.append(owner);
    }
    block->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return block;
}

QWidget *GitHubPageView::createProtectionBlock() {
    auto *block = new QWidget(this);
    auto *lines = new QVBoxLayout(block);
    lines->setContentsMargins(0, 0, 0, 0);

    m_protected = new QWidget(block);
    m_protected->setObjectName("protectionEnabled");
    auto *pairs = new QVBoxLayout(m_protected);
    pairs->setContentsMargins(0, 0, 0, 0);
    pairs->addWidget(checkPair("Required reviews", "CODEOWNERS", m_protected));
    pairs->addWidget(checkPair("No force push", "No delete", m_protected));
    lines->addWidget(m_protected);

    m_notProtected = Widgets::symbolText("xmark.circle", "Not enabled", Style::TextStyle::caption,
                                         Style::color(Style::Color::secondaryLabel),
                                         "protectionNotEnabled", block);
    lines->addWidget(m_notProtected);
    // What the last check found weakened or changed, in its own words.
    m_findings = Widgets::text("", Style::TextStyle::caption, Style::Color::red, block);
    m_findings->setObjectName("governanceFindings");
    m_findings->setWordWrap(true);
    lines->addWidget(m_findings);
    lines->addWidget(new RestoreProtectionAction(m_context, block));
    lines->addWidget(new RestoreFilesAction(m_context, block));
    return block;
}

void GitHubPageView::renderConnection() {
    const AppState *state = m_context.appState;
    m_account->setText("@" + state->gitHubUsername());
    const auto org = state->selectedOrg();
    m_orgLine->setVisible(org.has_value());
    m_repoLine->setVisible(org.has_value());
    if (org) {
        m_org->setText(org->login);
        m_repo->setText(org->login + "/" + state->repoName());
    }
}

void GitHubPageView::renderOwners() {
    const QString owner = "@" + m_context.appState->gitHubUsername();
    for (QLabel *label : std::as_const(m_owners))
        label->setText(owner);
}

void GitHubPageView::renderProtection() {
    const bool enabled = m_context.appState->branchProtectionEnabled();
    m_protected->setVisible(enabled);
    m_notProtected->setVisible(!enabled);
    const AppState *state = m_context.appState;
    QStringList findings = state->protectionFindings();
    if (state->fileFindings() != QStringList{"Governance files match what you approved"})
        findings += state->fileFindings();
    m_findings->setText(findings.join('\n'));
    m_findings->setVisible(!findings.isEmpty());
}
