// The wizard's screens offscreen, each driven through AppState the way the
// services drive it, with a GitHub client on the emulator where a screen
// talks to GitHub.

#include "ExtensionApprovalStepView.h"
#include "GitHubConnectStepView.h"
#include "GitHubTestBench.h"
#include "HealthCheckService.h"
#include "ProtectionProgressStepView.h"
#include "ProtectionRun.h"
#include "RepoSetupStepView.h"
#include "SetupCompleteStepView.h"
#include "SetupStepIndicator.h"
#include "SetupWizardView.h"
#include "Style.h"
#include "UiTestSupport.h"
#include "WelcomeStepView.h"
#include "Widgets.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

Q_DECLARE_METATYPE(SetupStep)

namespace {
const QString kUser = GitHubTestBench::user;
const QString kOrg = GitHubTestBench::org;
const GitHubOrg kAcme{1, kOrg, true};
} // namespace

class TestSetupWizard : public QObject {
    Q_OBJECT

private:
    BrowserStub m_browser;
    std::unique_ptr<GitHubTestBench> m_bench;
    std::unique_ptr<HealthCheckService> m_health;
    std::unique_ptr<QWidget> m_screen;
    AppState *m_state = nullptr;

    template <typename View> View *show() {
        auto *view = new View(UiContext{m_state, m_bench->gitHub.get(), m_health.get()});
        m_screen.reset(view);
        view->resize(800, 600);
        view->show();
        return view;
    }

    QJsonObject stateFile() const {
        QFile file(m_bench->persistence->filePath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }

    void signIn() {
        m_state->setGitHubConnected(true);
        m_state->setGitHubUsername(kUser);
    }

    QStringList protectionRows(QWidget *view) const {
        QStringList states;
        for (int i = 0; i < 4; ++i)
            states << visibleChild(view, QString("protectionStepRow%1").arg(i))
                          ->property("stepStatus")
                          .toString();
        return states;
    }

private slots:
    void initTestCase() { Style::initialize(); }

    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        // A client with a token but no organisation approved yet.
        m_bench->gitHub = m_bench->makeService();
        QVERIFY2(m_bench->signInDirect(), "run under scripts/with-test-session.sh");
        m_state = m_bench->appState.get();
        m_health = std::make_unique<HealthCheckService>(m_bench->gitHub.get());
        m_browser.opened.clear();
    }

    void cleanup() {
        m_screen.reset();
        // Retired screens are deleted on the next turn of the loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_health.reset();
        m_bench.reset();
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
        const auto click = [&](const char *row) {
            QTest::mouseClick(indicator->findChild<QWidget *>(row), Qt::LeftButton);
        };
        click("stepRow_complete");
        click("stepRow_applyingProtections");
        QCOMPARE(m_state->currentSetupStep(), SetupStep::applyingProtections);
        click("stepRow_connectGitHub");
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QCOMPARE(m_state->repoName(), QString("kept"));
        QCOMPARE(indicator->findChild<QWidget *>("stepRow_setupRepo")->property("stepStatus"),
                 QVariant("pending"));

        indicator->findChild<QPushButton *>("setupHelpLink")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(m_browser.opened.first().path(), QString("/docs/setup"));
    }

