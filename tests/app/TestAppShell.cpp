// The shell in-process: launch decisions, the tray popover, the window, URL
// routing, and a whole first run against the emulator and the relay that
// ends on a protected dashboard.

#include "AccountActions.h"
#include "AppDelegate.h"
#include "AuditRecorder.h"
#include "CommandLine.h"
#include "DesktopShell.h"
#include "GitHubTestBench.h"
#include "GovernanceFiles.h"
#include "HealthCheckService.h"
#include "KeychainService.h"
#include "LaunchOptions.h"
#include "MainWindowView.h"
#include "MenuBarPopoverView.h"
#include "PopoverWindow.h"
#include "SettingsPageView.h"
#include "SettingsWindow.h"
#include "Style.h"
#include "UiTestSupport.h"

#include <QFile>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kUser = GitHubTestBench::user;
const QString kOrg = GitHubTestBench::org;
const QString kPastExpiry = QStringLiteral("2001-01-01T00:00:00Z");

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
        url = url.resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
        if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
            return url;
    }
    return {};
}

// The arguments of a desktop entry's Exec value: the string escapes undone,
// then split at spaces outside double quotes, inside which a backslash
// keeps the next character.
QStringList execArguments(QString value) {
    value.replace("\\\\", "\\");
    QStringList arguments;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quoted && c == u'\\' && i + 1 < value.size())
            current += value.at(++i);
        else if (c == u'"')
            quoted = !quoted;
        else if (c == u' ' && !quoted)
            arguments.append(std::exchange(current, QString()));
        else
            current += c;
    }
    arguments.append(current);
    return arguments.replaceInStrings("%%", "%");
}

} // namespace

class TestAppShell : public QObject {
    Q_OBJECT

private:
    BrowserStub m_browser;
    std::unique_ptr<GitHubTestBench> m_bench;
    std::unique_ptr<HealthCheckService> m_health;
    std::unique_ptr<AuditRecorder> m_audit;
    std::unique_ptr<AppDelegate> m_delegate;
    FakeShell m_shell;

    QString tempLog() const { return m_bench->tempLog().tempLogPath(); }

    // A fresh process's worth of state, reading what `prepare` left in the
    // state file as the previous run.
    void restart(const std::function<void(AppState &)> &prepare) {
        prepare(*m_bench->appState);
        m_bench->appState = std::make_unique<AppState>(m_bench->persistence.get());
    }

    AppDelegate *makeDelegate(bool trayAvailable = true, bool background = false) {
        m_health = std::make_unique<HealthCheckService>(m_bench->gitHub.get(), m_bench->tempLog());
        m_audit = std::make_unique<AuditRecorder>(m_bench->stateDir.path());
        AppDelegate::Options options;
        options.trayAvailable = [trayAvailable] { return trayAvailable; };
        options.background = background;
        m_delegate =
            std::make_unique<AppDelegate>(UiContext{m_bench->appState.get(), m_bench->gitHub.get(),
                                                    m_health.get(), m_audit.get(), &m_shell},
                                          m_bench->tempLog(), options);
        return m_delegate.get();
    }

    // A set-up machine (acme/ops, governed by alice) launched with its
    // sign-in lost the way `loss` says, once the launch check has seen it.
    AppDelegate *launchWithLostSignIn(const QString &loss) {
        if (!m_bench->provision(GovernanceFiles::compose(kUser, kOrg)))
            return nullptr;
        if (loss == "revoked" && m_bench->signInDirect())
            m_bench->emulator.revokeToken(*m_bench->gitHub->oauthToken());
        else if (loss == "refresh refused")
            m_bench->restore(m_bench->emulator.issueToken(kUser), "ghr_revoked", kPastExpiry);
        m_bench->gitHub = m_bench->makeService();
        restart([](AppState &previous) {
            previous.setGitHubUsername(kUser);
            previous.setGitHubConnected(true);
            previous.setSetupComplete(true);
            chooseRepo(previous);
        });
        AppDelegate *delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        if (!QTest::qWaitFor([&] { return m_bench->appState->checkSignInRefused(); }, 15000))
            return nullptr;
        return delegate;
    }

