#include "SettingsPageView.h"

#include "AppState.h"
#include "PageWidgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
DashboardGroupBox *groupBox(QWidget *title, const QString &objectName, QWidget *parent) {
    auto *box = new DashboardGroupBox(title, parent);
    box->setObjectName(objectName);
    box->contentLayout()->setContentsMargins(14, 14, 14, 14);
    return box;
}

QLabel *boxTitle(const QString &text) {
    return PageWidgets::text(text, Style::TextStyle::body, Style::Color::label);
}
} // namespace

SettingsPageView::SettingsPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName("settingsPage");
    auto *page = PageWidgets::pageLayout(this);
    page->addWidget(PageWidgets::title("Settings", this));
    page->addWidget(createGitHubBox());

    auto *authority = groupBox(boxTitle("Authority"), "authorityBox", this);
    authority->contentLayout()->addWidget(PageWidgets::button(
        "Transfer authority \u2192", "transferAuthorityButton", Style::TextStyle::body));
    page->addWidget(authority);

    auto *about = groupBox(boxTitle("About"), "aboutBox", this);
    auto *version =
        PageWidgets::text("KeelMark v1.0.0", Style::TextStyle::body, Style::Color::label);
    version->setObjectName("versionLabel");
    about->contentLayout()->addWidget(version);
    about->contentLayout()->addWidget(PageWidgets::button(
        "Check for updates", "checkForUpdatesButton", Style::TextStyle::caption));
    page->addWidget(about);

    const QColor red = Style::color(Style::Color::red);
    auto *danger = groupBox(PageWidgets::symbolText("exclamationmark.triangle", "Danger Zone",
                                                    Style::TextStyle::body, red, "dangerZoneTitle"),
                            "dangerZoneBox", this);
    danger->contentLayout()->addWidget(PageWidgets::button(
        "Uninstall KeelMark", "uninstallButton", Style::TextStyle::body, Style::Color::red));
    page->addWidget(danger);
    page->addStretch(1);

    connect(m_context.appState, &AppState::gitHubUsernameChanged, this, &SettingsPageView::render);
    render();
}

QWidget *SettingsPageView::createGitHubBox() {
    auto *box = groupBox(boxTitle("GitHub"), "gitHubBox", this);
    auto *account = new QHBoxLayout;
    account->addWidget(
        PageWidgets::text("Connected:", Style::TextStyle::body, Style::Color::secondaryLabel));
    m_account = PageWidgets::text(QString(), Style::TextStyle::body, Style::Color::label);
    m_account->setObjectName("connectedAccount");
    m_account->setTextInteractionFlags(Qt::TextSelectableByMouse);
    account->addWidget(m_account);
    account->addStretch(1);
    box->contentLayout()->addLayout(account);
    box->contentLayout()->addWidget(PageWidgets::button(
        "Disconnect", "disconnectButton", Style::TextStyle::caption, Style::Color::red));
    return box;
}

void SettingsPageView::render() {
    m_account->setText("@" + m_context.appState->gitHubUsername());
}
