// The wizard's screens offscreen, each driven through AppState the way the
// services drive it, with a GitHub client on the emulator where a screen
// talks to GitHub.

#include "AppState.h"
#include "AsyncTest.h"
#include "ExtensionApprovalStepView.h"
#include "GitHubConnectStepView.h"
#include "GitHubEmulator.h"
#include "GitHubService.h"
#include "HealthCheckService.h"
#include "KeychainService.h"
#include "PersistenceService.h"
#include "ProtectionProgressStepView.h"
#include "ProtectionRun.h"
#include "RepoSetupStepView.h"
#include "SetupBannerView.h"
#include "SetupCompleteStepView.h"
#include "SetupStepIndicator.h"
#include "SetupWizardView.h"
#include "Style.h"
#include "WelcomeStepView.h"
#include "Widgets.h"

#include <QDesktopServices>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(SetupStep)

namespace {

const QString kUser = QStringLiteral("alice");
const QString kOrg = QStringLiteral("acme");
const QString kCredentialService = QStringLiteral("io.keelmark.test.wizard");

// Stands in for the browser: QDesktopServices hands it every http(s) URL.
class BrowserStub : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

template <typename T> T *visibleChild(QWidget *root, const QString &name) {
    for (T *child : root->findChildren<T *>(name)) {
        if (child->isVisible())
            return child;
    }
    return nullptr;
}

QJsonObject stateFile(const QString &directory) {
    QFile file(directory + QStringLiteral("/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class TestSetupWizard : public QObject {
    Q_OBJECT

private:
    GitHubEmulator m_emulator;
    BrowserStub m_browser;
    QString m_token;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PersistenceService> m_persistence;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<GitHubService> m_gitHub;
    std::unique_ptr<HealthCheckService> m_health;
    std::unique_ptr<QWidget> m_screen;

    UiContext context() const { return {m_state.get(), m_gitHub.get(), m_health.get()}; }

    template <typename View> View *show() {
        auto *view = new View(context());
        m_screen.reset(view);
        view->resize(800, 600);
        view->show();
        return view;
    }

    void signIn() {
        m_state->setGitHubConnected(true);
        m_state->setGitHubUsername(kUser);
    }

private slots:
    void initTestCase() {
        Style::initialize();
        QVERIFY(m_emulator.start());
        m_emulator.addUser(kUser);
        m_emulator.addOrg(kOrg);
        m_emulator.setMembership(kOrg, kUser, QStringLiteral("admin"));
        GitHubEmulator::TokenOptions options;
        options.expiresIn = 0;
        m_token = m_emulator.issueToken(kUser, options);
        QVERIFY2(
            AsyncTest::waitFor(KeychainService::save(
                QString::fromLatin1(KeychainService::accessTokenKey), m_token, kCredentialService)),
            "credential store unavailable: run under scripts/with-test-session.sh");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "openUrl");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_browser, "openUrl");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_persistence = std::make_unique<PersistenceService>(m_dir->path());
        m_state = std::make_unique<AppState>(m_persistence.get());
        GitHubEndpoints endpoints;
        endpoints.apiBaseUrl = m_emulator.apiUrl().toString();
        endpoints.webBaseUrl = m_emulator.webUrl().toString();
        endpoints.relayBaseUrl = m_emulator.webUrl().toString();
        endpoints.oauthClientId = m_emulator.oauthApp().clientId;
        m_gitHub = std::make_unique<GitHubService>(endpoints);
        m_gitHub->setCredentialService(kCredentialService);
        AsyncTest::waitFor(m_gitHub->restoreFromKeychain());
        m_health = std::make_unique<HealthCheckService>(m_gitHub.get());
        m_browser.opened.clear();
        m_emulator.clearFaults();
        m_emulator.deleteRepo(kOrg, QStringLiteral("ops"));
    }

    void cleanup() {
        m_screen.reset();
        // Retired screens are deleted on the next turn of the loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_health.reset();
        m_gitHub.reset();
        m_state.reset();
    }

    // --- Frame and step indicator ---

    void indicatorClassifiesEveryRow_data() {
        QTest::addColumn<SetupStep>("current");
        for (SetupStep step : allSetupSteps())
            QTest::newRow(qPrintable(toText(step))) << step;
    }
    void indicatorClassifiesEveryRow() {
        QFETCH(SetupStep, current);
        m_state->setCurrentSetupStep(current);
        auto *indicator = show<SetupStepIndicator>();
        QCOMPARE(indicator->width(), 180);
        for (SetupStep step : allSetupSteps()) {
            QWidget *row = indicator->findChild<QWidget *>("stepRow_" + toText(step));
            QVERIFY(row);
            const QString expected = ordinal(step) < ordinal(current) ? "completed"
                                     : step == current                ? "active"
                                                                      : "pending";
            QCOMPARE(row->property("stepStatus").toString(), expected);
            // Only finished rows invite a click.
            QCOMPARE(row->cursor().shape(),
                     expected == "completed" ? Qt::PointingHandCursor : Qt::ArrowCursor);
        }
    }

    // The line is green from the first step down to the current one, and
    // grey below it.
    void indicatorConnectorsTurnGreenUpToCurrentStep() {
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        auto *indicator = show<SetupStepIndicator>();
        const auto connectorBelow = [&](SetupStep step) {
            QWidget *row = indicator->findChild<QWidget *>("stepRow_" + toText(step));
            const QImage image = row->grab().toImage();
            return image.pixelColor(11 * image.width() / row->width(),
                                    (12 + 22 + 6) * image.height() / row->height());
        };
        const QColor green = connectorBelow(SetupStep::connectGitHub);
        QVERIFY2(green.green() > green.red() + 40, qPrintable(green.name()));
        const QColor grey = connectorBelow(SetupStep::setupRepo);
        QVERIFY2(qAbs(grey.green() - grey.red()) < 20, qPrintable(grey.name()));
    }

    void clickingFinishedRowGoesBackOnly() {
        m_state->setCurrentSetupStep(SetupStep::applyingProtections);
        m_state->setRepoName("kept");
        auto *indicator = show<SetupStepIndicator>();
        QWidget *pending = indicator->findChild<QWidget *>("stepRow_complete");
        QWidget *active = indicator->findChild<QWidget *>("stepRow_applyingProtections");
        QTest::mouseClick(pending, Qt::LeftButton);
        QTest::mouseClick(active, Qt::LeftButton);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::applyingProtections);

        QTest::mouseClick(indicator->findChild<QWidget *>("stepRow_connectGitHub"), Qt::LeftButton);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QCOMPARE(m_state->repoName(), QString("kept"));
        QCOMPARE(indicator->findChild<QWidget *>("stepRow_setupRepo")->property("stepStatus"),
                 QVariant("pending"));
    }