    QString storedAccessToken() const {
        return AsyncTest::waitFor(
                   KeychainService::load(QString::fromLatin1(KeychainService::accessTokenKey),
                                         m_bench->credentialService))
            .value_or(QString());
    }

private slots:
    void initTestCase() { Style::initialize(); }

    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        // As at launch: no token and no approved organisation yet.
        m_bench->gitHub = m_bench->makeService();
        m_browser.opened.clear();
        m_shell = FakeShell();
    }

    void cleanup() {
        // The services must outlive the work they have in flight.
        if (m_delegate)
            QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->isLaunching(), 15000);
        m_delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_health.reset();
        m_audit.reset();
        m_bench.reset();
    }

    void firstLaunchLogsAndOpensWizardLater() {
        AppDelegate *delegate = makeDelegate();
        QSignalSpy opened(delegate, &AppDelegate::settingsWindowOpened);
        QElapsedTimer clock;
        clock.start();
        delegate->applicationDidFinishLaunching();

        QVERIFY(readAll(tempLog()).contains("] Launch: setupComplete=false, org=nil, repo=\n"));
        QVERIFY(readAll(m_bench->stateDir.filePath("debug.log"))
                    .contains("] AppDelegate: setupComplete=false\n"));
        QVERIFY(!delegate->settingsWindow());
        QVERIFY(opened.wait(5000));
        QVERIFY(clock.elapsed() >= 250);
        QVERIFY(visibleChild(delegate->settingsWindow(), "setupWizard"));
        QVERIFY(!m_health->isHeartbeatRunning());
    }

    // Tokens come back from the credential store on every launch, mid-wizard
    // too (a "connected" screen needs one); the heartbeat only once set up.
    void launchRestoresTokens_data() {
        QTest::addColumn<bool>("setUp"); // with an organisation, or mid-wizard without
        QTest::newRow("set up") << true;
        QTest::newRow("mid-wizard") << false;
    }
    void launchRestoresTokens() {
        QFETCH(bool, setUp);
        QVERIFY(m_bench->signInDirect());
        const QString token = *m_bench->gitHub->oauthToken();
        m_bench->gitHub = m_bench->makeService();
        restart([&](AppState &previous) {
            previous.setGitHubConnected(true);
            previous.setSetupComplete(setUp);
            previous.setRepoName("ops");
            if (setUp)
                previous.setSelectedOrg(GitHubOrg{1, kOrg, true});
        });
        AppDelegate *delegate = makeDelegate();
        QSignalSpy launched(delegate, &AppDelegate::launchFinished);
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        delegate->applicationDidFinishLaunching();
        QVERIFY(launched.wait(15000));
        QCOMPARE(m_bench->gitHub->oauthToken(), std::optional<QString>(token));
        QCOMPARE(m_bench->gitHub->approvedOrg(),
                 setUp ? std::optional<QString>(kOrg) : std::nullopt);
        QCOMPARE(m_health->isHeartbeatRunning(), setUp);
        // Refreshed tokens the keyring refused reach the state the Status page shows.
        emit m_bench->gitHub->tokensUnsavedChanged(true);
        QVERIFY(m_bench->appState->gitHubTokensUnsaved());
        if (setUp) {
            // A set-up machine starts in the tray only.
            QTest::qWait(400);
            QVERIFY(!delegate->settingsWindow());
            // The first check ends before the services are torn down.
            QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 15000);
        }
    }

    // Without a tray the application must not be invisible.
    void noTrayOpensWindowAndSaysSo() {
        restart([](AppState &previous) {
            previous.setSetupComplete(true);
            chooseRepo(previous);
        });
        AppDelegate *delegate = makeDelegate(false);
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        delegate->applicationDidFinishLaunching();
        SettingsWindow *window = delegate->settingsWindow();
        QVERIFY(window && window->isVisible());
        QVERIFY(window->windowTitle().contains("tray icon unavailable"));
        // No popover to quit from: the window offers it.
        QVERIFY(visibleChild<QPushButton>(window, "trayUnavailableQuitButton"));
        QVERIFY(visibleChild<MainWindowView>(window, QString()));
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 15000);
    }

    void windowHidesOnCloseAndComesBack() {
        AppDelegate *delegate = makeDelegate();
        delegate->openSettingsWindow();
        SettingsWindow *window = delegate->settingsWindow();
        m_bench->appState->setCurrentSetupStep(SetupStep::setupRepo);
        window->close();
        QVERIFY(!window->isVisible());
        delegate->handleReopen();
        QCOMPARE(delegate->settingsWindow(), window);
        QVERIFY(window->isVisible());
        QVERIFY(visibleChild(window, "repoSetupStep"));
    }

    void popoverTogglesAndOpensSettings() {
        AppDelegate *delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        PopoverWindow *popover = delegate->popover();
        delegate->togglePopover();
        QVERIFY(popover->isVisible());
        delegate->togglePopover();
        QVERIFY(!popover->isVisible());
        delegate->togglePopover();
        visibleChild<QPushButton>(popover, "popoverOpenSettingsButton")->click();
        QVERIFY(!popover->isVisible());
        QVERIFY(delegate->settingsWindow()->isVisible());
    }

    void popoverPlacementStaysOnScreen() {
        const QRect screen(0, 0, 1280, 800);
        const QSize size(280, 200);
        QCOMPARE(PopoverWindow::placement(QRect(1240, 0, 32, 32), size, screen), QPoint(1000, 36));
        // Above a tray at the bottom.
        QCOMPARE(PopoverWindow::placement(QRect(600, 768, 32, 32), size, screen), QPoint(475, 564));
    }

    void popoverFollowsState() {
        AppState *state = m_bench->appState.get();
        bool quit = false;
        MenuBarPopoverView view(
            UiContext{state, nullptr, nullptr}, [] {}, [&] { quit = true; });
        view.show();
        QVERIFY(!view.findChild<QWidget *>("popoverRepoRow")->isVisible());
        state->setMachineStatus(MachineStatusState::tamperAlert);
        QCOMPARE(labelText(&view, "popoverStatusLabel"), QString("Alert — check dashboard"));
        chooseRepo(*state);
        QCOMPARE(labelText(&view, "popoverRepoText"), QString("acme/ops"));
        view.findChild<QPushButton *>("popoverQuitButton")->click();
        QVERIFY(quit);
    }

    // The desktop passes the URL it opens; Qt's and the test build's options
    // are not URLs; the read-only commands are words of their own.
    void launchArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("usageError");
        QTest::addColumn<bool>("background");
        using C = LaunchOptions::Command;
        const QString url = "keelmark://github?code=1&state=2";
        const auto row = [](const char *name, QStringList arguments, QStringList urls, C command,
                            bool json = false, bool error = false, bool background = false) {
            QTest::newRow(name) << arguments << urls << int(command) << json << error << background;
        };
        row("url", {url}, {url}, C::run);
        row("qt option", {"-platform", "offscreen"}, {}, C::run);
        row("test options", {"--test-root", "/tmp/x", "--test-no-tray", url}, {url}, C::run);
        row("version", {"--version"}, {}, C::version);
        row("help", {"-h"}, {}, C::help);
        row("help wins", {"status", "--bogus", "--help"}, {}, C::help);
        row("status", {"status"}, {}, C::status);
        row("status json", {"--test-root", "/tmp/x", "status", "--json"}, {}, C::status, true);
        row("status extra", {"status", "--fix"}, {}, C::status, false, true);
        row("json alone", {"--json"}, {}, C::run, false, true);
        row("status after url", {url, "status"}, {url}, C::run);
        row("background", {"--background"}, {}, C::run, false, false, true);
        row("background url", {url, "--background"}, {url}, C::run, false, false, true);
        row("status background", {"status", "--background"}, {}, C::status, false, true);
    }
    void launchArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(int, command);
        const LaunchOptions options = LaunchOptions::parse(QStringList{"keelmark"} + arguments);
        QTEST(options.urls, "urls");
        QCOMPARE(int(options.command), command);
        QTEST(options.json, "json");
        QTEST(!options.usageError.isEmpty(), "usageError");
        QTEST(options.background, "background");
    }

    // What a monitoring script sees for each status the app can be in.
    void statusExitCodes_data() {
        QTest::addColumn<MachineStatusState>("machineStatus");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("protected") << MachineStatusState::protected_ << 0;
        QTest::newRow("alert") << MachineStatusState::tamperAlert << 1;
        QTest::newRow("offline") << MachineStatusState::offline << 2;
        QTest::newRow("not set up") << MachineStatusState::setupMode << 2;
    }
    void statusExitCodes() {
        QFETCH(MachineStatusState, machineStatus);
        AppState *state = m_bench->appState.get();
        chooseRepo(*state);
        state->setMachineStatus(machineStatus);
        state->setStatusReasons({"Branch protection was removed"});
        const QDateTime checked = QDateTime::currentDateTimeUtc().addSecs(-30);
        state->setLastHeartbeat(checked);
        const QJsonObject status = CommandLine::statusOf(*state);
        QTEST(CommandLine::exitCodeFor(status), "exitCode");
        const QString text = CommandLine::describe(status);
        QVERIFY2(text.contains("Repository: acme/ops") &&
                     text.contains("  - Branch protection was removed") &&
                     text.contains(checked.toLocalTime().toString("yyyy-MM-dd HH:mm:ss")),
                 qPrintable(text));
    }

    void urlRouting_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("handled");
        QTest::newRow("callback") << "keelmark://github?code=abc&state=x" << true;
        QTest::newRow("other host") << "keelmark://gitlab?code=abc" << false;
        QTest::newRow("no host") << "keelmark:github?code=abc" << false;
    }
    void urlRouting() {
        QFETCH(QString, url);
        QFETCH(bool, handled);
        restart([](AppState &previous) { previous.setSetupComplete(true); });
        AppDelegate *delegate = makeDelegate();
        QSignalSpy callbacks(delegate, &AppDelegate::callbackHandled);
        delegate->handleUrl(QUrl(url));
        if (handled) {
            // Nothing pending, so the callback is dropped; the window still
            // comes forward.
            QTRY_COMPARE_WITH_TIMEOUT(callbacks.size(), 1, 15000);
            QVERIFY(delegate->settingsWindow()->isVisible());
        } else {
            QTest::qWait(100);
            QCOMPARE(callbacks.size(), 0);
            QVERIFY(!delegate->settingsWindow());
        }
        QVERIFY(!m_bench->appState->gitHubConnected());
    }

    // Writes that change nothing leave the trail alone: the same refusal at
    // every check, the status a restart finds again; a sign-out is a line.
    void repeatsAreRecordedOnce() {
        AppState *state = m_bench->appState.get();
        state->setGitHubUsername(kUser);
        state->setGitHubConnected(true);
        makeDelegate();
        GitHubService *gitHub = m_bench->gitHub.get();
        emit gitHub->tokenRefreshRefused("bad_refresh_token");
        emit gitHub->tokenRefreshRefused("bad_refresh_token");
        state->setMachineStatus(MachineStatusState::protected_);
        m_delegate.reset();
        restart([](AppState &) {});
        makeDelegate();
        m_bench->appState->setMachineStatus(MachineStatusState::protected_);
        m_bench->appState->setGitHubConnected(false);
        QStringList kinds;
        for (const AuditRecord &record : m_audit->trail().records())
            kinds.prepend(record.kind);
        QCOMPARE(kinds, QStringList({"token", "status", "signout"}));
    }

    // The whole first run: role, browser sign-in through the relay,
    // organisation, repository, protections, finish, and the dashboard that
    // the first health check turns to "Protected".
    void firstRunEndsOnAProtectedDashboard() {
        m_bench->emulator.setAutoApprove(true);
        AppState *state = m_bench->appState.get();
        AppDelegate *delegate = makeDelegate();
        QSignalSpy opened(delegate, &AppDelegate::settingsWindowOpened);
        delegate->applicationDidFinishLaunching();
        QVERIFY(opened.wait(5000));
        QWidget *window = delegate->settingsWindow();

        visibleChild<QPushButton>(window, "roleForMyselfCard")->click();
        visibleChild<QPushButton>(window, "connectGitHubButton")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        QNetworkAccessManager browser;
        const QUrl callback = followToApplication(browser, m_browser.opened.first());
        QCOMPARE(callback.scheme(), QString("keelmark"));
        window->hide(); // the browser is in front now
        QSignalSpy handled(delegate, &AppDelegate::callbackHandled);
        delegate->handleUrl(callback);
        QVERIFY(handled.wait(20000));
        QVERIFY(window->isVisible());
        QCOMPARE(state->gitHubUsername(), kUser);

        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "orgRow_" + kOrg), 20000);
        visibleChild<QPushButton>(window, "orgRow_" + kOrg)->click();
        visibleChild<QPushButton>(window, "gitHubContinueButton")->click();
        visibleChild<QLineEdit>(window, "repoNameInput")->setText("governance");
        visibleChild<QPushButton>(window, "repoContinueButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "protectionContinueButton"),
                                 30000);
        QVERIFY(m_bench->emulator.protectionOf(kOrg, "governance"));
        visibleChild<QPushButton>(window, "protectionContinueButton")->click();
        visibleChild<QPushButton>(window, "openDashboardButton")->click();

        // The same window turns into the dashboard, on Status, no banner.
        QTRY_VERIFY(visibleChild<MainWindowView>(window, QString()));
        QVERIFY(!visibleChild(window, "setupWizard"));
        auto *dashboard = visibleChild<MainWindowView>(window, QString());
        QVERIFY(!dashboard->banner()->isVisible());
        QVERIFY(m_health->isHeartbeatRunning());
        QVERIFY(m_shell.on);

        // Finishing set a first status already, so wait for the check itself.
        QWidget *status = dashboard->currentPage();
        QTRY_VERIFY_WITH_TIMEOUT(labelText(status, "lastCheckLabel").startsWith("Last check: "),
                                 20000);
        QCOMPARE(state->machineStatus(), MachineStatusState::protected_);
        QCOMPARE(labelText(status, "statusLabel"), QString("Protected"));
        QCOMPARE(labelText(status, "adminCount"), QString("1 admin"));

        // Each step left its line, oldest first, on an intact chain; a
        // routine check that finds the same adds nothing.
        QStringList kinds;
        for (const AuditRecord &record : m_audit->trail().records())
            kinds.prepend(record.kind);
        QCOMPARE(kinds, QStringList({"signin", "org", "repo", "commit", "protection", "status"}));
        QVERIFY(m_audit->trail().verify().intact);
        const QString trailPath = m_bench->stateDir.filePath("audit.jsonl");
        const QString before = readAll(trailPath);
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        startHealthCheck(delegate->context());
        QVERIFY(checked.wait(20000));
        QCOMPARE(readAll(trailPath), before);

        dashboard->setSelectedItem(SidebarItem::audit);
        QCOMPARE(labelTexts(dashboard->currentPage(), "auditKind").first(), QString("status"));

        // Disconnect from Settings: the same window shows the wizard at its
        // GitHub step, and GitHub no longer takes the old token.
        const QString oldToken = *m_bench->gitHub->oauthToken();
        dashboard->setSelectedItem(SidebarItem::settings);
        auto *settings = qobject_cast<SettingsPageView *>(dashboard->currentPage());
        settings->accountActions()->setQuestion(
            [](QWidget *, const QString &, const QString &, const QString &) { return true; });
        visibleChild<QPushButton>(settings, "disconnectButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild(window, "gitHubConnectStep"), 20000);
        QVERIFY(visibleChild<QPushButton>(window, "connectGitHubButton"));
        QVERIFY(!m_bench->emulator.tokenIsValid(oldToken) && !m_health->isHeartbeatRunning());

        // Setting the same repository up again continues the trail's chain.
        m_browser.opened.clear();
        visibleChild<QPushButton>(window, "connectGitHubButton")->click();
        delegate->handleUrl(followToApplication(browser, m_browser.opened.first()));
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "orgRow_" + kOrg), 20000);
        visibleChild<QPushButton>(window, "orgRow_" + kOrg)->click();
        visibleChild<QPushButton>(window, "gitHubContinueButton")->click();
        visibleChild<QPushButton>(window, "useExistingRepositoryChoice")->click();
        visibleChild<QLineEdit>(window, "existingRepoSearch")->setText("governance");
        visibleChild<QPushButton>(window, "repoContinueButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "protectionContinueButton"),
                                 30000);
        QStringList later;
        for (const AuditRecord &record : m_audit->trail().records())
            later.prepend(record.kind);
        QCOMPARE(later.mid(0, kinds.size() + 1), kinds + QStringList{"disconnect"});
        QVERIFY(later.indexOf("signin", kinds.size()) > kinds.size());
        QVERIFY(m_audit->trail().verify().intact);
        // The baseline is the new setup's: the next check finds it on main.
        visibleChild<QPushButton>(window, "protectionContinueButton")->click();
        QSignalSpy rechecked(m_health.get(), &HealthCheckService::healthCheckFinished);
        visibleChild<QPushButton>(window, "openDashboardButton")->click();
        QVERIFY(rechecked.wait(20000));
        QCOMPARE(state->machineStatus(), MachineStatusState::protected_);
    }

    // Uninstall's last steps in the desktop: this user's keelmark:// handler
    // goes, every other association and entry stays.
    void desktopTracesGoOthersStay() {
        QTemporaryDir home;
        const QDir dir(home.path());
        QVERIFY(dir.mkpath("config") && dir.mkpath("applications"));
        const QByteArray handler =
            "[Desktop Entry]\nType=Application\nName=KeelMark\n"
            "Exec=/opt/km/keelmark %u\nMimeType=x-scheme-handler/keelmark;\n";
        QVERIFY(writeFile(dir.filePath("config/mimeapps.list"),
                          "[Default Applications]\ntext/html=firefox.desktop\n"
                          "x-scheme-handler/keelmark=keelmark-sandbox.desktop\n"
                          "[Added Associations]\n x-scheme-handler/keelmark=keelmark.desktop;\n"
                          "image/png=viewer.desktop;\n"));
        QVERIFY(writeFile(dir.filePath("applications/keelmark-sandbox.desktop"), handler));
        QVERIFY(writeFile(dir.filePath("applications/keelmark.desktop"), handler));
        QVERIFY(writeFile(dir.filePath("applications/keelmark-notes.desktop"),
                          "[Desktop Entry]\nType=Application\nName=Notes\n"));
        QVERIFY(writeFile(dir.filePath("applications/mimeinfo.cache"),
                          "[MIME Cache]\nx-scheme-handler/keelmark=keelmark-sandbox.desktop;\n"
                          "text/plain=editor.desktop;\n"));

        DesktopShell shell(
            {dir.filePath("config"), {}, dir.filePath("applications"), dir.filePath("dpkg")});
        QString error;
        QVERIFY2(shell.removeDesktopTraces(&error), qPrintable(error));
        QCOMPARE(readAll(dir.filePath("config/mimeapps.list")),
                 QString("[Default Applications]\ntext/html=firefox.desktop\n"
                         "[Added Associations]\nimage/png=viewer.desktop;\n"));
        QCOMPARE(QDir(dir.filePath("applications")).entryList(QDir::Files),
                 (QStringList{"keelmark-notes.desktop", "mimeinfo.cache"}));
        QCOMPARE(readAll(dir.filePath("applications/mimeinfo.cache")),
                 QString("[MIME Cache]\ntext/plain=editor.desktop;\n"));
        // A second run finds nothing to do, and creates nothing.
        QVERIFY(shell.removeDesktopTraces(&error));
        QVERIFY(!dir.exists("dpkg"));
    }

    // The uninstall message names the package command only when a package
    // of ours holds the running program.
    void packageRemovalCommand_data() {
        QTest::addColumn<QString>("listName"); // empty: no list at all
        QTest::addColumn<bool>("listsThisProgram");
        QTest::addColumn<QString>("command");
        QTest::newRow("installed") << "keelmark.list" << true << "sudo apt remove keelmark";
        QTest::newRow("multi-arch") << "keelmark:amd64.list" << true << "sudo apt remove keelmark";
        QTest::newRow("package without this binary") << "keelmark.list" << false << "";
        QTest::newRow("another package holds it") << "keelmark-relay.list" << true << "";
        QTest::newRow("built from source") << "" << false << "";
    }
    void packageRemovalCommand() {
        QFETCH(QString, listName);
        QFETCH(bool, listsThisProgram);
        QFETCH(QString, command);
        QTemporaryDir database;
        const QByteArray program = QCoreApplication::applicationFilePath().toUtf8();
        if (!listName.isEmpty())
            QVERIFY(writeFile(QDir(database.path()).filePath(listName),
                              "/.\n/usr\n/usr/share/doc/keelmark\n" +
                                  (listsThisProgram ? program : QByteArray("/usr/bin/other")) +
                                  "\n"));
        QCOMPARE(DesktopShell({database.path(), {}, database.path(), database.path()})
                     .packageRemovalCommand(),
                 command);
    }

    // However GitHub shows it, a lost sign-in is "offline" with a way back,
    // in the popover and on the Status page, never "Setup incomplete".
    void lostSignInOffersReconnect_data() {
        QTest::addColumn<QString>("loss");
        for (const char *loss : {"no tokens", "revoked", "refresh refused"})
            QTest::newRow(loss) << QString(loss);
    }
    void lostSignInOffersReconnect() {
        QFETCH(QString, loss);
        AppDelegate *delegate = launchWithLostSignIn(loss);
        QVERIFY(delegate);
        QTRY_COMPARE_WITH_TIMEOUT(m_bench->appState->machineStatus(), MachineStatusState::offline,
                                  15000);
        QCOMPARE(labelText(delegate->popover(), "popoverStatusLabel"),
                 QString("Offline \u2014 using cache"));
        QVERIFY(shownIn(delegate->popover(), "signInLostText"));
        QVERIFY(shownIn(delegate->popover(), "reconnectGitHubButton"));
        delegate->openStatusPage();
        auto *dashboard = visibleChild<MainWindowView>(delegate->settingsWindow(), QString());
        QVERIFY(shownIn(dashboard->currentPage(), "reconnectGitHubButton"));
    }

    // Reconnecting from the popover, through the browser and the relay: the
    // owner's sign-in resumes the checks; anyone else's, or one GitHub
    // refuses, ends with its reason and the old state, tokens included.
    void reconnectKeepsTheSetup_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<bool>("codeRefused");
        QTest::addColumn<QString>("problem"); // empty: reconnected
        QTest::newRow("same account") << kUser << false << QString();
        QTest::newRow("another account")
            << "bob" << false
            << "You signed in as @bob, but acme/ops is governed by @alice. Sign in as @alice to "
               "reconnect.";
        QTest::newRow("GitHub refuses the code")
            << QString() << true
            << "The GitHub sign-in didn't complete. The code passed is incorrect or expired.";
    }
    void reconnectKeepsTheSetup() {
        QFETCH(QString, account);
        QFETCH(bool, codeRefused);
        QFETCH(QString, problem);
        AppDelegate *delegate = launchWithLostSignIn("revoked");
        QVERIFY(delegate);
        AppState *state = m_bench->appState.get();
        const QString oldToken = *m_bench->gitHub->oauthToken();
        m_bench->emulator.setAutoApprove(true);
        m_bench->emulator.setAuthorizingUser(account.isEmpty() ? kUser : account);
        if (codeRefused)
            m_bench->emulator.injectFault(
                "POST", "/login/oauth/access_token",
                GitHubEmulator::Fault::fixed(
                    200, R"({"error":"bad_verification_code",)"
                         R"("error_description":"The code passed is incorrect or expired."})"));
        delegate->popover()->findChild<QPushButton *>("reconnectGitHubButton")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        QNetworkAccessManager browser;
        const QUrl callback = followToApplication(browser, m_browser.opened.first());
        QSignalSpy handled(delegate, &AppDelegate::callbackHandled);
        delegate->handleUrl(callback);
        QVERIFY(handled.wait(20000));

        auto *dashboard = visibleChild<MainWindowView>(delegate->settingsWindow(), QString());
        QVERIFY(dashboard);
        QCOMPARE(dashboard->selectedItem(), SidebarItem::status);
        QWidget *page = dashboard->currentPage();
        QVERIFY(state->setupComplete());
        QCOMPARE(state->gitHubUsername(), kUser);
        QCOMPARE(state->selectedOrg()->login, kOrg);
        QCOMPARE(state->repoName(), QString("ops"));
        QCOMPARE(state->gitHubSignInPhase(), GitHubSignInPhase::idle);
        QVERIFY(m_audit->trail().verify().intact);
        // The newest sign-in line; a status line may already follow it.
        AuditRecord last;
        for (const AuditRecord &record : m_audit->trail().records()) {
            if (record.kind == "signin") {
                last = record;
                break;
            }
        }
        QCOMPARE(last.details.value("actor").toString(), account);
        if (problem.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(state->machineStatus(), MachineStatusState::protected_,
                                      20000);
            QVERIFY(!state->checkSignInRefused());
            QVERIFY(m_health->isHeartbeatRunning());
            QVERIFY(m_bench->gitHub->oauthToken() != oldToken);
            QCOMPARE(storedAccessToken(), *m_bench->gitHub->oauthToken());
            QVERIFY(!shownIn(page, "reconnectGitHub"));
            QCOMPARE(last.message, QString("Reconnected GitHub as @alice"));
        } else {
            QCOMPARE(labelText(page, "reconnectProblemText"), problem);
            QVERIFY(shownIn(page, "reconnectGitHubButton"));
            QCOMPARE(m_bench->gitHub->oauthToken(), std::optional<QString>(oldToken));
            QCOMPARE(storedAccessToken(), oldToken);
            QVERIFY(state->checkSignInRefused());
            QCOMPARE(state->machineStatus(), MachineStatusState::offline);
            QCOMPARE(last.message, "Reconnecting GitHub failed: " + problem);
        }
    }

    // Started at login: the tray icon only, even where a window would
    // otherwise open; starting again brings it as usual.
    void backgroundLaunchOpensNoWindow_data() {
        QTest::addColumn<bool>("setUp");
        QTest::addColumn<bool>("tray");
        QTest::newRow("first run") << false << true;
        QTest::newRow("set up, no tray") << true << false;
    }
    void backgroundLaunchOpensNoWindow() {
        QFETCH(bool, setUp);
        QFETCH(bool, tray);
        restart([&](AppState &previous) {
            previous.setSetupComplete(setUp);
            chooseRepo(previous);
        });
        AppDelegate *delegate = makeDelegate(tray, true);
        QSignalSpy launched(delegate, &AppDelegate::launchFinished);
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        delegate->applicationDidFinishLaunching();
        QVERIFY(launched.wait(15000));
        QTest::qWait(400);
        QVERIFY(!delegate->settingsWindow());
        delegate->handleReopen();
        QVERIFY(delegate->settingsWindow() && delegate->settingsWindow()->isVisible());
        if (setUp)
            QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 15000);
    }

    // On the moment setup completes here; a set-up machine's later
    // launches (and rewrites of the same state) leave the user's "off" alone.
    void startAtLoginTurnsOnOnceSetupCompletes() {
        restart([](AppState &previous) { previous.setSetupComplete(true); });
        makeDelegate();
        AppState *state = m_bench->appState.get();
        state->setSetupComplete(true);
        QCOMPARE(m_shell.loginChanges, 0);
        state->setSetupComplete(false);
        state->setSetupComplete(true);
        QVERIFY(m_shell.on);
        QCOMPARE(m_shell.loginChanges, 1);
    }

    // The XDG autostart entry in a private config home: written as a valid
    // desktop entry that starts this program in the background, read back,
    // switched off in place by the desktop, and removed.
    void autostartEntry_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("plain") << "/usr/bin/keelmark";
        QTest::newRow("space and quotes") << "/opt/Keel Mark/it's \"here\"/keelmark";
        QTest::newRow("dollar, backslash, percent") << "/home/a$b/c\\d/50%/keelmark";
    }
    void autostartEntry() {
        QFETCH(QString, program);
        QTemporaryDir home;
        DesktopShell shell({home.path(), program, {}, {}});
        const QString path = home.filePath("autostart/keelmark.desktop");
        QString error;
        QVERIFY(!shell.startsAtLogin());
        QVERIFY2(shell.setStartsAtLogin(true, &error), qPrintable(error));
        QVERIFY(shell.startsAtLogin());

        const QString entry = readAll(path);
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate (desktop-file-utils) is missing");
        QProcess validate;
        validate.start(validator, {path});
        QVERIFY(validate.waitForFinished(20000));
        QVERIFY2(validate.exitCode() == 0 && validate.readAll().isEmpty(), qPrintable(entry));
        const QStringList lines = entry.split('\n');
        const auto exec = std::find_if(lines.cbegin(), lines.cend(), [](const QString &line) {
            return line.startsWith("Exec=");
        });
        QVERIFY(exec != lines.cend());
        QCOMPARE(execArguments(exec->mid(5)), QStringList({program, "--background"}));

        // Desktops switch an entry off by editing it; turning it on rewrites it.
        QFile edited(path);
        QVERIFY(edited.open(QIODevice::WriteOnly));
        edited.write(entry.toUtf8().replace("enabled=true", "enabled=false"));
        edited.close();
        QVERIFY(!shell.startsAtLogin());
        QVERIFY(shell.setStartsAtLogin(true, &error));
        QVERIFY(shell.startsAtLogin());

        QVERIFY(shell.setStartsAtLogin(false, &error));
        QVERIFY(!QFile::exists(path) && !shell.startsAtLogin());
        QVERIFY(shell.setStartsAtLogin(false, &error));

        // A config home that is a file: the refusal is said, not swallowed.
        DesktopShell blocked({home.filePath("file"), program, {}, {}});
        QFile file(home.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        error.clear();
        QVERIFY(!blocked.setStartsAtLogin(true, &error));
        QVERIFY(!error.isEmpty() && !blocked.startsAtLogin());
    }
};

QTEST_MAIN(TestAppShell)
#include "TestAppShell.moc"
