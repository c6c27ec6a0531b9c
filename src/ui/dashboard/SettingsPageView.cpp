#include "SettingsPageView.h"

#include "AccountActions.h"
#include "AppState.h"
#include "BuildConfig.h"
#include "ShellCommands.h"
#include "UpdateCheckDialog.h"
#include "Widgets.h"

#include <QCheckBox>
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
    page->addWidget(createStartupBox());

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
    auto *checkForUpdates =
        Widgets::button("Check for updates", "checkForUpdatesButton", Style::TextStyle::caption);
    connect(checkForUpdates, &QPushButton::clicked, this, &SettingsPageView::checkForUpdates);
    about->contentLayout()->addWidget(checkForUpdates);
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

QWidget *SettingsPageView::createStartupBox() {
    auto *box = groupBox(boxTitle("Startup"), "startupBox", this);
    m_startAtLogin = Widgets::checkBox("Start KeelMark at login", "startAtLoginSwitch",
                                       Style::TextStyle::body, box);
    box->contentLayout()->addWidget(m_startAtLogin);
    m_startAtLoginError =
        Widgets::text(QString(), Style::TextStyle::caption, Style::Color::red, box);
    m_startAtLoginError->setObjectName("startAtLoginError");
    m_startAtLoginError->setWordWrap(true);
    m_startAtLoginError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_startAtLoginError->hide();
    box->contentLayout()->addWidget(m_startAtLoginError);
    // Without a shell (some tests) there is nothing to switch.
    box->setVisible(m_context.shell != nullptr);
    if (m_context.shell)
        m_startAtLogin->setChecked(m_context.shell->startsAtLogin());
    connect(m_startAtLogin, &QCheckBox::toggled, this, &SettingsPageView::setStartsAtLogin);
    return box;
}

void SettingsPageView::setStartsAtLogin(bool on) {
    QString error;
    const bool done = m_context.shell->setStartsAtLogin(on, &error);
    // The switch says what the desktop holds, not what was asked for.
    const QSignalBlocker quiet(m_startAtLogin);
    m_startAtLogin->setChecked(m_context.shell->startsAtLogin());
    m_startAtLoginError->setText(
        done ? QString()
             : (on ? QStringLiteral("KeelMark could not be set to start at login: ")
                   : QStringLiteral("KeelMark could not stop starting at login: ")) +
                   error);
    m_startAtLoginError->setVisible(!done);
}

void SettingsPageView::showEvent(QShowEvent *event) {
    // The entry may have been changed outside KeelMark since the page was made.
    if (m_context.shell) {
        const QSignalBlocker quiet(m_startAtLogin);
        m_startAtLogin->setChecked(m_context.shell->startsAtLogin());
    }
    QWidget::showEvent(event);
}

void SettingsPageView::checkForUpdates() {
    if (!m_updateDialog) {
        m_updateDialog =
            new UpdateCheckDialog(m_context.gitHub, QLatin1String(BuildConfig::updateRepository),
                                  QLatin1String(BuildConfig::version), this);
        m_updateDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_updateDialog->show();
    m_updateDialog->raise();
    m_updateDialog->activateWindow();
    m_updateDialog->check();
}