    void wizardShowsStepScreenAndBanner() {
        auto *wizard = show<SetupWizardView>();
        QCOMPARE(wizard->minimumSize(), QSize(720, 520));
        QVERIFY(visibleChild(wizard, "welcomeStep"));
        QVERIFY(!visibleChild(wizard, "setupBanner"));
        m_state->setIsSetupMode(true);
        QWidget *banner = visibleChild(wizard, "setupBanner");
        QVERIFY(banner);
        QCOMPARE(banner->width(), wizard->width());
        QCOMPARE(banner->y(), 0);
        m_state->setCurrentSetupStep(SetupStep::approveExtension);
        QVERIFY(visibleChild(wizard, "extensionApprovalStep"));
        QVERIFY(!visibleChild(wizard, "welcomeStep"));
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

    // At the smallest window every screen fits, and no wrapping text is cut
    // down to its first line.
    void screensFitTheMinimumSize_data() { indicatorClassifiesEveryRow_data(); }
    void screensFitTheMinimumSize() {
        QFETCH(SetupStep, current);
        signIn();
        m_state->setIsSetupMode(true);
        m_state->setGitHubOrgs({kAcme, GitHubOrg{2, "other", false}});
        m_state->setSelectedOrg(kAcme);
        m_state->setRepoName("ops");
        m_state->setCurrentSetupStep(current);
        auto *wizard = show<SetupWizardView>();
        wizard->resize(720, 520);
        QCoreApplication::processEvents();
        const QSize needed = wizard->layout()->minimumSize();
        QVERIFY2(needed.width() <= 720 && needed.height() <= 520,
                 qPrintable(QString("needs %1x%2").arg(needed.width()).arg(needed.height())));
        // Taller screens scroll; none may be wider than the room it has.
        auto *scroll = wizard->findChild<QScrollArea *>("setupStepScroll");
        QVERIFY(wizard->currentScreen()->width() <= scroll->viewport()->width());
        for (QLabel *label : wizard->findChildren<QLabel *>()) {
            if (label->isVisible() && label->wordWrap())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->text()));
        }
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
        auto *button = show<WelcomeStepView>()->findChild<QPushButton *>(card);
        // The description is never cut off.
        auto *description = button->findChild<QLabel *>("roleCardDescription");
        QVERIFY(description->height() >= description->heightForWidth(description->width()));
        button->click();
        QCOMPARE(toText(*m_state->setupRole()), role);
        QCOMPARE(m_state->isSetupMode(), setupMode);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QCOMPARE(stateFile().value("setupRole").toString(), role);
        QCOMPARE(stateFile().value("isSetupMode").toBool(), setupMode);
    }

    // --- GitHub connect ---

    void connectShowsOnlyConnectBeforeSignIn() {
        auto *view = show<GitHubConnectStepView>();
        QVERIFY(!visibleChild(view, "gitHubContinueButton"));
        QVERIFY(visibleChild(view, "gitHubBackButton"));
        visibleChild<QPushButton>(view, "connectGitHubButton")->click();
        QCOMPARE(m_browser.opened.size(), 1);
        const QUrl page = m_browser.opened.first();
        QCOMPARE(page.path(), QString("/login/oauth/authorize"));
        QCOMPARE(QUrlQuery(page).queryItemValue("scope", QUrl::FullyDecoded),
                 QString("repo,admin:org"));
        // Nothing changes until the callback arrives.
        QVERIFY(visibleChild(view, "connectGitHubButton"));
        QVERIFY(!m_state->gitHubConnected());
    }

    void noOrganisationBlockRefreshesInPlace() {
        signIn();
        auto *view = show<GitHubConnectStepView>();
        QCOMPARE(labelText(view, "connectedAsLabel"), QString("Connected as @alice"));
        QVERIFY(visibleChild(view, "noOrganisationBlock"));
        visibleChild<QPushButton>(view, "createOrganisationLink")->click();
        QCOMPARE(m_browser.opened.value(0).path(), QString("/account/organizations/new"));

        visibleChild<QPushButton>(view, "refreshOrganisationsButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleChild(view, "orgRow_" + kOrg), 15000);
        QVERIFY(!visibleChild(view, "noOrganisationBlock"));
        QCOMPARE(m_state->currentSetupStep(), SetupStep::welcome); // not touched
    }

    void organisationRowsSelectOnlyAdministeredOnes() {
        signIn();
        m_state->setGitHubOrgs({kAcme, GitHubOrg{2, "other", false}});
        auto *view = show<GitHubConnectStepView>();
        auto *other = visibleChild<QPushButton>(view, "orgRow_other");
        QVERIFY(!other->isEnabled());
        QCOMPARE(labelText(other, "orgRowBadge"), QString("admin access required"));
        QVERIFY(!visibleChild(view, "gitHubContinueButton"));
        QVERIFY(!visibleChild(view, "selectedOrganisationNote"));
        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(!m_state->selectedOrg());

        visibleChild<QPushButton>(view, "orgRow_" + kOrg)->click();
        QCOMPARE(m_state->selectedOrg()->login, kOrg);
        auto *row = visibleChild<QPushButton>(view, "orgRow_" + kOrg);
        QVERIFY(row->property("selected").toBool());
        QCOMPARE(labelText(row, "orgRowBadge"), QString("admin"));
        QVERIFY(labelText(view, "selectedOrganisationText").contains("<b>acme</b>"));
        visibleChild<QPushButton>(view, "gitHubContinueButton")->click();
        QCOMPARE(m_bench->gitHub->approvedOrg(), std::optional<QString>(kOrg));
        QCOMPARE(m_state->currentSetupStep(), SetupStep::setupRepo);
    }

    // An organisation login is shown as text, never as markup.
    void selectedOrganisationNoteEscapesTheLogin() {
        signIn();
        const GitHubOrg odd{7, "<i>x</i>", true};
        m_state->setGitHubOrgs({odd});
        m_state->setSelectedOrg(odd);
        auto *view = show<GitHubConnectStepView>();
        QVERIFY(labelText(view, "selectedOrganisationText").contains("&lt;i&gt;"));
    }

    void restoredSelectionContinuesWithEmptyList() {
        signIn();
        m_state->setSelectedOrg(kAcme);
        auto *view = show<GitHubConnectStepView>();
        QVERIFY(visibleChild(view, "noOrganisationBlock"));
        QVERIFY(visibleChild(view, "gitHubContinueButton"));
        visibleChild<QPushButton>(view, "gitHubBackButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::welcome);
        QVERIFY(m_state->selectedOrg());
        QVERIFY(m_state->gitHubConnected());
    }

    // --- Repository, extension ---

    void repositoryChoiceAndNames() {
        m_state->setSelectedOrg(kAcme);
        m_state->setRepoName("earlier");
        auto *view = show<RepoSetupStepView>();
        auto *create = visibleChild<QPushButton>(view, "repoContinueButton");
        auto *name = visibleChild<QLineEdit>(view, "repoNameInput");
        QCOMPARE(name->text(), QString("ops"));
        QCOMPARE(create->text(), QString("Create"));
        QVERIFY(create->isEnabled());
        QCOMPARE(labelText(view, "repoNamePrefix"), QString("acme /"));
        name->clear();
        QVERIFY(!create->isEnabled());

        visibleChild<QPushButton>(view, "useExistingRepositoryChoice")->click();
        QCOMPARE(create->text(), QString("Select"));
        QVERIFY(!create->isEnabled());
        QVERIFY(!visibleChild(view, "repoNameInput"));
        QTest::keyClicks(visibleChild<QLineEdit>(view, "existingRepoSearch"), " existing ");
        m_bench->emulator.clearRequests();
        create->click();
        // Exactly as typed, and persisted at once; no GitHub request.
        QCOMPARE(m_state->repoName(), QString(" existing "));
        QCOMPARE(stateFile().value("repoName").toString(), QString(" existing "));
        QCOMPARE(m_state->currentSetupStep(), SetupStep::applyingProtections);
        QVERIFY(m_bench->emulator.requests().isEmpty());
    }

    void repositoryWithoutOrganisationAndBack() {
        m_state->setRepoName("kept");
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        auto *view = show<RepoSetupStepView>();
        QVERIFY(!visibleChild(view, "repoOrganisationRow"));
        QCOMPARE(labelText(view, "repoNamePrefix"), QString("org /"));
        visibleChild<QPushButton>(view, "repoBackButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QCOMPARE(m_state->repoName(), QString("kept"));
    }

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

    void protectionFailureShowsMessageAndRetry() {
        m_state->setGitHubUsername(kUser);
        m_state->setSelectedOrg(kAcme);
        m_state->setRepoName("ops");
        m_bench->gitHub->setApprovedOrg(kOrg);
        // The governance commit fails once.
        m_bench->emulator.injectFault("POST", "/repos/*/*/git/**",
                                      GitHubEmulator::Fault::fixed(500, R"({"message":"b"})", 1));
        auto *view = show<ProtectionProgressStepView>();
        QTRY_VERIFY_WITH_TIMEOUT(view->run()->hasFailed(), 30000);
        QCOMPARE(protectionRows(view), QStringList({"completed", "failed", "pending", "pending"}));
        const QString message = labelText(view, "protectionStepMessage");
        QVERIFY2(message.startsWith("— ") && message.size() > 2, qPrintable(message));
        QVERIFY(!visibleChild(view, "protectionContinueButton"));

        visibleChild<QPushButton>(view, "protectionRetryButton")->click();
        QVERIFY(!visibleChild(view, "protectionRetryButton"));
        QTRY_VERIFY_WITH_TIMEOUT(view->run()->allComplete(), 30000);
        QCOMPARE(protectionRows(view), QStringList(4, "completed"));
        QVERIFY(m_bench->emulator.protectionOf(kOrg, "ops"));
        visibleChild<QPushButton>(view, "protectionContinueButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::complete);
    }

    void protectionWithoutOrganisationStaysPending() {
        auto *view = show<ProtectionProgressStepView>();
        QCoreApplication::processEvents();
        QVERIFY(!view->run()->isRunning());
        QCOMPARE(protectionRows(view), QStringList(4, "pending"));
        QVERIFY(!visibleChild(view, "protectionContinueButton"));
        QVERIFY(!visibleChild(view, "protectionRetryButton"));
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
            m_state->setSelectedOrg(kAcme);
        m_state->setRepoName("ops");
        m_state->setGitHubUsername(kUser);
        m_state->setRepoCreated(repoCreated);
        m_state->setCodeownersValid(false);
        auto *view = show<SetupCompleteStepView>();
        const auto symbol = [&](const char *name) {
            return visibleChild<Widgets::SymbolView>(view, name)->symbolName();
        };
        QCOMPARE(labelText(view, "completeTitle"), title);
        QCOMPARE(bool(visibleChild(view, "summaryGitHubText")), withOrg);
        if (withOrg)
            QCOMPARE(labelText(view, "summaryGitHubText"), QString("GitHub: acme/ops"));
        QCOMPARE(labelText(view, "summaryCodeownersText"), QString("CODEOWNERS: @alice"));
        QCOMPARE(symbol("summaryCodeownersSymbol"), QString("checkmark.circle.fill"));
        QCOMPARE(labelText(view, "summaryBranchProtectionText"),
                 repoCreated ? QString("Branch protection: enabled")
                             : QString("Branch protection: pending verification"));
        QCOMPARE(symbol("summaryBranchProtectionSymbol"),
                 repoCreated ? QString("checkmark.circle.fill") : QString("clock"));
        QCOMPARE(bool(visibleChild(view, "summaryAuthorityTransferText")), setupMode);
        QCOMPARE(bool(visibleChild(view, "openDashboardButton")), !setupMode);
        QCOMPARE(bool(visibleChild(view, "doThisLaterButton")), setupMode);
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
        m_state->setSelectedOrg(kAcme);
        m_state->setRepoName("ops");
        m_state->setCurrentSetupStep(SetupStep::complete);
        auto *view = show<SetupCompleteStepView>();
        if (setupMode) {
            visibleChild<QPushButton>(view, "transferAuthorityButton")->click(); // inert
            QVERIFY(!m_state->setupComplete());
        }
        QSignalSpy checked(m_health.get(), &HealthCheckService::healthCheckFinished);
        visibleChild<QPushButton>(view, button)->click();
        // The first health check is under way but has not answered yet.
        QCOMPARE(m_state->machineStatus(), MachineStatusState(status));
        QVERIFY(m_state->setupComplete());
        QVERIFY(stateFile().value("setupComplete").toBool());
        QVERIFY(m_health->isHeartbeatRunning());
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 1, 20000);
    }
};

QTEST_MAIN(TestSetupWizard)
#include "TestSetupWizard.moc"
