// A whole first run through the application, continued into the dashboard:
// after the wizard the window shows the dashboard on Status, and the first
// health check turns it to "Protected" with every governance row green.

#include "AppDelegate.h"
#include "AppState.h"
#include "DashboardTestSupport.h"
#include "DiagnosticLog.h"
#include "GitHubEmulator.h"
#include "GitHubService.h"
#include "HealthCheckService.h"
#include "LocaleFormat.h"
#include "MainWindowView.h"
#include "PageWidgets.h"
#include "PersistenceService.h"
#include "RelayServer.h"
#include "SettingsWindow.h"
#include "Style.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kOrg = QStringLiteral("acme");
const QString kRepo = QStringLiteral("governance");

class BrowserStub : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

template <typename T = QWidget> T *visibleChild(QWidget *root, const QString &name) {
    for (T *child : root->findChildren<T *>(name)) {
        if (child->isVisible())
            return child;
    }
    return nullptr;
}

// The browser's part of the sign-in: the authorisation page (approved at
// once) and the redirects through the relay to the application's scheme.
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

class TestDashboardFirstRun : public QObject {
    Q_OBJECT

private:
    BrowserStub m_browser;
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        Style::initialize();
        QVERIFY(m_dir.isValid());
        DiagnosticLog::setTempLogPathForTesting(m_dir.filePath("keelmark-debug.log"));
        QDesktopServices::setUrlHandler("http", &m_browser, "openUrl");
        QDesktopServices::setUrlHandler("https", &m_browser, "openUrl");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
        DiagnosticLog::setTempLogPathForTesting(QString());
    }

    void firstRunEndsOnAProtectedDashboard() {
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

        PersistenceService persistence(m_dir.filePath("state"));
        AppState state(&persistence);
        GitHubService gitHub(endpoints);
        gitHub.setCredentialService("io.keelmark.test.dashboard");
        HealthCheckService health(&gitHub);
        AppDelegate::Options options;
        options.trayAvailable = [] { return true; };
        auto delegate = std::make_unique<AppDelegate>(UiContext{&state, &gitHub, &health}, options);

        QSignalSpy opened(delegate.get(), &AppDelegate::settingsWindowOpened);
        delegate->applicationDidFinishLaunching();
        QVERIFY(opened.wait(5000));
        QWidget *window = delegate->settingsWindow();

        // The wizard, as a person goes through it.
        visibleChild<QPushButton>(window, "roleForMyselfCard")->click();
        visibleChild<QPushButton>(window, "connectGitHubButton")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        QNetworkAccessManager browser;
        const QUrl callback = followToApplication(browser, m_browser.opened.first());
        QCOMPARE(callback.scheme(), QString("keelmark"));
        QSignalSpy handled(delegate.get(), &AppDelegate::callbackHandled);
        delegate->handleUrl(callback);
        QVERIFY(handled.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "orgRow_" + kOrg), 20000);
        visibleChild<QPushButton>(window, "orgRow_" + kOrg)->click();
        visibleChild<QPushButton>(window, "gitHubContinueButton")->click();
        auto *name = visibleChild<QLineEdit>(window, "repoNameInput");
        QVERIFY(name);
        name->setText(kRepo);
        visibleChild<QPushButton>(window, "repoContinueButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(window, "protectionContinueButton"),
                                 30000);
        visibleChild<QPushButton>(window, "protectionContinueButton")->click();
        visibleChild<QPushButton>(window, "openDashboardButton")->click();

        // The dashboard, on Status, without the banner (set up for myself).
        QTRY_VERIFY(visibleChild<MainWindowView>(window, QString()));
        auto *dashboard = visibleChild<MainWindowView>(window, QString());
        QCOMPARE(dashboard->selectedItem(), SidebarItem::status);
        QVERIFY(!dashboard->banner()->isVisible());
        QWidget *status = dashboard->currentPage();
        QCOMPARE(status->objectName(), QString("statusPage"));

        // The first health check reads the repository back; the page follows.
        // (Finishing the wizard already set a first status, so wait for the
        // check itself.)
        QTRY_VERIFY_WITH_TIMEOUT(textOf(status, "lastCheckLabel").startsWith("Last check: "),
                                 20000);
        QVERIFY(state.lastHeartbeat().has_value());
        QCOMPARE(textOf(status, "statusLabel"), QString("Protected"));
        QCOMPARE(textOf(status, "lastCheckLabel"),
                 "Last check: " + LocaleFormat::standardTime(*state.lastHeartbeat()));
        const auto *gitHubRow = status->findChild<StatusRow *>("gitHubRow");
        QCOMPARE(gitHubRow->value(), kOrg + "/" + kRepo);
        QVERIFY(gitHubRow->isOk());
        QCOMPARE(status->findChild<StatusRow *>("codeownersRow")->value(),
                 "Active (@" + kUser + ")");
        QVERIFY(status->findChild<StatusRow *>("branchProtectionRow")->isOk());
        QCOMPARE(textOf(status, "adminCount"), QString("1 admin"));

        // The Team page lists the signed-in owner as admin.
        dashboard->setSelectedItem(SidebarItem::team);
        QWidget *team = dashboard->currentPage();
        QCOMPARE(textOf(team, "memberLogin"), kUser);
        QCOMPARE(textOf(team, "memberYou"), QString("(you)"));
        QCOMPARE(textOf(team, "memberBadge"), QString("Admin"));

        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TestDashboardFirstRun)
#include "TestDashboardFirstRun.moc"
