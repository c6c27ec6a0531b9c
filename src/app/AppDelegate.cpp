#include "AppDelegate.h"

#include "AppState.h"
#include "AuditObserver.h"
#include "DiagnosticLog.h"
#include "GitHubService.h"
#include "HealthCheckService.h"
#include "Icons.h"
#include "MainWindowView.h"
#include "MenuBarPopoverView.h"
#include "PopoverWindow.h"
#include "SettingsWindow.h"
#include "SettingsWindowRoot.h"
#include "StatusNotifications.h"
#include "Style.h"
#include "Widgets.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLoggingCategory>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcApp, "keelmark.app")

namespace {

constexpr int windowWidth = 800;
constexpr int windowHeight = 600;

QString yesNo(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Without a tray there is no popover, so the window itself has to say why
// and offer the way out the popover would.
QWidget *trayUnavailableNotice(QWidget *parent) {
    auto *notice = new QWidget(parent);
    notice->setObjectName(QStringLiteral("trayUnavailableNotice"));
    notice->setAutoFillBackground(true);
    QPalette palette = notice->palette();
    palette.setColor(QPalette::Window, Style::color(Style::Color::gray, 0.18));
    notice->setPalette(palette);
    auto *row = new QHBoxLayout(notice);
    row->setContentsMargins(16, 6, 16, 6);
    auto *text = Widgets::wrappedText(
        QStringLiteral("The tray icon is unavailable on this desktop. KeelMark keeps running when "
                       "you close this window; start it again to bring the window back."),
        Style::TextStyle::caption, Style::Color::secondaryLabel, 560, Qt::AlignLeft, notice);
    text->setObjectName(QStringLiteral("trayUnavailableText"));
    row->addWidget(text);
    row->addStretch(1);
    auto *quit = new QPushButton(QStringLiteral("Quit KeelMark"), notice);
    quit->setObjectName(QStringLiteral("trayUnavailableQuitButton"));
    quit->setFont(Style::font(Style::TextStyle::caption));
    Style::styleButton(quit, Style::ButtonStyle::bordered, Style::ControlSize::small);
    quit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QObject::connect(quit, &QPushButton::clicked, [] { QCoreApplication::exit(0); });
    row->addWidget(quit, 0, Qt::AlignVCenter);
    return notice;
}

} // namespace

AppDelegate::AppDelegate(const UiContext &context, DiagnosticLog log, QObject *parent)
    : AppDelegate(context, std::move(log), Options{}, parent) {}

AppDelegate::AppDelegate(const UiContext &context, DiagnosticLog log, Options options,
                         QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_log(std::move(log))
    , m_options(std::move(options)) {
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (m_context.gitHub && m_context.appState) {
        connect(m_context.gitHub, &GitHubService::tokensUnsavedChanged, m_context.appState,
                &AppState::setGitHubTokensUnsaved);
        connect(m_context.gitHub, &GitHubService::reconnectFinished, this, [this](bool succeeded) {
            // The beat restarts with a check at once, so the status
            // follows the renewed sign-in without waiting a minute.
            if (succeeded && m_context.health && m_context.appState->setupComplete())
                m_context.health->startHeartbeat(m_context.appState);
        });
    }
    // Before any window or notification exists, so events are on disk
    // before anything shows them.
    if (m_context.appState)
        m_auditObserver =
            new AuditObserver(m_context.appState, m_context.gitHub, m_context.audit, this);
    if (m_context.health)
        m_context.health->setAuditRecorder(m_context.audit);
}

AppDelegate::~AppDelegate() {
    // Top-level widgets have no parent to delete them.
    delete m_popover;
    delete m_settingsWindow;
    delete m_trayMenu;
}

void AppDelegate::applicationDidFinishLaunching() {
    m_trayAvailable = m_options.trayAvailable();
    setupStatusItem();
    setupPopover();
    setupNotifications();
    writeLaunchLines();

    AppState *state = m_context.appState;
    if (!state->setupComplete()) {
        QTimer::singleShot(m_options.firstRunWindowDelay, this, &AppDelegate::openSettingsWindow);
    } else if (!m_trayAvailable) {
        // Without a tray icon a set-up machine would have no visible trace
        // at all; the window is the only way in.
        openSettingsWindow();
    }
    finishLaunch();
}

QCoro::Task<> AppDelegate::finishLaunch() {
    const QPointer<AppDelegate> self(this);
    QPointer<GitHubService> gitHub(m_context.gitHub);
    m_launching = true;
    // Tokens come back whenever they are stored, also mid-wizard: a restart
    // after sign-in must not leave a "connected" screen with no token.
    if (gitHub)
        co_await gitHub->restoreFromKeychain();
    if (!self)
        co_return;
    m_launching = false;

    AppState *state = m_context.appState;
    if (state->setupComplete()) {
        if (const std::optional<GitHubOrg> org = state->selectedOrg(); org && gitHub)
            gitHub->setApprovedOrg(org->login);
        if (m_context.health)
            m_context.health->startHeartbeat(state);
    }
    emit launchFinished();
}

void AppDelegate::writeLaunchLines() {
    AppState *state = m_context.appState;
    const std::optional<GitHubOrg> org = state->selectedOrg();
    m_log.appendToTempLog(DiagnosticLog::timestampedLine(
        QStringLiteral("Launch: setupComplete=%1, org=%2, repo=%3")
            .arg(yesNo(state->setupComplete()), org ? org->login : QStringLiteral("nil"),
                 state->repoName())));
    DiagnosticLog::appendLine(
        DiagnosticLog::appLogPath(state->appDirectory()),
        DiagnosticLog::timestampedLine(
            QStringLiteral("AppDelegate: setupComplete=%1").arg(yesNo(state->setupComplete()))));
}

void AppDelegate::setupStatusItem() {
    if (!m_trayAvailable) {
        qCInfo(lcApp) << "no system tray on this desktop; the window stays the way in";
        m_options.windowTitle = QStringLiteral("KeelMark — tray icon unavailable");
        // The icon is still made: a tray that starts later (an extension
        // switched on) docks it.
    }
    QIcon icon = Icons::menuBarIcon();
    if (icon.isNull())
        icon =
            Icons::icon(QStringLiteral("shield.checkered"), Style::color(Style::Color::label), 18);
    m_statusItem = new QSystemTrayIcon(icon, this);
    m_statusItem->setObjectName(QStringLiteral("statusItem"));
    m_statusItem->setToolTip(QStringLiteral("KeelMark"));

    // Some tray hosts only report a right click; the menu keeps both
    // commands reachable there.
    m_trayMenu = new QMenu;
    m_trayMenu->setObjectName(QStringLiteral("statusItemMenu"));
    m_trayMenu->addAction(QStringLiteral("Open Settings"), this, &AppDelegate::openSettingsWindow);
    // exit(), not quit(): Qt 6's quit() first asks every window to close, and
    // the settings window refuses (it only hides), which cancels the quit.
    m_trayMenu->addAction(QStringLiteral("Quit KeelMark"), qApp, [] { QCoreApplication::exit(0); });
    m_statusItem->setContextMenu(m_trayMenu);

    connect(m_statusItem, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    togglePopover();
            });
    m_statusItem->show();
}

void AppDelegate::setupNotifications() {
    // After the tray icon: it is the notifier's fallback.
    m_notifications = new StatusNotifications(
        m_context.appState, createDesktopNotifier(m_statusItem), NotificationPolicy(), this);
    connect(m_notifications, &StatusNotifications::activated, this, &AppDelegate::openStatusPage);
    connect(m_context.appState, &AppState::machineStatusChanged, this,
            &AppDelegate::updateStatusToolTip);
    updateStatusToolTip();
}

void AppDelegate::updateStatusToolTip() {
    if (m_statusItem)
        m_statusItem->setToolTip(QStringLiteral("KeelMark: ") + m_context.appState->statusLabel());
}

void AppDelegate::setupPopover() {
    const QPointer<AppDelegate> self(this);
    auto *content = new MenuBarPopoverView(
        m_context,
        [self] {
            if (!self)
                return;
            self->m_popover->hide();
            self->openSettingsWindow();
        },
        [] { QCoreApplication::exit(0); });
    m_popover = new PopoverWindow(content);
}

QRect AppDelegate::popoverAnchor() const {
    if (m_statusItem) {
        const QRect geometry = m_statusItem->geometry();
        if (geometry.isValid() && !geometry.isEmpty())
            return geometry;
    }
    // Where the platform does not tell where the icon is, the click that
    // asked for the popover was at the cursor.
    return QRect(QCursor::pos(), QSize(1, 1));
}

void AppDelegate::togglePopover() {
    if (!m_popover)
        return;
    if (m_popover->isVisible()) {
        m_popover->hide();
        return;
    }
    const QRect anchor = popoverAnchor();
    if (m_popover->justClosedBy(anchor))
        return;
    m_popover->showAnchoredTo(anchor);
}

void AppDelegate::openSettingsWindow() {
    if (!m_settingsWindow) {
        m_settingsWindow = new SettingsWindow;
        m_settingsWindow->setWindowTitle(m_options.windowTitle);
        m_settingsWindow->setWindowIcon(QIcon(Icons::appIcon(256)));
        auto *layout = new QVBoxLayout(m_settingsWindow);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        if (!m_trayAvailable)
            layout->addWidget(trayUnavailableNotice(m_settingsWindow));
        m_root = new SettingsWindowRoot(m_context, m_settingsWindow);
        layout->addWidget(m_root);
        m_settingsWindow->resize(windowWidth, windowHeight);
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), m_settingsWindow->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_settingsWindow->move(frame.topLeft());
        }
    }
    if (m_settingsWindow->isMinimized())
        m_settingsWindow->showNormal();
    else
        m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
    emit settingsWindowOpened();
}

