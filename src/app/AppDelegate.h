#pragma once

#include "DiagnosticLog.h"
#include "UiContext.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>

class AuditObserver;
class PopoverWindow;
class QMenu;
class QSystemTrayIcon;
class SettingsWindow;
class SettingsWindowRoot;
class StatusNotifications;

// Owns what is on screen outside the views: the tray icon, its popover and
// the one window, and routes keelmark:// callbacks into the sign-in.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Whether the desktop has a system tray; tests decide it themselves.
        std::function<bool()> trayAvailable;
        std::chrono::milliseconds firstRunWindowDelay = std::chrono::milliseconds(300);
        // The window title says when there is no tray icon.
        QString windowTitle = QStringLiteral("KeelMark");
        // Started at login: no window at launch, whatever the state.
        bool background = false;
    };

    // `log` is the temporary-directory trace the launch lines go to.
    AppDelegate(const UiContext &context, DiagnosticLog log, QObject *parent = nullptr);
    AppDelegate(const UiContext &context, DiagnosticLog log, Options options,
                QObject *parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence: tray icon and popover, the two log lines, then
    // either the wizard window (first run) or restored credentials, the
    // organisation guard and the heartbeat (a set-up machine).
    void applicationDidFinishLaunching();

    // keelmark://github?... goes to the sign-in; anything else is dropped.
    void handleUrl(const QUrl &url);
    // The application was started again with nothing to open.
    void handleReopen();

    void togglePopover();
    void openSettingsWindow();
    // The window, on the Status page when the dashboard is showing.
    void openStatusPage();

    bool trayAvailable() const { return m_trayAvailable; }
    // The credential restore of the launch sequence is still under way.
    bool isLaunching() const { return m_launching; }
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    PopoverWindow *popover() const { return m_popover; }
    SettingsWindow *settingsWindow() const { return m_settingsWindow; }
    SettingsWindowRoot *settingsWindowRoot() const { return m_root; }
    const UiContext &context() const { return m_context; }

    static bool isSignInCallback(const QUrl &url);

signals:
    // The launch sequence has finished, including the credential restore.
    void launchFinished();
    // A sign-in callback was handled and the window brought forward.
    void callbackHandled(const QUrl &url);
    void settingsWindowOpened();

private:
    void setupStatusItem();
    void setupPopover();
    void setupNotifications();
    void updateStatusToolTip();
    void writeLaunchLines();
    void startAtLoginOnceSetUp();
    QCoro::Task<> finishLaunch();
    QCoro::Task<> completeSignIn(QUrl url);
    QRect popoverAnchor() const;

    UiContext m_context;
    DiagnosticLog m_log;
    Options m_options;
    bool m_trayAvailable = false;
    bool m_launching = false;
    bool m_wasSetupComplete = false;
    QSystemTrayIcon *m_statusItem = nullptr;
    QMenu *m_trayMenu = nullptr;
    PopoverWindow *m_popover = nullptr;
    SettingsWindow *m_settingsWindow = nullptr;
    SettingsWindowRoot *m_root = nullptr;
    StatusNotifications *m_notifications = nullptr;
    AuditObserver *m_auditObserver = nullptr;
};
