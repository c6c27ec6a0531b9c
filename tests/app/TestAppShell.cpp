// The shell in-process: launch decisions, the tray popover, the window, URL
// routing, and a whole first run against the emulator and the relay.

#include "AppDelegate.h"
#include "AppState.h"
#include "AsyncTest.h"
#include "DiagnosticLog.h"
#include "GitHubEmulator.h"
#include "GitHubService.h"
#include "HealthCheckService.h"
#include "KeychainService.h"
#include "LaunchOptions.h"
#include "MainWindowView.h"
#include "MenuBarPopoverView.h"
#include "PersistenceService.h"
#include "PopoverWindow.h"
#include "RelayServer.h"
#include "SettingsWindow.h"
#include "SettingsWindowRoot.h"
#include "Style.h"
#include "Widgets.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kOrg = QStringLiteral("acme");
const QString kCredentialService = QStringLiteral("io.keelmark.test.shell");

class BrowserStub : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

template <typename T = QWidget> T *visibleChild(QWidget *root, const QString &name) {
    if (!root)
        return nullptr;
    for (T *child : root->findChildren<T *>(name)) {
        if (child->isVisible())
            return child;
    }
    return nullptr;
}

QString readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The browser's part of the sign-in: load the authorisation page (the
// emulator approves at once) and follow redirects through the relay until
// one leaves the web for the application's scheme.
QUrl followToApplication(QNetworkAccessManager &network, QUrl url) {
    for (int hop = 0; hop < 6; ++hop) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(15000);
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        if (!done.wait(20000))
            return {};
        const QUrl next = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (next.isEmpty())
            return {};
        url = url.resolved(next);
        if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
            return url;
    }
    return {};
}

} // namespace

class TestAppShell : public QObject {
    Q_OBJECT

private:
    BrowserStub m_browser;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PersistenceService> m_persistence;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<GitHubService> m_gitHub;
    std::unique_ptr<HealthCheckService> m_health;
    std::unique_ptr<AppDelegate> m_delegate;

    QString tempLog() const { return m_dir->filePath("keelmark-debug.log"); }

    // A fresh process's worth of state; `prepare` writes the state file
    // the "previous run" left.
    void makeState(const std::function<void(AppState &)> &prepare = {}) {
        if (prepare) {
            AppState previous(m_persistence.get());
            prepare(previous);
        }
        m_state = std::make_unique<AppState>(m_persistence.get());
    }

    void makeServices(const GitHubEndpoints &endpoints) {
        m_gitHub = std::make_unique<GitHubService>(endpoints);
        m_gitHub->setCredentialService(kCredentialService);
        m_health = std::make_unique<HealthCheckService>(m_gitHub.get());
    }

    AppDelegate *makeDelegate(bool trayAvailable) {
        AppDelegate::Options options;
        options.trayAvailable = [trayAvailable] { return trayAvailable; };
        m_delegate = std::make_unique<AppDelegate>(
            UiContext{m_state.get(), m_gitHub.get(), m_health.get()}, options);
        return m_delegate.get();
    }

    static GitHubEndpoints unreachableEndpoints() {
        GitHubEndpoints endpoints;
        endpoints.apiBaseUrl = "http://127.0.0.1:9";
        endpoints.webBaseUrl = "http://127.0.0.1:9";
        endpoints.relayBaseUrl = "http://127.0.0.1:9";
        endpoints.oauthClientId = "Iv1.test";
        return endpoints;
    }

    void storeToken(const QString &token) {
        QVERIFY2(
            AsyncTest::waitFor(KeychainService::save(
                QString::fromLatin1(KeychainService::accessTokenKey), token, kCredentialService)),
            "credential store unavailable: run under scripts/with-test-session.sh");
    }

private slots:
    void initTestCase() {
        Style::initialize();
        QDesktopServices::setUrlHandler("http", &m_browser, "openUrl");
        QDesktopServices::setUrlHandler("https", &m_browser, "openUrl");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
        DiagnosticLog::setTempLogPathForTesting(QString());
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        DiagnosticLog::setTempLogPathForTesting(tempLog());
        m_persistence = std::make_unique<PersistenceService>(m_dir->path());
        m_browser.opened.clear();
    }