    void helpLinkOpensTheSetupPage() {
        auto *indicator = show<SetupStepIndicator>();
        indicator->findChild<QPushButton *>("setupHelpLink")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(m_browser.opened.first().path(), QString("/docs/setup"));
    }

    void wizardShowsStepScreenAndBanner() {
        auto *wizard = show<SetupWizardView>();
        QCOMPARE(wizard->minimumSize(), QSize(720, 520));
        QVERIFY(visibleChild<QWidget>(wizard, "welcomeStep"));
        QVERIFY(!visibleChild<QWidget>(wizard, "setupBanner"));

        m_state->setIsSetupMode(true);
        QWidget *banner = visibleChild<QWidget>(wizard, "setupBanner");
        QVERIFY(banner);
        QCOMPARE(banner->width(), wizard->width());
        QCOMPARE(banner->y(), 0);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::welcome);

        m_state->setCurrentSetupStep(SetupStep::approveExtension);
        QVERIFY(visibleChild<QWidget>(wizard, "extensionApprovalStep"));
        QVERIFY(!visibleChild<QWidget>(wizard, "welcomeStep"));
    }

    // Writing the step it already shows must not rebuild the screen (and so
    // must not throw away its local state).
    void rewritingTheSameStepKeepsTheScreen() {
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        auto *wizard = show<SetupWizardView>();
        QWidget *before = wizard->currentScreen();
        visibleChild<QLineEdit>(wizard, "repoNameInput")->setText("typed");
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        QCOMPARE(wizard->currentScreen(), before);
        QCOMPARE(visibleChild<QLineEdit>(wizard, "repoNameInput")->text(), QString("typed"));
    }

    // --- Welcome ---

    void welcomeCardsStoreRoleAndMoveOn_data() {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("role");
        QTest::addColumn<bool>("setupMode");
        QTest::newRow("for myself") << "roleForMyselfCard"
                                    << "forMyself" << false;
        QTest::newRow("for someone else") << "roleForSomeoneElseCard"
                                          << "forSomeoneElse" << true;
    }
    void welcomeCardsStoreRoleAndMoveOn() {
        QFETCH(QString, card);
        QFETCH(QString, role);
        QFETCH(bool, setupMode);
        // Start from the opposite answer, as after a jump back.
        m_state->setIsSetupMode(!setupMode);
        auto *welcome = show<WelcomeStepView>();
        auto *button = welcome->findChild<QPushButton *>(card);
        QVERIFY(button);
        // The description is never cut off.
        auto *description = button->findChild<QLabel *>("roleCardDescription");
        QVERIFY(description->height() >= description->heightForWidth(description->width()));
        button->click();
        QCOMPARE(toText(*m_state->setupRole()), role);
        QCOMPARE(m_state->isSetupMode(), setupMode);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        const QJsonObject saved = stateFile(m_dir->path());
        QCOMPARE(saved.value("setupRole").toString(), role);
        QCOMPARE(saved.value("isSetupMode").toBool(), setupMode);
    }

    // --- GitHub connect ---

    void connectShowsOnlyConnectBeforeSignIn() {
        auto *view = show<GitHubConnectStepView>();
        auto *connect = visibleChild<QPushButton>(view, "connectGitHubButton");
        QVERIFY(connect);
        QVERIFY(!visibleChild<QPushButton>(view, "gitHubContinueButton"));
        QVERIFY(visibleChild<QPushButton>(view, "gitHubBackButton"));

        connect->click();
        QCOMPARE(m_browser.opened.size(), 1);
        const QUrl page = m_browser.opened.first();
        QCOMPARE(page.path(), QString("/login/oauth/authorize"));
        QCOMPARE(QUrlQuery(page).queryItemValue("scope", QUrl::FullyDecoded),
                 QString("repo,admin:org"));
        // Nothing changes until the callback arrives.
        QVERIFY(visibleChild<QPushButton>(view, "connectGitHubButton"));
        QVERIFY(!m_state->gitHubConnected());
    }

    void noOrganisationBlockRefreshesInPlace() {
        signIn();
        auto *view = show<GitHubConnectStepView>();
        QCOMPARE(visibleChild<QLabel>(view, "connectedAsLabel")->text(),
                 QString("Connected as @alice"));
        QVERIFY(visibleChild<QWidget>(view, "noOrganisationBlock"));

        visibleChild<QPushButton>(view, "createOrganisationLink")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(m_browser.opened.first().path(), QString("/account/organizations/new"));

        visibleChild<QPushButton>(view, "refreshOrganisationsButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild<QPushButton>(view, "orgRow_" + kOrg), 15000);
        QVERIFY(!visibleChild<QWidget>(view, "noOrganisationBlock"));
        QCOMPARE(m_state->currentSetupStep(), SetupStep::welcome); // not touched
    }

    void organisationRowsSelectOnlyAdministeredOnes() {
        signIn();
        m_state->setGitHubOrgs({GitHubOrg{1, kOrg, true}, GitHubOrg{2, "other", false}});
        auto *view = show<GitHubConnectStepView>();
        auto *other = visibleChild<QPushButton>(view, "orgRow_other");
        QVERIFY(other);
        QVERIFY(!other->isEnabled());
        QCOMPARE(other->findChild<QLabel *>("orgRowBadge")->text(),
                 QString("admin access required"));
        QVERIFY(!visibleChild<QPushButton>(view, "gitHubContinueButton"));
        QVERIFY(!visibleChild<QWidget>(view, "selectedOrganisationNote"));

        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(!m_state->selectedOrg());

        visibleChild<QPushButton>(view, "orgRow_" + kOrg)->click();
        QCOMPARE(m_state->selectedOrg()->login, kOrg);
        auto *row = visibleChild<QPushButton>(view, "orgRow_" + kOrg);
        QVERIFY(row);
        QVERIFY(row->property("selected").toBool());
        QCOMPARE(row->findChild<QLabel *>("orgRowBadge")->text(), QString("admin"));
        auto *note = visibleChild<QLabel>(view, "selectedOrganisationText");
        QVERIFY(note);
        QVERIFY(note->text().contains("<b>acme</b>"));
        QVERIFY(visibleChild<QPushButton>(view, "gitHubContinueButton"));

        visibleChild<QPushButton>(view, "gitHubContinueButton")->click();
        QCOMPARE(m_gitHub->approvedOrg(), std::optional<QString>(kOrg));
        QCOMPARE(m_state->currentSetupStep(), SetupStep::setupRepo);
    }

    // An organisation login is shown as text, never as markup.
    void selectedOrganisationNoteEscapesTheLogin() {
        signIn();
        const GitHubOrg odd{7, "<i>x</i>", true};
        m_state->setGitHubOrgs({odd});
        m_state->setSelectedOrg(odd);
        auto *view = show<GitHubConnectStepView>();
        QVERIFY(
            visibleChild<QLabel>(view, "selectedOrganisationText")->text().contains("&lt;i&gt;"));
    }

    void restoredSelectionContinuesWithEmptyList() {
        signIn();
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        auto *view = show<GitHubConnectStepView>();
        QVERIFY(visibleChild<QWidget>(view, "noOrganisationBlock"));
        QVERIFY(visibleChild<QPushButton>(view, "gitHubContinueButton"));

        visibleChild<QPushButton>(view, "gitHubBackButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::welcome);
        QVERIFY(m_state->selectedOrg());
        QVERIFY(m_state->gitHubConnected());
    }

    // --- Repository ---

    void repositoryChoiceAndNames() {
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        m_state->setRepoName("earlier");
        auto *view = show<RepoSetupStepView>();
        auto *create = visibleChild<QPushButton>(view, "repoContinueButton");
        auto *name = visibleChild<QLineEdit>(view, "repoNameInput");
        QCOMPARE(name->text(), QString("ops"));
        QCOMPARE(create->text(), QString("Create"));
        QVERIFY(create->isEnabled());
        QCOMPARE(visibleChild<QLabel>(view, "repoNamePrefix")->text(), QString("acme /"));
        QCOMPARE(visibleChild<QLabel>(view, "repoOrganisationLogin")->text(), kOrg);

        name->clear();
        QVERIFY(!create->isEnabled());
        visibleChild<QPushButton>(view, "useExistingRepositoryChoice")->click();
        QCOMPARE(create->text(), QString("Select"));
        QVERIFY(!create->isEnabled());
        QVERIFY(!visibleChild<QLineEdit>(view, "repoNameInput"));
        auto *search = visibleChild<QLineEdit>(view, "existingRepoSearch");
        QTest::keyClicks(search, " existing ");
        QVERIFY(create->isEnabled());

        m_emulator.clearRequests();
        create->click();
        // Exactly as typed, and persisted at once; no GitHub request.
        QCOMPARE(m_state->repoName(), QString(" existing "));
        QCOMPARE(stateFile(m_dir->path()).value("repoName").toString(), QString(" existing "));
        QCOMPARE(m_state->currentSetupStep(), SetupStep::applyingProtections);
        QVERIFY(m_emulator.requests().isEmpty());
    }

    void repositoryWithoutOrganisationAndBack() {
        m_state->setRepoName("kept");
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        auto *view = show<RepoSetupStepView>();
        QVERIFY(!visibleChild<QWidget>(view, "repoOrganisationRow"));
        QCOMPARE(visibleChild<QLabel>(view, "repoNamePrefix")->text(), QString("org /"));
        visibleChild<QPushButton>(view, "repoBackButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QCOMPARE(m_state->repoName(), QString("kept"));
    }

    // --- Extension ---

    void extensionSkipAndInertActivate() {
        m_state->setCurrentSetupStep(SetupStep::approveExtension);
        auto *view = show<ExtensionApprovalStepView>();
        visibleChild<QPushButton>(view, "activateExtensionButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::approveExtension);
        visibleChild<QPushButton>(view, "skipExtensionButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::complete);
        QVERIFY(!m_state->setupComplete());
    }

    // --- Protection progress ---

    void protectionRunSucceeds() {
        m_state->setGitHubUsername(kUser);
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        m_state->setRepoName("ops");
        m_gitHub->setApprovedOrg(kOrg);
        m_state->setCurrentSetupStep(SetupStep::applyingProtections);
        auto *view = show<ProtectionProgressStepView>();
        QTRY_VERIFY_WITH_TIMEOUT(view->run()->allComplete(), 30000);
        for (int i = 0; i < 4; ++i) {
            QWidget *row = visibleChild<QWidget>(view, QString("protectionStepRow%1").arg(i));
            QCOMPARE(row->property("stepStatus").toString(), QString("completed"));
        }
        auto *next = visibleChild<QPushButton>(view, "protectionContinueButton");
        QVERIFY(next);
        QVERIFY(!visibleChild<QPushButton>(view, "protectionRetryButton"));
        QVERIFY(m_emulator.protectionOf(kOrg, "ops"));
        next->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::complete);
    }

    void protectionFailureShowsMessageAndRetry() {
        m_state->setGitHubUsername(kUser);
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        m_state->setRepoName("ops");
        m_gitHub->setApprovedOrg(kOrg);
        // The governance commit fails once.
        m_emulator.injectFault("POST", "/repos/*/*/git/**",
                               GitHubEmulator::Fault::fixed(500, R"({"message":"boom"})", 1));
        auto *view = show<ProtectionProgressStepView>();
        QTRY_VERIFY_WITH_TIMEOUT(view->run()->hasFailed(), 30000);
        const QStringList expected{"completed", "failed", "pending", "pending"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(visibleChild<QWidget>(view, QString("protectionStepRow%1").arg(i))
                         ->property("stepStatus")
                         .toString(),
                     expected.at(i));
        auto *message = visibleChild<QLabel>(view, "protectionStepMessage");
        QVERIFY(message);
        QVERIFY(message->text().startsWith("— "));
        QVERIFY(message->text().size() > 2);
        QVERIFY(!visibleChild<QPushButton>(view, "protectionContinueButton"));

        visibleChild<QPushButton>(view, "protectionRetryButton")->click();
        QVERIFY(!visibleChild<QPushButton>(view, "protectionRetryButton"));
        QTRY_VERIFY_WITH_TIMEOUT(view->run()->allComplete(), 30000);
        QVERIFY(visibleChild<QPushButton>(view, "protectionContinueButton"));
    }

    void protectionWithoutOrganisationStaysPending() {
        auto *view = show<ProtectionProgressStepView>();
        QCoreApplication::processEvents();
        QVERIFY(!view->run()->isRunning());
        QCOMPARE(visibleChild<QWidget>(view, "protectionStepRow0")->property("stepStatus"),
                 QVariant("pending"));
        QVERIFY(!visibleChild<QPushButton>(view, "protectionContinueButton"));
        QVERIFY(!visibleChild<QPushButton>(view, "protectionRetryButton"));
    }

    // --- Complete ---

    void completeSummaryRows_data() {
        QTest::addColumn<bool>("setupMode");
        QTest::addColumn<bool>("withOrg");
        QTest::addColumn<bool>("repoCreated");
        QTest::addColumn<QString>("title");
        QTest::newRow("normal") << false << true << true << "Setup complete";
        QTest::newRow("normal, unverified") << false << true << false << "Setup complete";
        QTest::newRow("setup mode, no org")
            << true << false << false << "Setup Mode — transfer required";
    }
    void completeSummaryRows() {
        QFETCH(bool, setupMode);
        QFETCH(bool, withOrg);
        QFETCH(bool, repoCreated);
        QFETCH(QString, title);
        m_state->setIsSetupMode(setupMode);
        if (withOrg)
            m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        m_state->setRepoName("ops");
        m_state->setGitHubUsername(kUser);
        m_state->setRepoCreated(repoCreated);
        m_state->setCodeownersValid(false);
        auto *view = show<SetupCompleteStepView>();
        QCOMPARE(visibleChild<QLabel>(view, "completeTitle")->text(), title);
        auto *gitHubRow = visibleChild<QLabel>(view, "summaryGitHubText");
        QCOMPARE(bool(gitHubRow), withOrg);
        if (withOrg)
            QCOMPARE(gitHubRow->text(), QString("GitHub: acme/ops"));
        QCOMPARE(visibleChild<QLabel>(view, "summaryCodeownersText")->text(),
                 QString("CODEOWNERS: @alice"));
        QCOMPARE(visibleChild<Widgets::SymbolView>(view, "summaryCodeownersSymbol")->symbolName(),
                 QString("checkmark.circle.fill"));
        QCOMPARE(visibleChild<QLabel>(view, "summaryBranchProtectionText")->text(),
                 repoCreated ? QString("Branch protection: enabled")
                             : QString("Branch protection: pending verification"));
        QCOMPARE(
            visibleChild<Widgets::SymbolView>(view, "summaryBranchProtectionSymbol")->symbolName(),
            repoCreated ? QString("checkmark.circle.fill") : QString("clock"));
        QCOMPARE(bool(visibleChild<QLabel>(view, "summaryAuthorityTransferText")), setupMode);
        QCOMPARE(bool(visibleChild<QPushButton>(view, "openDashboardButton")), !setupMode);
        QCOMPARE(bool(visibleChild<QPushButton>(view, "doThisLaterButton")), setupMode);
    }

    void finishingMarksSetupCompleteAndStartsHeartbeat_data() {
        QTest::addColumn<bool>("setupMode");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("status");
        QTest::newRow("open dashboard")
            << false << "openDashboardButton" << int(MachineStatusState::protected_);
        QTest::newRow("do this later")
            << true << "doThisLaterButton" << int(MachineStatusState::setupMode);
    }
    void finishingMarksSetupCompleteAndStartsHeartbeat() {
        QFETCH(bool, setupMode);
        QFETCH(QString, button);
        QFETCH(int, status);
        m_state->setIsSetupMode(setupMode);
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        m_state->setRepoName("ops");
        m_state->setCurrentSetupStep(SetupStep::complete);
        auto *view = show<SetupCompleteStepView>();
        if (setupMode) {
            visibleChild<QPushButton>(view, "transferAuthorityButton")->click();
            QVERIFY(!m_state->setupComplete());
        }
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        visibleChild<QPushButton>(view, button)->click();
        // The first health check is under way but has not answered yet.
        QCOMPARE(m_state->machineStatus(), MachineStatusState(status));
        QVERIFY(m_state->setupComplete());
        QVERIFY(stateFile(m_dir->path()).value("setupComplete").toBool());
        QVERIFY(m_health->isHeartbeatRunning());
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 20000);
    }

    // At the smallest window every screen fits, and no wrapping text is cut
    // down to its first line.
    void screensFitTheMinimumSize_data() {
        QTest::addColumn<SetupStep>("step");
        for (SetupStep step : allSetupSteps())
            QTest::newRow(qPrintable(toText(step))) << step;
    }
    void screensFitTheMinimumSize() {
        QFETCH(SetupStep, step);
        signIn();
        m_state->setIsSetupMode(true);
        m_state->setGitHubOrgs({GitHubOrg{1, kOrg, true}, GitHubOrg{2, "other", false}});
        m_state->setSelectedOrg(GitHubOrg{1, kOrg, true});
        m_state->setRepoName("ops");
        m_state->setCurrentSetupStep(step);
        auto *wizard = show<SetupWizardView>();
        wizard->resize(720, 520);
        QCoreApplication::processEvents();
        const QSize needed = wizard->layout()->minimumSize();
        QVERIFY2(needed.width() <= 720 && needed.height() <= 520,
                 qPrintable(QString("needs %1x%2").arg(needed.width()).arg(needed.height())));
        // Taller screens scroll; none may be wider than the room it has.
        auto *scroll = wizard->findChild<QScrollArea *>("setupStepScroll");
        QVERIFY(scroll);
        QVERIFY2(wizard->currentScreen()->width() <= scroll->viewport()->width(),
                 qPrintable(QString::number(wizard->currentScreen()->width())));
        for (QLabel *label : wizard->findChildren<QLabel *>()) {
            if (!label->isVisible() || !label->wordWrap())
                continue;
            QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                     qPrintable(label->text()));
        }
    }

    // --- Banner ---

    void bannerText() {
        auto *banner = show<SetupBannerView>();
        QCOMPARE(banner->findChild<QLabel *>("setupBannerText")->text(),
                 QString("SETUP MODE — You are configuring this for someone else."));
        QCOMPARE(banner->transferButton()->text(), QString("Transfer Now →"));
        banner->transferButton()->click(); // inert
    }
};

QTEST_MAIN(TestSetupWizard)
#include "TestSetupWizard.moc"
