// The wizard's screens offscreen, each driven through AppState the way the
// services drive it, with a GitHub client on the emulator where a screen
// talks to GitHub.

#include "ExtensionApprovalStepView.h"
#include "GitHubConnectStepView.h"
#include "GitHubTestBench.h"
#include "HealthCheckService.h"
#include "PlatformWords.h"
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
#include <QLineEdit>
#include <QPushButton>
#include <QUrlQuery>
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

    // Gives `name` keyboard focus, checks that focus shows, then presses `key`.
    void pressWithKeyboard(QWidget *view, const QString &name, int key) {
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view));
        QWidget *widget = visibleChild(view, name);
        QVERIFY2(widget, qPrintable(name));
        // An activated window may already have focused its first stop.
        widget->clearFocus();
        const QImage unfocused = widget->grab().toImage();
        widget->setFocus(Qt::TabFocusReason);
        QVERIFY2(widget->hasFocus(), qPrintable(name + " takes no focus"));
        QVERIFY2(widget->grab().toImage() != unfocused, qPrintable(name + " shows no focus"));
        QTest::keyClick(widget, Qt::Key(key));
    }

    // Where each named widget sits in the screen.
    static QList<QRect> placesOf(QWidget *view, const QStringList &names) {
        QCoreApplication::sendPostedEvents();
        QList<QRect> places;
        for (const QString &name : names) {
            const QWidget *widget = visibleChild(view, name);
            places.append(widget ? QRect(widget->mapTo(view, QPoint()), widget->size()) : QRect());
        }
        return places;
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
        m_health = std::make_unique<HealthCheckService>(m_bench->gitHub.get(), m_bench->tempLog());
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

    void indicatorClassifiesEveryRow() {
        const SetupStep current = SetupStep::setupRepo;
        m_state->setCurrentSetupStep(current);
        auto *indicator = show<SetupStepIndicator>();
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

        indicator->findChild<QPushButton *>("setupHelpLink")->click();
        QCOMPARE(m_browser.opened.value(0).path(), QString("/docs/setup"));
    }

    // Writing the step it already shows must not rebuild the screen (and so
    // must not throw away its local state).
    void wizardFollowsTheStepAndTheBanner() {
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        auto *wizard = show<SetupWizardView>();
        QWidget *before = wizard->currentScreen();
        visibleChild<QLineEdit>(wizard, "repoNameInput")->setText("typed");
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        QCOMPARE(wizard->currentScreen(), before);
        QCOMPARE(visibleChild<QLineEdit>(wizard, "repoNameInput")->text(), QString("typed"));

        QVERIFY(!visibleChild(wizard, "setupBanner"));
        m_state->setIsSetupMode(true);
        QVERIFY(visibleChild(wizard, "setupBanner"));
        m_state->setCurrentSetupStep(SetupStep::approveExtension);
        QVERIFY(visibleChild(wizard, "extensionApprovalStep"));
        QVERIFY(!visibleChild(wizard, "repoSetupStep"));
    }

    // --- Keyboard, screen readers, stable layout ---

    // Every custom clickable shows focus and answers Space, Return and Enter.
    void customClickablesAnswerTheKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("space") << int(Qt::Key_Space);
        QTest::newRow("return") << int(Qt::Key_Return);
        QTest::newRow("enter") << int(Qt::Key_Enter);
    }
    void customClickablesAnswerTheKeyboard() {
        QFETCH(int, key);
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        pressWithKeyboard(show<SetupStepIndicator>(), "stepRow_welcome", key);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::welcome);

        pressWithKeyboard(show<WelcomeStepView>(), "roleForMyselfCard", key);
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);

        signIn();
        m_state->setGitHubOrgs({kAcme, GitHubOrg{2, "beta", true}});
        auto *connect = show<GitHubConnectStepView>();
        pressWithKeyboard(connect, "orgRow_beta", key);
        QCOMPARE(m_state->selectedOrg()->login, QString("beta"));
        // The rows are rebuilt; focus must stay on the chosen one.
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), QString("orgRow_beta"));

        auto *repo = show<RepoSetupStepView>();
        pressWithKeyboard(repo, "useExistingRepositoryChoice", key);
        QVERIFY(!repo->createNew());
    }

    void customWidgetsAreNamedForScreenReaders() {
        m_state->setCurrentSetupStep(SetupStep::setupRepo);
        auto *indicator = show<SetupStepIndicator>();
        QVERIFY(!indicator->accessibleName().isEmpty());
        for (SetupStep step : allSetupSteps()) {
            const QWidget *row = indicator->findChild<QWidget *>("stepRow_" + toText(step));
            QVERIFY(!row->accessibleName().isEmpty());
            QVERIFY(
                row->accessibleDescription().startsWith(row->property("stepStatus").toString()));
        }

        signIn();
        m_state->setGitHubOrgs({kAcme, GitHubOrg{2, "other", false}});
        auto *view = show<GitHubConnectStepView>();
        const QWidget *acme = visibleChild(view, "orgRow_" + kOrg);
        const QWidget *other = visibleChild(view, "orgRow_other");
        QCOMPARE(other->accessibleName(), QString("other"));
        QVERIFY(!acme->accessibleDescription().isEmpty());
        QVERIFY(
            other->accessibleDescription().contains("admin access required", Qt::CaseInsensitive));
    }

    // Choosing must not move what is under the pointer: the rows of the
    // organisation list, and the repository step's block.
    void choosingMovesNothingUnderThePointer() {
        signIn();
        m_state->setGitHubOrgs({kAcme, GitHubOrg{2, "beta", true}, GitHubOrg{3, "other", false}});
        auto *connect = show<GitHubConnectStepView>();
        const QStringList rows{"orgRow_" + kOrg, "orgRow_beta", "orgRow_other"};
        const QList<QRect> before = placesOf(connect, rows);
        QTest::mouseClick(visibleChild(connect, "orgRow_beta"), Qt::LeftButton);
        QVERIFY(m_state->selectedOrg());
        QCOMPARE(placesOf(connect, rows), before);

        auto *repo = show<RepoSetupStepView>();
        const QStringList block{"screenTitle", "createNewRepositoryChoice"};
        const QList<QRect> creating = placesOf(repo, block);
        QTest::mouseClick(visibleChild(repo, "useExistingRepositoryChoice"), Qt::LeftButton);
        QCOMPARE(placesOf(repo, block), creating);
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
        show<WelcomeStepView>()->findChild<QPushButton *>(card)->click();
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
        visibleChild<QPushButton>(view, "connectGitHubButton")->click();
        QCOMPARE(m_browser.opened.value(0).path(), QString("/login/oauth/authorize"));
        // Nothing changes until the callback arrives.
        QVERIFY(!m_state->gitHubConnected());
    }

    void noOrganisationBlockRefreshesInPlace() {
        signIn();
        auto *view = show<GitHubConnectStepView>();
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
        QVERIFY(!visibleChild(view, "gitHubContinueButton"));
        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(!m_state->selectedOrg());

        visibleChild<QPushButton>(view, "orgRow_" + kOrg)->click();
        QCOMPARE(m_state->selectedOrg()->login, kOrg);
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
    }

    // The browser step is shown while it is open; how it ends (cancelled
    // here, declined on GitHub, a failed look-up) is said on the screen,
    // with a way to try again and never the "no organisation" advice.
    void connectStepSaysHowTheSignInEnds_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("shown");  // part of the problem text; empty: none
        QTest::addColumn<QString>("button"); // the way on that is offered
        QTest::addColumn<bool>("connected");
        QTest::newRow("cancelled") << "cancel"
                                   << ""
                                   << "connectGitHubButton" << false;
        QTest::newRow("declined on GitHub") << "declined"
                                            << "declined on GitHub"
                                            << "connectGitHubButton" << false;
        QTest::newRow("installations fail during sign-in")
            << "code"
            << "couldn't list your GitHub organisations"
            << "connectGitHubButton" << false;
        QTest::newRow("installations fail on refresh") << "refresh"
                                                       << "couldn't list your GitHub organisations"
                                                       << "retryOrganisationsButton" << true;
    }
    void connectStepSaysHowTheSignInEnds() {
        QFETCH(QString, ending);
        QFETCH(QString, shown);
        QFETCH(QString, button);
        QFETCH(bool, connected);
        m_bench->emulator.injectFault(
            "GET", "/user/installations",
            GitHubEmulator::Fault::fixed(500, R"({"message":"Server Error"})"));
        if (ending == "refresh")
            signIn();
        auto *view = show<GitHubConnectStepView>();
        if (ending == "refresh") {
            visibleChild<QPushButton>(view, "refreshOrganisationsButton")->click();
            QTRY_VERIFY_WITH_TIMEOUT(visibleChild(view, "signInProblemText"), 15000);
        } else {
            visibleChild<QPushButton>(view, "connectGitHubButton")->click();
            QVERIFY(labelText(view, "signInProgressText").contains("browser"));
            QVERIFY(!visibleChild(view, "connectGitHubButton"));
            const QUrlQuery query(m_browser.opened.value(0));
            QList<QPair<QString, QString>> items{{"state", query.queryItemValue("state")}};
            if (ending == "cancel")
                visibleChild<QPushButton>(view, "cancelSignInButton")->click();
            if (ending == "declined")
                items.append({QString("error"), QString("access_denied")});
            else // after a cancel the browser's late answer must be ignored
                items.append({QString("code"), m_bench->emulator.mintAuthorizationCode(
                                                   kUser, query.queryItemValue("redirect_uri"),
                                                   query.queryItemValue("code_challenge"))});
            AsyncTest::waitFor(
                m_bench->gitHub->handleCallback(GitHubTestBench::callbackUrl(items), m_state));
        }
        QCOMPARE(m_state->gitHubConnected(), connected);
        QVERIFY(!visibleChild(view, "signInProgressText"));
        QVERIFY(!visibleChild(view, "noOrganisationBlock"));
        QVERIFY(visibleChild<QPushButton>(view, button));
        QCOMPARE(visibleChild(view, "signInProblemText") != nullptr, !shown.isEmpty());
        if (!shown.isEmpty())
            QVERIFY2(labelText(view, "signInProblemText").contains(shown),
                     qPrintable(labelText(view, "signInProblemText")));
    }

    // --- Repository, extension ---

    void repositoryChoiceAndNames() {
        m_state->setSelectedOrg(kAcme);
        m_state->setRepoName("earlier");
        auto *view = show<RepoSetupStepView>();
        auto *create = visibleChild<QPushButton>(view, "repoContinueButton");
        auto *name = visibleChild<QLineEdit>(view, "repoNameInput");
        QCOMPARE(name->text(), QString("ops"));
        QVERIFY(create->isEnabled());
        name->clear();
        QVERIFY(!create->isEnabled());

        visibleChild<QPushButton>(view, "useExistingRepositoryChoice")->click();
        QVERIFY(!create->isEnabled());
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
        visibleChild<QPushButton>(view, "repoBackButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QCOMPARE(m_state->repoName(), QString("kept"));
    }

    void extensionSkipAndInertActivate() {
        m_state->setCurrentSetupStep(SetupStep::approveExtension);
        auto *view = show<ExtensionApprovalStepView>();
        // The desktop's own words, from the one place that holds them.
        QCOMPARE(labelText(view, "extensionApprovalReason"),
                 PlatformWords::extensionApprovalReason());
        QCOMPARE(labelTexts(view, "extensionInstruction"), PlatformWords::extensionApprovalSteps());
        // "Skip" reads in the secondary colour: no text pixel as dark as
        // primary text.
        const QImage skip = visibleChild(view, "skipExtensionButton")
                                ->grab()
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        int dark = 0;
        for (int y = 0; y < skip.height(); ++y)
            for (int x = 0; x < skip.width(); ++x)
                dark += QColor(skip.pixel(x, y)).value() < 60 ? 1 : 0;
        QCOMPARE(dark, 0);
        visibleChild<QPushButton>(view, "activateExtensionButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::approveExtension);
        visibleChild<QPushButton>(view, "skipExtensionButton")->click();
        QCOMPARE(m_state->currentSetupStep(), SetupStep::complete);
        QVERIFY(!m_state->setupComplete());
    }

    // --- Protection progress ---

    void protectionFailureShowsMessageAndRetry() {
        m_state->setGitHubUsername(kUser);
        chooseRepo(*m_state);
        m_bench->gitHub->setApprovedOrg(kOrg);
        // The governance commit fails once.
        m_bench->emulator.injectFault("POST", "/repos/*/*/git/**",
                                      GitHubEmulator::Fault::fixed(500, R"({"message":"b"})", 1));
        auto *view = show<ProtectionProgressStepView>();
        QTRY_VERIFY_WITH_TIMEOUT(view->run()->hasFailed(), 30000);
        QCOMPARE(protectionRows(view), QStringList({"completed", "failed", "pending", "pending"}));
        QCOMPARE(labelText(view, "protectionStepMessage"),
                 GitHubError(GitHubError::fileWriteFailed).description());
        QCOMPARE(labelText(view, "protectionStepDetail"), QString("b"));
        // Under the label and over the rest of the row, not squeezed beside it.
        const QWidget *row = visibleChild(view, "protectionStepRow1");
        const QRect label = row->findChild<QWidget *>("protectionStepLabel")->geometry();
        const QRect message = row->findChild<QWidget *>("protectionStepMessage")->geometry();
        QVERIFY(message.top() >= label.bottom());
        QCOMPARE(message.left(), label.left());
        QCOMPARE(message.right(), row->rect().right());
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
            chooseRepo(*m_state);
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
        QCOMPARE(symbol("summaryBranchProtectionSymbol"),
                 repoCreated ? QString("checkmark.circle.fill") : QString("clock"));
        QCOMPARE(bool(visibleChild(view, "summaryAuthorityTransferText")), setupMode);
        QCOMPARE(bool(visibleChild(view, "openDashboardButton")), !setupMode);
        QCOMPARE(bool(visibleChild(view, "doThisLaterButton")), setupMode);
        QVERIFY(labelText(view, "completeTrayNote").contains(PlatformWords::trayPlace()));
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
        chooseRepo(*m_state);
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