    void cleanup() {
        // The services must outlive the work they have in flight.
        if (m_delegate)
            QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->isLaunching(), 15000);
        m_delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_health.reset();
        m_gitHub.reset();
        m_state.reset();
    }

    void firstLaunchLogsAndOpensWizardLater() {
        makeState();
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(true);
        QSignalSpy opened(delegate, &AppDelegate::settingsWindowOpened);
        QElapsedTimer clock;
        clock.start();
        delegate->applicationDidFinishLaunching();

        QVERIFY(readAll(tempLog()).contains("] Launch: setupComplete=false, org=nil, repo=\n"));
        QVERIFY(
            readAll(m_dir->filePath("debug.log")).contains("] AppDelegate: setupComplete=false\n"));
        QVERIFY(!delegate->settingsWindow());
        QVERIFY(opened.wait(5000));
        QVERIFY(clock.elapsed() >= 250);
        SettingsWindow *window = delegate->settingsWindow();
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QString("KeelMark"));
        QCOMPARE(window->size(), QSize(800, 600));
        QVERIFY(visibleChild(window, "setupWizard"));
        QVERIFY(!m_health->isHeartbeatRunning());
    }

    void setUpMachineRestoresAndStartsHeartbeat_data() {
        QTest::addColumn<bool>("withOrg");
        QTest::newRow("organisation selected") << true;
        QTest::newRow("no organisation") << false;
    }
    void setUpMachineRestoresAndStartsHeartbeat() {
        QFETCH(bool, withOrg);
        storeToken("stored-token");
        makeState([&](AppState &previous) {
            previous.setSetupComplete(true);
            previous.setRepoName("ops");
            if (withOrg)
                previous.setSelectedOrg(GitHubOrg{1, kOrg, true});
        });
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(true);
        QSignalSpy launched(delegate, &AppDelegate::launchFinished);
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        delegate->applicationDidFinishLaunching();
        QVERIFY(launched.wait(15000));
        QCOMPARE(m_gitHub->oauthToken(), std::optional<QString>("stored-token"));
        QCOMPARE(m_gitHub->approvedOrg(),
                 withOrg ? std::optional<QString>(kOrg) : std::optional<QString>());
        QVERIFY(m_health->isHeartbeatRunning());
        QVERIFY(readAll(tempLog()).contains(
            QString("Launch: setupComplete=true, org=%1, repo=ops\n").arg(withOrg ? kOrg : "nil")));
        // A set-up machine starts in the tray only.
        QTest::qWait(400);
        QVERIFY(!delegate->settingsWindow());
        // The first check (refused by the unreachable address) ends before
        // the services are torn down; without an organisation there is none.
        if (withOrg)
            QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 15000);
    }

    // Mid-wizard restarts get their tokens back too, so a "connected"
    // screen has a token behind it.
    void tokensAreRestoredBeforeSetupCompletes() {
        storeToken("mid-wizard-token");
        makeState([](AppState &previous) { previous.setGitHubConnected(true); });
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(true);
        QSignalSpy launched(delegate, &AppDelegate::launchFinished);
        delegate->applicationDidFinishLaunching();
        QVERIFY(launched.wait(15000));
        QCOMPARE(m_gitHub->oauthToken(), std::optional<QString>("mid-wizard-token"));
        QVERIFY(!m_health->isHeartbeatRunning());
    }

    // Without a tray the application must not be invisible.
    void noTrayOpensWindowAndSaysSo() {
        makeState([](AppState &previous) {
            previous.setSetupComplete(true);
            previous.setSelectedOrg(GitHubOrg{1, kOrg, true});
            previous.setRepoName("ops");
        });
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(false);
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        delegate->applicationDidFinishLaunching();
        QVERIFY(delegate->settingsWindow());
        QVERIFY(delegate->settingsWindow()->isVisible());
        QVERIFY(delegate->settingsWindow()->windowTitle().contains("tray icon unavailable"));
        // No popover to quit from: the window offers it.
        QVERIFY(visibleChild<QPushButton>(delegate->settingsWindow(), "trayUnavailableQuitButton"));
        QVERIFY(visibleChild<MainWindowView>(delegate->settingsWindow(), QString()));
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 15000);
    }

    void windowHidesOnCloseAndComesBack() {
        makeState();
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(true);
        delegate->openSettingsWindow();
        SettingsWindow *window = delegate->settingsWindow();
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        window->close();
        QVERIFY(!window->isVisible());
        delegate->handleReopen();
        QCOMPARE(delegate->settingsWindow(), window);
        QVERIFY(window->isVisible());
        QVERIFY(visibleChild(window, "repoSetupStep"));
        // The window is laid out from its content's limits only.
        window->resize(300, 200);
        QVERIFY(window->width() >= 720 && window->height() >= 520);
    }

    void popoverTogglesAndOpensSettings() {
        makeState();
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(true);
        delegate->applicationDidFinishLaunching();
        PopoverWindow *popover = delegate->popover();
        QVERIFY(popover);
        QCOMPARE(popover->size(), QSize(280, 200));
        QVERIFY(popover->windowFlags().testFlag(Qt::Popup));

        delegate->togglePopover();
        QVERIFY(popover->isVisible());
        delegate->togglePopover();
        QVERIFY(!popover->isVisible());

        delegate->togglePopover();
        QVERIFY(popover->isVisible());
        visibleChild<QPushButton>(popover, "popoverOpenSettingsButton")->click();
        QVERIFY(!popover->isVisible());
        QVERIFY(delegate->settingsWindow()->isVisible());
    }

    void popoverPlacementStaysOnScreen_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("under a top-right icon") << QRect(1240, 0, 32, 32) << QPoint(1000, 36);
        QTest::newRow("centred under the icon") << QRect(600, 0, 32, 32) << QPoint(475, 36);
        QTest::newRow("above a bottom tray") << QRect(600, 768, 32, 32) << QPoint(475, 564);
    }
    void popoverPlacementStaysOnScreen() {
        QFETCH(QRect, anchor);
        QFETCH(QPoint, expected);
        QCOMPARE(PopoverWindow::placement(anchor, QSize(280, 200), QRect(0, 0, 1280, 800)),
                 expected);
    }

    void popoverFollowsState() {
        makeState();
        bool opened = false;
        bool quit = false;
        MenuBarPopoverView view(
            UiContext{m_state.get(), nullptr, nullptr}, [&] { opened = true; },
            [&] { quit = true; });
        view.show();
        const auto status = view.findChild<QLabel *>("popoverStatusLabel");
        const auto dot = view.findChild<Widgets::Dot *>("popoverStatusDot");
        QCOMPARE(status->text(), QString("Setup incomplete"));
        QCOMPARE(dot->color(), statusColor(MachineStatusState::setupMode));
        QVERIFY(!view.findChild<QWidget *>("popoverRepoRow")->isVisible());
        QCOMPARE(view.findChild<QLabel *>("popoverVersion")->text(), QString("v1.0.0"));

        m_state->setMachineStatus(MachineStatusState::tamperAlert);
        QCOMPARE(status->text(), QString("Alert — check dashboard"));
        QCOMPARE(dot->color(), statusColor(MachineStatusState::tamperAlert));
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        QVERIFY(view.findChild<QWidget *>("popoverRepoRow")->isVisible());
        QCOMPARE(view.findChild<QLabel *>("popoverRepoText")->text(), QString("acme/"));
        m_state->setRepoName("ops");
        QCOMPARE(view.findChild<QLabel *>("popoverRepoText")->text(), QString("acme/ops"));

        view.findChild<QPushButton *>("popoverOpenSettingsButton")->click();
        view.findChild<QPushButton *>("popoverQuitButton")->click();
        QVERIFY(opened);
        QVERIFY(quit);
    }

    // The desktop passes the URL it opens; everything else on the command
    // line (Qt's own options, stray words) is not a URL to hand over.
    void launchArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("callback") << QStringList{"keelmark", "keelmark://github?code=1&state=2"}
                                  << QStringList{"keelmark://github?code=1&state=2"};
        QTest::newRow("nothing") << QStringList{"keelmark"} << QStringList{};
        QTest::newRow("qt options")
            << QStringList{"keelmark", "-platform", "offscreen"} << QStringList{};
        QTest::newRow("relative path") << QStringList{"keelmark", "some/file"} << QStringList{};
    }
    void launchArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, urls);
        QCOMPARE(LaunchOptions::parse(arguments).urls, urls);
    }

    void testOptionsOnlyInTestBuilds() {
        const LaunchOptions options = LaunchOptions::parse(
            {"keelmark", "--test-root", "/tmp/x", "--test-no-tray", "keelmark://github?code=1"});
        QCOMPARE(options.urls, QStringList{"keelmark://github?code=1"});
        QCOMPARE(options.testHooks.has_value(), LaunchOptions::testHooksCompiled());
        if (options.testHooks) {
            QCOMPARE(options.testHooks->root, QString("/tmp/x"));
            QVERIFY(options.testHooks->noTray);
        }
    }

    void urlRouting_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("handled");
        QTest::newRow("callback") << "keelmark://github?code=abc&state=x" << true;
        QTest::newRow("callback with a path") << "keelmark://github/any/path?code=abc" << true;
        QTest::newRow("no code") << "keelmark://github" << true;
        QTest::newRow("other host") << "keelmark://gitlab?code=abc" << false;
        QTest::newRow("no host") << "keelmark:github?code=abc" << false;
        QTest::newRow("other scheme") << "https://github?code=abc" << false;
    }
    void urlRouting() {
        QFETCH(QString, url);
        QFETCH(bool, handled);
        makeState([](AppState &previous) { previous.setSetupComplete(true); });
        makeServices(unreachableEndpoints());
        AppDelegate *delegate = makeDelegate(true);
        QSignalSpy callbacks(delegate, &AppDelegate::callbackHandled);
        delegate->handleUrl(QUrl(url));
        if (handled) {
            // The sign-in has nothing pending, so the callback is dropped;
            // the window still comes forward.
            QTRY_COMPARE_WITH_TIMEOUT(callbacks.size(), 1, 15000);
            QVERIFY(delegate->settingsWindow()->isVisible());
        } else {
            QTest::qWait(100);
            QCOMPARE(callbacks.size(), 0);
            QVERIFY(!delegate->settingsWindow());
        }
        QVERIFY(!m_state->gitHubConnected());
    }

    // The whole first run: role, browser sign-in through the relay,
    // organisation, repository, protections, finish, dashboard.
    void fullFirstRun() {
        GitHubEmulator emulator;
        QVERIFY(emulator.start());
        emulator.addUser(kUser);
        emulator.addOrg(kOrg);
        emulator.setMembership(kOrg, kUser, "admin");
        emulator.setAuthorizingUser(kUser);
        emulator.setAutoApprove(true);

        RelayConfig relayConfig;
        relayConfig.port = 0;
        relayConfig.clientId = emulator.oauthApp().clientId;
        relayConfig.clientSecret = emulator.oauthApp().clientSecret;
        relayConfig.gitHubWebUrl = emulator.webUrl();
        RelayServer relay(relayConfig);
        QVERIFY(relay.listen());

        GitHubEndpoints endpoints;
        endpoints.apiBaseUrl = emulator.apiUrl().toString();
        endpoints.webBaseUrl = emulator.webUrl().toString();
        endpoints.relayBaseUrl = relay.baseUrl().toString();
        endpoints.oauthClientId = emulator.oauthApp().clientId;
        makeState();
        makeServices(endpoints);
        AppDelegate *delegate = makeDelegate(true);
        QSignalSpy opened(delegate, &AppDelegate::settingsWindowOpened);
        delegate->applicationDidFinishLaunching();
        QVERIFY(opened.wait(5000));
        QWidget *window = delegate->settingsWindow();

        visibleChild<QPushButton>(window, "roleForMyselfCard")->click();
        QVERIFY(visibleChild(window, "gitHubConnectStep"));
        visibleChild<QPushButton>(window, "connectGitHubButton")->click();
        QCOMPARE(m_browser.opened.size(), 1);

        QNetworkAccessManager browser;
        const QUrl callback = followToApplication(browser, m_browser.opened.first());
        QCOMPARE(callback.scheme(), QString("keelmark"));
        QCOMPARE(callback.host(), QString("github"));
        window->hide(); // the browser is in front now
        QSignalSpy handled(delegate, &AppDelegate::callbackHandled);
        delegate->handleUrl(callback);
        QVERIFY(handled.wait(20000));
        QVERIFY(window->isVisible());
        QVERIFY(m_state->gitHubConnected());
        QCOMPARE(m_state->gitHubUsername(), kUser);

        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "orgRow_" + kOrg), 20000);
        visibleChild<QPushButton>(window, "orgRow_" + kOrg)->click();
        visibleChild<QPushButton>(window, "gitHubContinueButton")->click();
        QCOMPARE(m_gitHub->approvedOrg(), std::optional<QString>(kOrg));

        auto *name = visibleChild<QLineEdit>(window, "repoNameInput");
        QVERIFY(name);
        name->setText("governance");
        visibleChild<QPushButton>(window, "repoContinueButton")->click();
        QVERIFY(visibleChild(window, "protectionProgressStep"));
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "protectionContinueButton"),
                                 30000);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(
                visibleChild(window, QString("protectionStepRow%1").arg(i))->property("stepStatus"),
                QVariant("completed"));
        QVERIFY(emulator.repoExists(kOrg, "governance"));
        QVERIFY(emulator.protectionOf(kOrg, "governance"));

        visibleChild<QPushButton>(window, "protectionContinueButton")->click();
        QCOMPARE(visibleChild<QLabel>(window, "summaryBranchProtectionText")->text(),
                 QString("Branch protection: enabled"));
        visibleChild<QPushButton>(window, "openDashboardButton")->click();
        QVERIFY(delegate->settingsWindowRoot()->showsDashboard());
        QTRY_VERIFY(visibleChild<MainWindowView>(window, QString()));
        QVERIFY(!visibleChild(window, "setupWizard"));
        QVERIFY(m_health->isHeartbeatRunning());
        // The first health check reads the repository back and agrees.
        QTRY_VERIFY_WITH_TIMEOUT(m_state->lastHeartbeat().has_value(), 20000);
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
    }
};

QTEST_MAIN(TestAppShell)
#include "TestAppShell.moc"
