#include "SecurityPageView.h"

#include "AppState.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int labelWidth = 100;

Widgets::StatusRow *statusRow(const QString &label, const QString &objectName, QWidget *parent) {
    auto *row = new Widgets::StatusRow(label, labelWidth, Style::TextStyle::body,
                                       Widgets::StatusRow::ValueColoring::alwaysSecondary, parent);
    row->setObjectName(objectName);
    return row;
}

Widgets::GroupBox *groupBox(const QString &title, const QString &objectName, QWidget *parent) {
    auto *box = new Widgets::GroupBox(
        Widgets::text(title, Style::TextStyle::body, Style::Color::label), parent);
    box->setObjectName(objectName);
    return box;
}
} // namespace

SecurityPageView::SecurityPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName("securityPage");
    auto *page = Widgets::pageLayout(this);
    page->addWidget(Widgets::title("Local Security", this));
    page->addWidget(createHelperBox());
    page->addWidget(createExtensionBox());
    page->addWidget(createSignatureBox());
    page->addStretch(1);

    AppState *state = m_context.appState;
    for (auto signal : {&AppState::helperRunningChanged, &AppState::extensionActiveChanged,
                        &AppState::signatureValidChanged})
        connect(state, signal, this, &SecurityPageView::render);
    render();
}

QStringList SecurityPageView::protectedFiles() {
    return {"managed-settings.json", "CLAUDE.md", "load-core.sh", "keelmark.sig"};
}

QWidget *SecurityPageView::createHelperBox() {
    auto *box = groupBox("Privileged Helper", "helperBox", this);
    m_helperStatus = statusRow("Status", "helperStatusRow", box);
    m_watchdog = statusRow("Watchdog", "watchdogRow", box);
    box->contentLayout()->addWidget(m_helperStatus);
    box->contentLayout()->addWidget(m_watchdog);
    return box;
}

QWidget *SecurityPageView::createExtensionBox() {
    auto *box = groupBox("Endpoint Security Extension", "extensionBox", this);
    auto *content = box->contentLayout();
    content->setContentsMargins(14, 14, 14, 14);
    m_extensionStatus = statusRow("Status", "extensionStatusRow", box);
    content->addWidget(m_extensionStatus);

    m_protectedFiles = new QWidget(box);
    m_protectedFiles->setObjectName("protectedFiles");
    auto *files = new QVBoxLayout(m_protectedFiles);
    files->setContentsMargins(0, 0, 0, 0);
    files->setSpacing(8);
    files->addWidget(Widgets::text("Protected files:", Style::TextStyle::caption,
                                   Style::Color::secondaryLabel, m_protectedFiles));
    const QColor green = Style::color(Style::Color::green);
    for (const QString &file : protectedFiles()) {
        auto *line = Widgets::symbolText("checkmark.circle.fill", file, Style::TextStyle::caption,
                                         green, "protectedFile", m_protectedFiles);
        line->setContentsMargins(8, 0, 0, 0);
        files->addWidget(line);
    }
    content->addWidget(m_protectedFiles);
    return box;
}

QWidget *SecurityPageView::createSignatureBox() {
    auto *box = groupBox("Signature", "signatureBox", this);
    m_signatureStatus = statusRow("Status", "signatureStatusRow", box);
    box->contentLayout()->addWidget(m_signatureStatus);
    // Verification and re-signing belong to components this app does not
    // ship; the buttons are shown but do nothing.
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(Widgets::smallButton("Verify Now", "verifyNowButton", {}, box));
    buttons->addWidget(Widgets::smallButton("Re-sign Files", "reSignFilesButton", {}, box));
    buttons->addStretch(1);
    box->contentLayout()->addLayout(buttons);
    return box;
}

void SecurityPageView::render() {
    const AppState *state = m_context.appState;
    const bool helper = state->helperRunning();
    m_helperStatus->setState(helper ? "Running as root" : "Not installed (Phase 2)", helper);
    m_watchdog->setState(helper ? "every 5 min" : "Not active", helper);
    const bool extension = state->extensionActive();
    m_extensionStatus->setState(extension ? "Active" : "Not active", extension);
    m_protectedFiles->setVisible(extension);
    const bool signature = state->signatureValid();
    m_signatureStatus->setState(signature ? "Valid" : "Not verified", signature);
}
