#include "SettingsPageView.h"

#include "AccountActions.h"
#include "AppState.h"
#include "BuildConfig.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
Widgets::GroupBox *groupBox(QWidget *title, const QString &objectName, QWidget *parent) {
    auto *box = new Widgets::GroupBox(title, parent);
    box->setObjectName(objectName);
    box->contentLayout()->setContentsMargins(14, 14, 14, 14);
    return box;
}

QLabel *boxTitle(const QString &text) {
    return Widgets::text(text, Style::TextStyle::body, Style::Color::label);
}
} // namespace

SettingsPageView::SettingsPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_accountActions(new AccountActions(context, this)) {
    setObjectName("settingsPage");
    auto *page = Widgets::pageLayout(this);
    page->addWidget(Widgets::title("Settings", this));
    page->addWidget(createGitHubBox());

    auto *authority = groupBox(boxTitle("Authority"), "authorityBox", this);
    authority->contentLayout()->addWidget(Widgets::button(
        "Transfer authority \u2192", "transferAuthorityButton", Style::TextStyle::body));
    page->addWidget(authority);

    auto *about = groupBox(boxTitle("About"), "aboutBox", this);
    auto *version =
        Widgets::text(QStringLiteral("KeelMark v") + QLatin1String(BuildConfig::version),
                      Style::TextStyle::body, Style::Color::label);
    version->setObjectName("versionLabel");
    about->contentLayout()->addWidget(version);
    about->contentLayout()->addWidget(
        Widgets::button("Check for updates", "checkForUpdatesButton", Style::TextStyle::caption));
    page->addWidget(about);

    const QColor red = Style::color(Style::Color::red);
    auto *danger = groupBox(Widgets::symbolText("exclamationmark.triangle", "Danger Zone",
                                                Style::TextStyle::body, red, "dangerZoneTitle"),
                            "dangerZoneBox", this);
    danger->contentLayout()->addWidget(createUninstall());
    page->addWidget(danger);
    page->addStretch(1);

    connect(m_context.appState, &AppState::gitHubUsernameChanged, this, &SettingsPageView::render);
    render();
}

QWidget *SettingsPageView::createGitHubBox() {
    auto *box = groupBox(boxTitle("GitHub"), "gitHubBox", this);
    auto *account = new QHBoxLayout;
    account->addWidget(
        Widgets::text("Connected:", Style::TextStyle::body, Style::Color::secondaryLabel));
    m_account = Widgets::text(QString(), Style::TextStyle::body, Style::Color::label);
    m_account->setObjectName("connectedAccount");
    m_account->setTextInteractionFlags(Qt::TextSelectableByMouse);
    account->addWidget(m_account);
    account->addStretch(1);
    box->contentLayout()->addLayout(account);
    auto *disconnect = Widgets::button("Disconnect", "disconnectButton", Style::TextStyle::caption,
                                       Style::Color::red);
    connect(disconnect, &QPushButton::clicked, m_accountActions,
            &AccountActions::disconnectAccount);
    connect(m_accountActions, &AccountActions::busy, disconnect,
            [disconnect](const QString &text) { disconnect->setEnabled(text.isEmpty()); });
    box->contentLayout()->addWidget(disconnect);
    return box;
}

QWidget *SettingsPageView::createUninstall() {
    auto *block = new QWidget(this);
    auto *lines = new QVBoxLayout(block);
    lines->setContentsMargins(0, 0, 0, 0);
    auto *button = Widgets::button("Uninstall KeelMark", "uninstallButton", Style::TextStyle::body,
                                   Style::Color::red);
    lines->addWidget(button);
    auto *message = Widgets::text(QString(), Style::TextStyle::caption, Style::Color::red, block);
    message->setObjectName("uninstallMessage");
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->hide();
    lines->addWidget(message);
    connect(button, &QPushButton::clicked, m_accountActions, [this, message] {
        message->hide();
        m_accountActions->uninstall();
    });
    connect(m_accountActions, &AccountActions::busy, button, [button](const QString &text) {
        button->setEnabled(text.isEmpty());
        button->setText(text.startsWith(QStringLiteral("Uninstall"))
                            ? text
                            : QStringLiteral("Uninstall KeelMark"));
    });
    connect(m_accountActions, &AccountActions::failed, message, [message](const QString &text) {
        message->setText(text);
        message->show();
    });
    return block;
}

void SettingsPageView::render() {
    m_account->setText("@" + m_context.appState->gitHubUsername());
}