void AppDelegate::openStatusPage() {
    openSettingsWindow();
    if (auto *dashboard = qobject_cast<MainWindowView *>(m_root->content()))
        dashboard->setSelectedItem(SidebarItem::status);
}

void AppDelegate::handleReopen() {
    if (!m_settingsWindow || !m_settingsWindow->isVisible())
        openSettingsWindow();
}

bool AppDelegate::isSignInCallback(const QUrl &url) {
    return url.isValid() && url.scheme() == QLatin1String("keelmark") &&
           url.host() == QLatin1String("github");
}

void AppDelegate::handleUrl(const QUrl &url) {
    if (!isSignInCallback(url))
        return;
    completeSignIn(url);
}

QCoro::Task<> AppDelegate::completeSignIn(QUrl url) {
    const QPointer<AppDelegate> self(this);
    QPointer<GitHubService> gitHub(m_context.gitHub);
    QPointer<AppState> state(m_context.appState);
    // On a set-up machine the only sign-in is a reconnect, whose outcome
    // the Status page shows.
    const bool setUp = state && state->setupComplete();
    if (gitHub && state)
        co_await gitHub->handleCallback(url, state.data());
    if (!self)
        co_return;
    // Whatever the outcome, the window comes back in front of the browser.
    if (setUp)
        openStatusPage();
    else
        openSettingsWindow();
    emit callbackHandled(url);
}
