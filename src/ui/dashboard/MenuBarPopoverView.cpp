#include "MenuBarPopoverView.h"

#include "AppState.h"
#include "BuildConfig.h"
#include "Icons.h"
#include "ReconnectAction.h"
#include "Style.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton *commandButton(const QString &symbol, const QString &text, const QString &name,
                           QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFont(Style::font(Style::TextStyle::body));
    const int size = Widgets::symbolSize(Style::TextStyle::body);
    button->setIcon(Icons::icon(symbol, Style::color(Style::Color::label), size));
    button->setIconSize(QSize(size, size));
    Style::styleButton(button, Style::ButtonStyle::plain);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

} // namespace

MenuBarPopoverView::MenuBarPopoverView(const UiContext &context,
                                       std::function<void()> onOpenSettings,
                                       std::function<void()> onQuit, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("menuBarPopover"));
    setFixedWidth(width);
    // Taller only while it has more to say (a lost sign-in).
    setMinimumHeight(height);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    m_dot = new Widgets::Dot(Style::color(Style::Color::gray), 10, this);
    m_dot->setObjectName(QStringLiteral("popoverStatusDot"));
    m_dot->setAccessibleName(QStringLiteral("Machine status"));
    m_statusLabel = Widgets::text(QString(), Style::TextStyle::headline);
    m_statusLabel->setObjectName(QStringLiteral("popoverStatusLabel"));
    QLabel *version = Widgets::text(QStringLiteral("v") + QLatin1String(BuildConfig::version),
                                    Style::TextStyle::caption, Style::Color::secondaryLabel);
    version->setObjectName(QStringLiteral("popoverVersion"));
    header->addWidget(m_dot, 0, Qt::AlignVCenter);
    header->addWidget(m_statusLabel, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(version, 0, Qt::AlignVCenter);
    column->addLayout(header);

    column->addWidget(Style::divider(Qt::Horizontal, this));

    m_repoRow = new QWidget(this);
    m_repoRow->setObjectName(QStringLiteral("popoverRepoRow"));
    auto *repo = new QHBoxLayout(m_repoRow);
    repo->setContentsMargins(0, 0, 0, 0);
    repo->setSpacing(4);
    repo->addWidget(Widgets::text(QStringLiteral("Repo:"), Style::TextStyle::caption,
                                  Style::Color::secondaryLabel, m_repoRow));
    m_repoText =
        Widgets::text(QString(), Style::TextStyle::caption, Style::Color::label, m_repoRow);
    m_repoText->setObjectName(QStringLiteral("popoverRepoText"));
    repo->addWidget(m_repoText, 1);
    column->addWidget(m_repoRow);
    column->addWidget(new ReconnectAction(m_context, this));
    column->addWidget(Style::divider(Qt::Horizontal, this));

    auto *open = commandButton(QStringLiteral("gear"), QStringLiteral("Open Settings"),
                               QStringLiteral("popoverOpenSettingsButton"), this);
    auto *quit = commandButton(QStringLiteral("power"), QStringLiteral("Quit KeelMark"),
                               QStringLiteral("popoverQuitButton"), this);
    connect(open, &QPushButton::clicked, this, [action = std::move(onOpenSettings)] {
        if (action)
            action();
    });
    connect(quit, &QPushButton::clicked, this, [action = std::move(onQuit)] {
        if (action)
            action();
    });
    column->addWidget(open);
    column->addWidget(quit);
    column->addStretch(1);

    if (AppState *state = m_context.appState) {
        connect(state, &AppState::machineStatusChanged, this, &MenuBarPopoverView::render);
        connect(state, &AppState::selectedOrgChanged, this, &MenuBarPopoverView::render);
        connect(state, &AppState::repoNameChanged, this, &MenuBarPopoverView::render);
    }
    render();
}

void MenuBarPopoverView::render() {
    AppState *state = m_context.appState;
    if (!state)
        return;
    m_dot->setColor(Style::statusColor(state->statusTone()));
    m_dot->setAccessibleDescription(state->statusLabel());
    m_statusLabel->setText(state->statusLabel());
    const std::optional<GitHubOrg> org = state->selectedOrg();
    m_repoRow->setVisible(org.has_value());
    if (org)
        m_repoText->setText(org->login + QLatin1Char('/') + state->repoName());
}
