// The dashboard offscreen, driven through AppState: the window and its
// sidebar, each page's states that can go wrong, and "Check Now" and
// "Refresh" running real health checks against the emulator, "Restore
// Protection" putting the rules back, "Restore Governance Files" and "Accept
// This Change" recovering from drift, reconnecting a lost sign-in, starting
// at login and the update check.

#include "AccountActions.h"
#include "AuditExport.h"
#include "AuditPageView.h"
#include "AuditRecorder.h"
#include "BaselineStore.h"
#include "GitHubPageView.h"
#include "GitHubTestBench.h"
#include "GovernanceBlobIds.h"
#include "GovernanceFiles.h"
#include "HealthCheckService.h"
#include "KeychainService.h"
#include "LocaleFormat.h"
#include "MainWindowView.h"
#include "MenuBarPopoverView.h"
#include "ReleaseVersion.h"
#include "RestoreFilesAction.h"
#include "RestoreProtectionAction.h"
#include "SecurityPageView.h"
#include "SettingsPageView.h"
#include "ShellCommands.h"
#include "StatusPageView.h"
#include "Style.h"
#include "TeamPageView.h"
#include "UiTestSupport.h"
#include "UpdateCheckDialog.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QListWidget>
#include <QMetaMethod>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QList<MachineRole>)

namespace {

// The recovery actions live on both pages that report protection.
std::unique_ptr<QWidget> shownPage(bool gitHubPage, const UiContext &context) {
    std::unique_ptr<QWidget> page;
    if (gitHubPage)
        page = std::make_unique<GitHubPageView>(context);
    else
        page = std::make_unique<StatusPageView>(context);
    page->show();
    return page;
}

using R = MachineRole;

QList<TeamMember> membersWithRoles(const QList<MachineRole> &roles) {
    QList<TeamMember> members;
    for (int i = 0; i < roles.size(); ++i)
        members.append(TeamMember{QString("user%1").arg(i), roles.at(i), {}, {}, false, {}});
    return members;
}

Widgets::StatusRow *row(const QWidget *page, const QString &name) {
    return page->findChild<Widgets::StatusRow *>(name);
}

// The shell as uninstall uses it: records what it was asked.
struct RecordingShell : ShellCommands {
    QString removalCommand;
    int tracesRemoved = 0;
    bool quitAsked = false;
    bool startsAtLogin() const override { return false; }
    bool setStartsAtLogin(bool, QString *) override { return false; }
    bool removeDesktopTraces(QString *) override { return ++tracesRemoved; }
    QString packageRemovalCommand() const override { return removalCommand; }
    void quit() override { quitAsked = true; }
};

} // namespace

// Counts AppState's change signals, so a test can say "nothing moved"
// (every write to a saved field signals too).
class ChangeCounter : public QObject {
    Q_OBJECT

public:
    int count = 0;

    explicit ChangeCounter(AppState *state) {
        const QMetaObject *meta = state->metaObject();
        const QMetaMethod hit = metaObject()->method(metaObject()->indexOfSlot("hit()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                connect(state, meta->method(i), this, hit);
        }
    }

public slots:
    void hit() { ++count; }
};

class TestDashboard : public QObject {
    Q_OBJECT

private:
    const QDateTime m_now = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 0), Qt::UTC);
    std::unique_ptr<GitHubTestBench> m_bench;
    std::unique_ptr<HealthCheckService> m_health;
    AppState *m_state = nullptr;

    UiContext context() const { return {m_state, m_bench->gitHub.get(), m_health.get()}; }

    template <typename View> std::unique_ptr<View> showWindow() {
        auto view = std::make_unique<View>(context());
        view->resize(800, 600);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qWarning("window not exposed");
        return view;
    }

    // acme/ops as a protection run leaves it, with bob as a collaborator.
    void provisionSignedIn() {
        QVERIFY(m_bench->signInDirect());
        m_state->setGitHubUsername(GitHubTestBench::user);
        chooseRepo(*m_state);
        QVERIFY(m_bench->provision(
            GovernanceFiles::compose(GitHubTestBench::user, GitHubTestBench::org)));
    }

    // Clicks and waits for the check it started to land.
    void clickAndWait(QWidget *page, const char *button) {
        QSignalSpy finished(m_health.get(), &HealthCheckService::healthCheckFinished);
        QTest::mouseClick(page->findChild<QPushButton *>(button), Qt::LeftButton);
        QVERIFY(finished.wait(30000));
    }

private slots:
    void initTestCase() {
        Style::initialize();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        m_state = m_bench->appState.get();
        m_state->setSetupComplete(true);
        m_health = std::make_unique<HealthCheckService>(m_bench->gitHub.get(), m_bench->tempLog(),
                                                        std::chrono::seconds(60),
                                                        [this] { return m_now; });
    }

    void cleanup() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_health.reset();
        m_bench.reset();
    }

    // --- Window and sidebar ---

    void aNewWindowStartsOnStatusAndEveryRowShowsItsPage() {
        {
            MainWindowView first(context());
            first.setSelectedItem(SidebarItem::security);
        }
        auto window = showWindow<MainWindowView>();
        QListWidget *sidebar = window->sidebar();
        QCOMPARE(sidebar->count(), 6);
        QCOMPARE(window->selectedItem(), SidebarItem::status);
        // Backwards, so that every row, Status included, is a change.
        const char *pages[] = {"statusPage",   "gitHubPage", "teamPage",
                               "securityPage", "auditPage",  "settingsPage"};
        for (int row = sidebar->count() - 1; row >= 0; --row) {
            QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {},
                              sidebar->visualItemRect(sidebar->item(row)).center());
            QCOMPARE(window->selectedItem(), allSidebarItems().at(row));
            QCOMPARE(window->currentPage()->objectName(), QString(pages[row]));
            QVERIFY(window->currentPage()->isVisible());
        }
    }

    // A ctrl-click on the selected row would clear a plain list's selection.
    void selectionAlwaysKeepsOneRow() {
        auto window = showWindow<MainWindowView>();
        QSignalSpy changes(window.get(), &MainWindowView::selectedItemChanged);
        QListWidget *sidebar = window->sidebar();
        QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          sidebar->visualItemRect(sidebar->item(0)).center());
        QCOMPARE(sidebar->selectedItems().size(), 1);
        QCOMPARE(window->selectedItem(), SidebarItem::status);
        QCOMPARE(changes.count(), 0);
    }

    // The keys move the page too, and the list shows where focus is.
    void sidebarAnswersTheKeyboardWithVisibleFocus() {
        auto window = showWindow<MainWindowView>();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QListWidget *sidebar = window->sidebar();
        const QRect current = sidebar->visualItemRect(sidebar->item(0));
        sidebar->clearFocus();
        const QImage unfocused = sidebar->viewport()->grab(current).toImage();
        sidebar->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(sidebar->hasFocus());
        QVERIFY2(sidebar->viewport()->grab(current).toImage() != unfocused, "no focus ring");
        QTest::keyClick(sidebar, Qt::Key_Down);
        QCOMPARE(window->selectedItem(), SidebarItem::gitHub);
        QCOMPARE(window->currentPage()->objectName(), QString("gitHubPage"));
    }

    void bannerComesAndGoesWithoutChangingThePage() {
        m_state->setIsSetupMode(true);
        {
            MainWindowView startedInSetupMode(context());
            QVERIFY(startedInSetupMode.banner()->isVisibleTo(&startedInSetupMode));
        }
        m_state->setIsSetupMode(false);
        auto window = showWindow<MainWindowView>();
        QWidget *banner = window->banner();
        QVERIFY(!banner->isVisible());
        window->setSelectedItem(SidebarItem::team);
        QWidget *page = window->currentPage();

        m_state->setIsSetupMode(true);
        QVERIFY(banner->isVisible());
        // Across the top, over both columns.
        QCOMPARE(banner->width(), window->width());
        m_state->setIsSetupMode(false);
        QVERIFY(!banner->isVisible());
        QCOMPARE(window->selectedItem(), SidebarItem::team);
        QCOMPARE(window->currentPage(), page);
    }

    // A page's own button may switch the page; the page must outlive its click.
    void aPageMaySwitchAwayFromItself() {
        auto window = showWindow<MainWindowView>();
        window->setSelectedItem(SidebarItem::settings);
        auto *button = window->currentPage()->findChild<QPushButton *>("uninstallButton");
        connect(button, &QPushButton::clicked, window.get(),
                [&window] { window->setSelectedItem(SidebarItem::status); });
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(window->currentPage()->objectName(), QString("statusPage"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(window->currentPage()->isVisible());
    }

    // --- Status ---

    void statusFollowsTheState() {
        StatusPageView page(context());
        QCOMPARE(labelText(&page, "statusLabel"), QString("Setup incomplete"));
        QVERIFY(shownIn(&page, "noTeamMembers"));

        // An organisation but no repository yet: its name with a grey cross.
        chooseRepo(*m_state);
        Widgets::StatusRow *gitHub = row(&page, "gitHubRow");
        QCOMPARE(gitHub->value(), QString("acme/ops"));
        QVERIFY(!gitHub->isOk());

        QCOMPARE(gitHub->accessibleName(), QString("GitHub"));
        QCOMPARE(gitHub->accessibleDescription(), QString("Not OK: acme/ops"));

        m_state->setMachineStatus(MachineStatusState::tamperAlert);
        QCOMPARE(labelText(&page, "statusLabel"), QString("Alert — check dashboard"));
        // The dot's colour alone would leave a screen reader with nothing.
        const auto *dot = page.findChild<QWidget *>("statusDot");
        QCOMPARE(dot->accessibleName(), QString("Machine status"));
        QCOMPARE(dot->accessibleDescription(), QString("Alert — check dashboard"));
        m_state->setSelectedOrg(std::nullopt);
        QCOMPARE(gitHub->value(), QString("Not connected"));

        // Refreshed tokens the keyring refused: the next launch needs a sign-in.
        QVERIFY(!shownIn(&page, "tokensUnsavedNote"));
        m_state->setGitHubTokensUnsaved(true);
        QVERIFY(shownIn(&page, "tokensUnsavedNote"));
        QVERIFY(labelText(&page, "tokensUnsavedNote").contains("next launch"));
    }

    void statusTeamCounts_data() {
        QTest::addColumn<QList<MachineRole>>("roles");
        QTest::addColumn<QStringList>("counts"); // admin, staff, freelancer ("" = hidden)
        QTest::newRow("mixed") << QList<R>{R::ceo, R::staff, R::staff, R::freelancer}
                               << QStringList{"1 admin", "2 staff", "1 freelancer"};
        QTest::newRow("managers count in no figure")
            << QList<R>{R::cto, R::cto} << QStringList{"0 admin", "0 staff", ""};
    }
    void statusTeamCounts() {
        QFETCH(QList<MachineRole>, roles);
        QFETCH(QStringList, counts);
        StatusPageView page(context());
        m_state->setTeamMembers(membersWithRoles(roles));
        QVERIFY(!shownIn(&page, "noTeamMembers"));
        QCOMPARE(labelText(&page, "adminCount"), counts[0]);
        QCOMPARE(labelText(&page, "staffCount"), counts[1]);
        QCOMPARE(shownIn(&page, "freelancerCount"), !counts[2].isEmpty());
        if (!counts[2].isEmpty())
            QCOMPARE(labelText(&page, "freelancerCount"), counts[2]);

        // A failed collaborator listing empties the list again.
        m_state->setTeamMembers({});
        QVERIFY(shownIn(&page, "noTeamMembers"));
        QVERIFY(!shownIn(&page, "teamCounts"));
    }

    // --- GitHub ---

    void gitHubPageFollowsTheState() {
        GitHubPageView page(context());
        QVERIFY(!shownIn(&page, "orgValue"));
        QVERIFY(shownIn(&page, "protectionNotEnabled"));

        m_state->setGitHubUsername("alice");
        chooseRepo(*m_state);
        m_state->setBranchProtectionEnabled(true);
        QCOMPARE(labelText(&page, "repoValue"), QString("acme/ops"));
        QCOMPARE(labelTexts(&page, "codeownersOwner"),
                 QStringList(GitHubPageView::governedPaths().size(), "@alice"));
        QVERIFY(!shownIn(&page, "protectionNotEnabled"));
    }

    // --- Team ---

    void teamEmptyStateAndItsLink() {
        TeamPageView page(context());
        QVERIFY(!shownIn(&page, "manageCollaboratorsLink"));
        chooseRepo(*m_state);
        QVERIFY(shownIn(&page, "manageCollaboratorsLink"));

        BrowserStub browser;
        page.show();
        QTest::mouseClick(page.findChild<QPushButton *>("manageCollaboratorsLink"), Qt::LeftButton);
        QCOMPARE(browser.opened, QList<QUrl>{m_bench->emulator.webUrl().resolved(
                                     QUrl("/acme/ops/settings/access"))});
    }

    void teamYouOnlyForAnExactMatch() {
        m_state->setGitHubUsername("alice");
        TeamPageView page(context());
        m_state->setTeamMembers(
            {{"Alice", R::ceo, {}, {}, false, {}}, {"alice2", R::ceo, {}, {}, false, {}}});
        QVERIFY(labelTexts(&page, "memberYou").isEmpty());
        m_state->setTeamMembers({{"alice", R::ceo, {}, {}, false, {}}});
        QCOMPARE(labelTexts(&page, "memberYou"), QStringList{"(you)"});
    }

    void teamRowsBadgesAndMachines() {
        TeamPageView page(context());
        m_state->setTeamMembers({{"alice", R::ceo, {}, {}, false, QString("alice-mbp")},
                                 {"carol", R::cto, {}, {}, false, {}},
                                 {"dave", R::freelancer, {}, {}, false, {}}});
        QCOMPARE(labelTexts(&page, "memberBadge"), QStringList({"Admin", "Manager", "Freelancer"}));
        QCOMPARE(labelTexts(&page, "memberMachine"), QStringList{"alice-mbp"});

        // A later check that finds nobody falls back to the empty state.
        m_state->setTeamMembers({});
        QVERIFY(shownIn(&page, "teamEmptyState"));
        QVERIFY(labelTexts(&page, "memberLogin").isEmpty());
    }

    // --- Security, Audit ---

    void securityProtectedFilesOnlyWithTheExtension() {
        SecurityPageView page(context());
        QVERIFY(!shownIn(&page, "protectedFiles"));
        m_state->setHelperRunning(true);
        m_state->setExtensionActive(true);
        QVERIFY(shownIn(&page, "protectedFiles"));
        m_state->setExtensionActive(false);
        QVERIFY(!shownIn(&page, "protectedFiles"));
    }

    // The page on a real trail: newest first, the chain line, and a live
    // refresh when an event is recorded while it is open.
    void auditPageShowsTheTrail_data() {
        QTest::addColumn<int>("events");
        QTest::addColumn<QByteArray>("from"); // replaced once in the file
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("chain");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("empty") << 0 << QByteArray() << QByteArray() << QString() << QStringList();
        QTest::newRow("intact") << 4 << QByteArray() << QByteArray()
                                << "The audit trail is intact: 4 events"
                                << QStringList{"four", "three", "<b>two</b>", "one"};
        QTest::newRow("line 3 edited") << 4 << QByteArray("three") << QByteArray("thr3e")
                                       << "The audit trail was altered after line 2"
                                       << QStringList{"four", "thr3e", "<b>two</b>", "one"};
    }
    void auditPageShowsTheTrail() {
        QFETCH(int, events);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, chain);
        QFETCH(QStringList, messages);
        QTemporaryDir dir;
        AuditRecorder audit(dir.path());
        const QStringList written{"one", "<b>two</b>", "three", "four"};
        for (int i = 0; i < events; ++i)
            QVERIFY(audit.record("drift", written.at(i)));
        if (!from.isEmpty()) {
            QFile file(audit.trail().filePath());
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray edited = file.readAll().replace(from, to);
            QVERIFY(file.seek(0) && file.write(edited) == edited.size());
        }
        UiContext withTrail = context();
        withTrail.audit = &audit;
        AuditPageView page(withTrail);
        QCOMPARE(shownIn(&page, "auditEmptyState"), events == 0);
        QCOMPARE(shownIn(&page, "auditChainState"), !chain.isEmpty());
        QCOMPARE(labelText(&page, "auditChainState"), chain);
        QCOMPARE(labelTexts(&page, "auditMessage"), messages);
        QCOMPARE(page.findChild<QPushButton *>("exportButton")->isEnabled(), events > 0);
        if (events > 0) {
            const QDateTime newest = audit.trail().records().first().time.toLocalTime();
            QCOMPARE(labelTexts(&page, "auditTimestamp").first(),
                     LocaleFormat::abbreviatedDate(newest) + ", " +
                         LocaleFormat::shortenedTime(newest));
            QCOMPARE(labelTexts(&page, "auditKind").first(), QString("drift"));
        }

        QVERIFY(audit.record("status", "five"));
        QVERIFY(!page.findChild<QWidget *>("auditEmptyState"));
        QCOMPARE(labelTexts(&page, "auditMessage").first(), QString("five"));
    }

    // Export through a stand-in for the save dialog; a JSON Lines copy must
    // still verify as a chain, and a failure must say so.
    void auditExport_data() {
        QTest::addColumn<bool>("csv");
        QTest::addColumn<QString>("name"); // under the temporary folder
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("json lines") << false << "out.jsonl" << QStringList();
        QTest::newRow("csv") << true << "out.csv"
                             << QStringList{"time,kind,message,actor,repository,commit", "signin",
                                            "commit"};
        QTest::newRow("missing folder") << false << "gone/out.jsonl" << QStringList();
    }
    void auditExport() {
        QFETCH(bool, csv);
        QFETCH(QString, name);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        AuditRecorder audit(dir.filePath("trail"));
        QVERIFY(audit.record("signin", "Signed in, as @alice", {{"actor", "alice"}}));
        QVERIFY(audit.record("commit", "Committed", {{"commit", "abc123"}}));
        UiContext withTrail = context();
        withTrail.audit = &audit;
        AuditPageView page(withTrail);
        QString offered;
        const QString target = dir.filePath(name);
        page.setExportChooser([&](QWidget *, const QString &defaultName) {
            offered = defaultName;
            return std::optional<AuditExportTarget>({target, csv});
        });
        QTest::mouseClick(page.findChild<QPushButton *>("exportButton"), Qt::LeftButton);
        QCOMPARE(offered, AuditExport::defaultFileName(QDate::currentDate(), false));

        const bool fails = name.contains('/');
        QCOMPARE(labelText(&page, "auditExportMessage")
                     .startsWith("The audit log could not be exported: "),
                 fails);
        QFile file(target);
        QCOMPARE(file.open(QIODevice::ReadOnly), !fails);
        if (fails)
            return;
        if (!csv) {
            const AuditVerdict verdict = AuditTrail::verifyFiles({target});
            QVERIFY(verdict.intact);
            QCOMPARE(verdict.lines, 2);
            return;
        }
        // Oldest first, one event a row, kind in the second column.
        const QStringList rows =
            QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), lines.size());
        QCOMPARE(rows.first(), lines.first());
        for (int i = 1; i < rows.size(); ++i)
            QCOMPARE(rows.at(i).section(',', 1, 1), lines.at(i));
        QVERIFY(rows.at(1).contains("\"Signed in, as @alice\",alice"));
    }

    void localeFormats_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("texts"); // standard time, abbreviated date, shortened time
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << QStringList{"2:05:09 PM", "Mar 1, 2026", "2:05 PM"};
        // Seconds already in the short format: not added twice.
        QTest::newRow("C") << QLocale::c() << QStringList{"14:05:09", "1 Mar 2026", "14:05:09"};
        // No separator before the minutes: the long form without its zone.
        QTest::newRow("fr_CA") << QLocale(QLocale::French, QLocale::Canada)
                               << QStringList{"14 h 05 min 09 s", "1 mars 2026", "14 h 05"};
    }
    void localeFormats() {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, texts);
        const QDateTime time(QDate(2026, 3, 1), QTime(14, 5, 9));
        QCOMPARE(QStringList({LocaleFormat::standardTime(time, locale),
                              LocaleFormat::abbreviatedDate(time, locale),
                              LocaleFormat::shortenedTime(time, locale)}),
                 texts);
    }

    // Buttons without a behaviour yet must not touch the state or its file.
    void inertButtonsChangeNothing_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("button");
        const auto add = [](SidebarItem page, const char *button) {
            QTest::newRow(button) << int(page) << QString(button);
        };
        add(SidebarItem::security, "verifyNowButton");
    }
    void inertButtonsChangeNothing() {
        QFETCH(int, page);
        QFETCH(QString, button);
        m_state->setGitHubUsername("alice");
        m_state->setSelectedOrg(GitHubOrg{7, "acme", true});
        auto window = showWindow<MainWindowView>();
        window->setSelectedItem(SidebarItem(page));
        auto *target = window->currentPage()->findChild<QPushButton *>(button);
        QVERIFY(target);
        ChangeCounter changes(m_state);
        QTest::mouseClick(target, Qt::LeftButton);
        QCOMPARE(changes.count, 0);
    }

    // --- Against the emulator ---

    void checkNowShowsProtectedThenDrift() {
        provisionSignedIn();
        StatusPageView page(context());
        page.show();
        clickAndWait(&page, "checkNowButton");
        QCOMPARE(labelText(&page, "statusLabel"), QString("Protected"));
        QCOMPARE(labelText(&page, "lastCheckLabel"),
                 "Last check: " + LocaleFormat::standardTime(m_now));
        for (const char *name : {"gitHubRow", "codeownersRow", "branchProtectionRow"})
            QVERIFY2(row(&page, name)->isOk(), name);
        QCOMPARE(labelText(&page, "staffCount"), QString("1 staff"));

        // Someone switches protection off behind the app's back.
        m_bench->emulator.removeProtection(GitHubTestBench::org, GitHubTestBench::repo);
        clickAndWait(&page, "checkNowButton");
        QCOMPARE(labelText(&page, "statusLabel"), QString("Alert \u2014 check dashboard"));
        QCOMPARE(row(&page, "branchProtectionRow")->value(), QString("Branch protection is off"));
        QVERIFY(row(&page, "governanceFilesRow")->isOk());
        QVERIFY(row(&page, "codeownersRow")->isOk());
    }

    void refreshFollowsTheCollaborators() {
        provisionSignedIn();
        TeamPageView page(context());
        page.show();
        clickAndWait(&page, "refreshButton");
        QVERIFY(labelTexts(&page, "memberLogin").contains("bob"));

        m_bench->emulator.addCollaborator(GitHubTestBench::org, GitHubTestBench::repo, "carol",
                                          "read");
        clickAndWait(&page, "refreshButton");
        QVERIFY(labelTexts(&page, "memberLogin").contains("carol"));
        QCOMPARE(labelText(&page, "teamSummary"),
                 QString("3 members · 1 admin · 1 staff · 1 freelancer"));

        // A failed listing empties the page back to its explanation.
        m_bench->emulator.injectFault("GET", "/repos/acme/ops/collaborators",
                                      GitHubEmulator::Fault::fixed(500, "{}"));
        clickAndWait(&page, "refreshButton");
        QVERIFY(labelTexts(&page, "memberLogin").isEmpty());
        QVERIFY(shownIn(&page, "teamEmptyState"));
    }

    // Protection weakened behind the app's back, then the page's own action:
    // confirmed, declined, or refused by GitHub with its reason.
    void restoreProtection_data() {
        QTest::addColumn<bool>("gitHubPage");
        QTest::addColumn<QString>("weakening"); // a rule, or empty: protection removed
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("refusal"); // GitHub's 403 message, or empty
        QTest::newRow("removed, status page") << false << QString() << true << QString();
        QTest::newRow("reviews dropped, github page")
            << true << "required_pull_request_reviews" << true << QString();
        QTest::newRow("declined") << false << QString() << false << QString();
        QTest::newRow("github refuses")
            << true << QString() << true << "Upgrade to GitHub Pro or make this repository public";
    }
    void restoreProtection() {
        QFETCH(bool, gitHubPage);
        QFETCH(QString, weakening);
        QFETCH(bool, confirm);
        QFETCH(QString, refusal);
        provisionSignedIn();
        QTemporaryDir dir;
        AuditRecorder audit(dir.path());
        UiContext withTrail = context();
        withTrail.audit = &audit;
        const std::unique_ptr<QWidget> page = shownPage(gitHubPage, withTrail);
        auto *action = page->findChild<RestoreProtectionAction *>();
        auto *button = page->findChild<QPushButton *>("restoreProtectionButton");
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        QVERIFY(!action->isVisible());

        const QString org = GitHubTestBench::org, repo = GitHubTestBench::repo;
        if (weakening.isEmpty())
            m_bench->emulator.removeProtection(org, repo);
        else
            QVERIFY(m_bench->emulator.weakenProtection(org, repo, weakening));
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        QVERIFY(action->isVisible());
        if (!refusal.isEmpty())
            m_bench->emulator.injectFault(
                "PUT", "/repos/acme/ops/branches/main/protection",
                GitHubEmulator::Fault::fixed(
                    403, QJsonDocument(QJsonObject{{"message", refusal}}).toJson()));
        m_bench->emulator.clearRequests();
        QStringList asked;
        action->setConfirmation([&](QWidget *, const QString &repository) {
            asked << repository;
            return confirm;
        });
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(asked, QStringList{"acme/ops"});
        if (!confirm) {
            QVERIFY(m_bench->apiCalls().isEmpty());
            QVERIFY(audit.trail().records().isEmpty());
            QVERIFY(button->isEnabled());
            return;
        }
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->text(), QString("Restoring…"));
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 30000);
        QCOMPARE(button->text(), QString("Restore Protection"));

        const QList<AuditRecord> records = audit.trail().records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().kind, QString("restore"));
        QCOMPARE(records.first().details.value("repository").toString(), QString("acme/ops"));
        if (refusal.isEmpty()) {
            QCOMPARE(m_bench->emulator.protectionOf(org, repo),
                     std::optional(GitHubTestBench::protectionRules()));
            QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
            QVERIFY(!action->isVisible());
            QCOMPARE(records.first().message, QString("Restored branch protection on acme/ops"));
        } else {
            QVERIFY(action->isVisible());
            QVERIFY(labelText(page.get(), "restoreProtectionMessage").contains(refusal));
            QCOMPARE(records.first().message,
                     "Restoring branch protection on acme/ops failed: " + refusal);
        }
    }

    // Closing the page mid-restore must neither crash nor lose the outcome.
    void pageGoneWhileRestoring() {
        provisionSignedIn();
        m_bench->emulator.removeProtection(GitHubTestBench::org, GitHubTestBench::repo);
        m_state->setBranchProtectionEnabled(false);
        QTemporaryDir dir;
        AuditRecorder audit(dir.path());
        UiContext withTrail = context();
        withTrail.audit = &audit;
        m_bench->emulator.setLatency(200);
        QSignalSpy finished(m_health.get(), &HealthCheckService::healthCheckFinished);
        {
            StatusPageView page(withTrail);
            page.show();
            page.findChild<RestoreProtectionAction *>()->setConfirmation(
                [](QWidget *, const QString &) { return true; });
            QTest::mouseClick(page.findChild<QPushButton *>("restoreProtectionButton"),
                              Qt::LeftButton);
        }
        QVERIFY(finished.wait(30000));
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
        QCOMPARE(audit.trail().records().size(), 1);
    }

    // The confirmation is modal; a page torn down while it is open (its
    // window closed behind it) answers Cancel and touches nothing after.
    void pageGoneWhileAsking() {
        provisionSignedIn();
        m_bench->emulator.removeProtection(GitHubTestBench::org, GitHubTestBench::repo);
        m_state->setBranchProtectionEnabled(false);
        auto *page = new StatusPageView(context());
        page->show();
        QTimer::singleShot(100, page, [page] { delete page; });
        QTest::mouseClick(page->findChild<QPushButton *>("restoreProtectionButton"),
                          Qt::LeftButton);
        QVERIFY(!m_bench->emulator.protectionOf(GitHubTestBench::org, GitHubTestBench::repo));
    }

    // A page torn down while its check is still out must not be touched
    // when the check lands.
    void pageGoneBeforeTheCheckLands() {
        provisionSignedIn();
        m_bench->emulator.setLatency(200);
        QSignalSpy finished(m_health.get(), &HealthCheckService::healthCheckFinished);
        {
            StatusPageView page(context());
            page.show();
            QTest::mouseClick(page.findChild<QPushButton *>("checkNowButton"), Qt::LeftButton);
        }
        QVERIFY(finished.wait(30000));
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
    }

    // --- Disconnect and uninstall ---

    void disconnect_data() {
        QTest::addColumn<bool>("gitHubPage");
        QTest::addColumn<QString>("situation"); // "", "declined", "relay down", "page closed"
        QTest::newRow("settings page") << false << "";
        QTest::newRow("github page, relay down") << true << "relay down";
        QTest::newRow("github page, closed mid-way") << true << "page closed";
        QTest::newRow("declined") << false << "declined";
    }
    void disconnect() {
        QFETCH(bool, gitHubPage);
        QFETCH(QString, situation);
        QVERIFY(m_bench->signIn());
        chooseRepo(*m_state);
        QVERIFY(m_bench->provision(
            GovernanceFiles::compose(GitHubTestBench::user, GitHubTestBench::org)));
        const QString token = *m_bench->gitHub->oauthToken();
        const QDir home(m_state->appDirectory());
        AuditRecorder audit(home.path());
        audit.record("setup", "Set up acme/ops");
        QVERIFY(QFile(home.filePath("baseline.json")).open(QIODevice::WriteOnly));
        QSignalSpy firstCheck(m_health.get(), &HealthCheckService::healthCheckFinished);
        m_health->startHeartbeat(m_state);
        QVERIFY(firstCheck.wait(30000));
        UiContext withTrail = context();
        withTrail.audit = &audit;
        auto *page = gitHubPage ? static_cast<QWidget *>(new GitHubPageView(withTrail))
                                : new SettingsPageView(withTrail);
        auto *actions = gitHubPage ? static_cast<GitHubPageView *>(page)->accountActions()
                                   : static_cast<SettingsPageView *>(page)->accountActions();
        QStringList asked;
        actions->setQuestion([&](QWidget *, const QString &, const QString &text, const QString &) {
            asked << text;
            return situation != "declined";
        });
        if (situation == "relay down")
            m_bench->relay.reset();
        if (situation == "page closed")
            m_bench->emulator.setLatency(300);
        page->show();
        QTest::mouseClick(page->findChild<QPushButton *>(gitHubPage ? "disconnectGitHubButton"
                                                                    : "disconnectButton"),
                          Qt::LeftButton);
        QCOMPARE(asked, QStringList{"KeelMark will stop watching acme/ops on this computer. The "
                                    "repository and its protection on GitHub stay as they are."});
        if (situation == "page closed")
            delete std::exchange(page, nullptr);
        const auto storedToken = [this] {
            return AsyncTest::waitFor(KeychainService::load(
                QString::fromLatin1(KeychainService::accessTokenKey), m_bench->credentialService));
        };
        if (situation == "declined") {
            QTest::qWait(100);
            QVERIFY(m_state->setupComplete() && m_health->isHeartbeatRunning());
            QCOMPARE(storedToken(), token);
            delete page;
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_state->setupComplete(), 30000);
        delete page;
        // The wizard opens at its GitHub step with nothing of the account left.
        QCOMPARE(m_state->currentSetupStep(), SetupStep::connectGitHub);
        QVERIFY(!m_state->gitHubConnected() && m_state->gitHubUsername().isEmpty());
        QVERIFY(!m_state->selectedOrg() && !m_health->isHeartbeatRunning());
        QCOMPARE(PersistenceService(home.path()).load().setupComplete, false);
        QCOMPARE(storedToken(), std::nullopt);
        QVERIFY(!m_bench->gitHub->oauthToken());
        // GitHub heard of it unless the relay was down, which the wizard says.
        QCOMPARE(m_bench->emulator.tokenIsValid(token), situation == "relay down");
        QCOMPARE(m_state->gitHubSignInProblem().contains("revoke"), situation == "relay down");
        // The baseline and the trail stay; the trail's chain goes on.
        QVERIFY(QFile::exists(home.filePath("baseline.json")));
        const QList<AuditRecord> records = audit.trail().records();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.first().kind, QString("disconnect"));
        QVERIFY(audit.trail().verify().intact);
    }

    void uninstall_data() {
        QTest::addColumn<QString>("exportChoice"); // "export", "skip", "cancel dialog"
        QTest::addColumn<QString>("command");      // the package's removal command
        QTest::newRow("export first, from a package") << "export"
                                                      << "sudo apt remove keelmark";
        QTest::newRow("no export, not from a package") << "skip"
                                                       << "";
        QTest::newRow("save dialog cancelled") << "cancel dialog"
                                               << "";
        QTest::newRow("export fails") << "unwritable"
                                      << "";
    }
    void uninstall() {
        QFETCH(QString, exportChoice);
        QFETCH(QString, command);
        QVERIFY(m_bench->signIn());
        const QString token = *m_bench->gitHub->oauthToken();
        // A home of its own, so that "nothing left" means nothing of ours.
        QTemporaryDir home;
        const QString appDir = home.filePath("io.keelmark.app");
        PersistenceService persistence(appDir);
        AppState state(&persistence);
        state.setSetupComplete(true);
        chooseRepo(state);
        AuditRecorder audit(appDir);
        audit.record("setup", "Set up acme/ops");
        QVERIFY(persistence.replaceFile("baseline.json", "{}"));
        RecordingShell shell;
        shell.removalCommand = command;
        SettingsPageView page({&state, m_bench->gitHub.get(), m_health.get(), &audit, &shell});
        AccountActions *actions = page.accountActions();
        actions->setQuestion(
            [](QWidget *, const QString &, const QString &, const QString &) { return true; });
        actions->setExportOffer([&](QWidget *) {
            return exportChoice == "skip" ? AccountActions::ExportChoice::skip
                                          : AccountActions::ExportChoice::exportFirst;
        });
        const QString exported = home.filePath(exportChoice == "unwritable" ? "missing/audit.jsonl"
                                                                            : "kept/audit.jsonl");
        QDir(home.path()).mkdir("kept");
        actions->setExportChooser([&](QWidget *, const QString &) {
            return exportChoice == "cancel dialog" ? std::nullopt
                                                   : std::optional(AuditExportTarget{exported});
        });
        QString notice;
        actions->setNotice([&](QWidget *, const QString &, const QString &text) { notice = text; });
        QTest::mouseClick(page.findChild<QPushButton *>("uninstallButton"), Qt::LeftButton);
        // Nothing goes unless the copy asked for was written.
        if (exportChoice == "cancel dialog" || exportChoice == "unwritable") {
            QTest::qWait(100);
            QVERIFY(!shell.quitAsked && QFile::exists(persistence.filePath()));
            QVERIFY(m_bench->emulator.tokenIsValid(token));
            QCOMPARE(labelText(&page, "uninstallMessage").contains("could not be exported"),
                     exportChoice == "unwritable");
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(shell.quitAsked, 30000);
        QCOMPARE(QFile::exists(exported), exportChoice == "export");
        QVERIFY2(!QDir(appDir).exists(), qPrintable(QDir(appDir).entryList().join(' ')));
        QCOMPARE(shell.tracesRemoved, 1);
        QVERIFY(!m_bench->emulator.tokenIsValid(token));
        QVERIFY(
            notice.contains(command.isEmpty() ? "remove it the way you installed it" : command));
        QVERIFY2(!notice.contains("Not everything"), qPrintable(notice));
    }

    // Governance files changed behind the app's back, then "Restore
    // Governance Files": the approved bytes back in one commit that uploads
    // no blob, protection on whatever happened, GitHub's words on failure.
    void restoreFiles_data() {
        QTest::addColumn<bool>("gitHubPage");
        QTest::addColumn<bool>("deleted");     // the file deleted rather than edited
        QTest::addColumn<bool>("provisional"); // no baseline recorded before the tamper
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("refusal");  // GitHub's 422 on moving main, or empty
        QTest::addColumn<bool>("reviewedToo"); // another file changed through an approved review
        QTest::newRow("edited, status page")
            << false << false << false << true << QString() << false;
        QTest::newRow("deleted, github page")
            << true << true << false << true << QString() << false;
        // The composed files' blobs never reached GitHub: their contents go up.
        QTest::newRow("no baseline recorded")
            << false << false << true << true << QString() << false;
        QTest::newRow("declined") << false << false << false << false << QString() << false;
        QTest::newRow("commit refused")
            << true << false << false << true << "Update is not a fast forward" << false;
        // The reviewed change is kept; only the drifted file goes back.
        QTest::newRow("beside a reviewed change")
            << false << false << false << true << QString() << true;
    }
    void restoreFiles() {
        QFETCH(bool, gitHubPage);
        QFETCH(bool, deleted);
        QFETCH(bool, provisional);
        QFETCH(bool, confirm);
        QFETCH(QString, refusal);
        QFETCH(bool, reviewedToo);
        const QString org = GitHubTestBench::org, repo = GitHubTestBench::repo;
        QList<FileEntry> approved = GovernanceFiles::compose(GitHubTestBench::user, org);
        const QString path = ".github/CODEOWNERS";
        QList<FileEntry> provisioned = approved;
        for (FileEntry &file : provisioned) {
            if (provisional && file.path == path)
                file.content += "# edited before KeelMark looked\n";
        }
        QVERIFY(m_bench->signInDirect());
        m_state->setGitHubUsername(GitHubTestBench::user);
        chooseRepo(*m_state);
        QVERIFY(m_bench->provision(provisioned));
        QTemporaryDir dir;
        AuditRecorder audit(dir.path());
        UiContext withTrail = context();
        withTrail.audit = &audit;
        const std::unique_ptr<QWidget> page = shownPage(gitHubPage, withTrail);
        auto *action = page->findChild<RestoreFilesAction *>();
        if (!provisional) {
            AsyncTest::waitFor(m_health->performHealthCheck(m_state));
            QVERIFY(!action->isVisible());
        }
        if (reviewedToo) {
            const QByteArray reviewed = "# Reviewed\n";
            const auto merged = m_bench->emulator.pullRequestAs(
                org, repo, "bob", {{"CLAUDE.md", reviewed}}, {GitHubTestBench::user}, "bob");
            QVERIFY2(!merged.mergeSha.isEmpty(), qPrintable(merged.message));
            for (FileEntry &file : approved) {
                if (file.path == "CLAUDE.md")
                    file.content = QString::fromUtf8(reviewed);
            }
        }
        const QString tampered = m_bench->emulator.writeFileDirect(
            org, repo, path, deleted ? std::nullopt : std::optional<QByteArray>("* @mallory\n"),
            "Take over");
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        QVERIFY(action->isVisible());
        if (!refusal.isEmpty())
            m_bench->emulator.injectFault(
                "PATCH", "/repos/acme/ops/git/refs/heads/main",
                GitHubEmulator::Fault::fixed(
                    422, QJsonDocument(QJsonObject{{"message", refusal}}).toJson()));
        m_bench->emulator.clearRequests();
        QStringList asked;
        action->setConfirmation([&](QWidget *, RestoreFilesAction::Command command,
                                    const QString &repository, const QStringList &paths) {
            asked << repository + ' ' + paths.join(',');
            return command == RestoreFilesAction::Command::restore && confirm;
        });
        auto *button = page->findChild<QPushButton *>("restoreFilesButton");
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(asked, QStringList{"acme/ops " + path});
        if (!confirm) {
            QVERIFY(m_bench->apiCalls().isEmpty());
            QVERIFY(audit.trail().records().isEmpty());
            return;
        }
        QCOMPARE(button->text(), QString("Restoring…"));
        QVERIFY(!page->findChild<QPushButton *>("acceptChangeButton")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 30000);

        QVERIFY(m_bench->emulator.requests("POST", "/repos/acme/ops/git/blobs").isEmpty());
        QCOMPARE(m_bench->emulator.protectionOf(org, repo),
                 std::optional(GitHubTestBench::protectionRules()));
        const QList<AuditRecord> records = audit.trail().records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().kind, QString("restore"));
        const QString head = m_bench->emulator.mainHeadSha(org, repo);
        if (!refusal.isEmpty()) {
            QCOMPARE(head, tampered);
            QVERIFY(action->isVisible());
            QVERIFY(labelText(page.get(), "restoreFilesMessage").contains(refusal));
            QVERIFY(records.first().message.endsWith("failed: " + refusal));
            return;
        }
        QCOMPARE(m_bench->emulator.commitParents(org, repo, head), QStringList{tampered});
        for (const FileEntry &file : approved)
            QCOMPARE(m_bench->emulator.fileOnMain(org, repo, file.path),
                     std::optional(file.content.toUtf8()));
        QCOMPARE(records.first().details.value("commit").toString(), head);
        // The restore commit itself is no drift: the files are the approved ones.
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
        QVERIFY(!action->isVisible());
    }

    // "Accept This Change": main's files become the approved baseline, owned
    // by the one who accepted, and later checks measure against them.
    void acceptMovesTheBaseline() {
        provisionSignedIn();
        QTemporaryDir dir;
        AuditRecorder audit(dir.path());
        UiContext withTrail = context();
        withTrail.audit = &audit;
        StatusPageView page(withTrail);
        page.show();
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        const QString head = m_bench->emulator.writeFileDirect(
            GitHubTestBench::org, GitHubTestBench::repo, "CLAUDE.md", "# Ours now\n", "Edit");
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        QCOMPARE(m_state->machineStatus(), MachineStatusState::tamperAlert);
        page.findChild<RestoreFilesAction *>()->setConfirmation(
            [](QWidget *, RestoreFilesAction::Command command, const QString &,
               const QStringList &) { return command == RestoreFilesAction::Command::accept; });
        auto *button = page.findChild<QPushButton *>("acceptChangeButton");
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 30000);

        const PersistenceService persistence(m_state->appDirectory());
        const auto baseline = BaselineStore(persistence).load();
        QVERIFY(baseline);
        QCOMPARE(baseline->commitSha, head);
        QCOMPARE(baseline->acceptedBy, GitHubTestBench::user);
        QCOMPARE(baseline->blobIds.value("CLAUDE.md"),
                 GovernanceBlobIds::ofContent("# Ours now\n"));
        QCOMPARE(audit.trail().records().size(), 1);
        QCOMPARE(audit.trail().records().first().kind, QString("accept"));
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
        // Nothing is written to GitHub, and the next check stays clean.
        QVERIFY(m_bench->emulator.mainHeadSha(GitHubTestBench::org, GitHubTestBench::repo) == head);
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
    }

    // Closing the page mid-restore must neither crash nor lose the outcome.
    void pageGoneWhileRestoringFiles() {
        provisionSignedIn();
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        m_bench->emulator.writeFileDirect(GitHubTestBench::org, GitHubTestBench::repo, "CLAUDE.md",
                                          "# Ours now\n");
        AsyncTest::waitFor(m_health->performHealthCheck(m_state));
        QTemporaryDir dir;
        AuditRecorder audit(dir.path());
        UiContext withTrail = context();
        withTrail.audit = &audit;
        m_bench->emulator.setLatency(100);
        QSignalSpy finished(m_health.get(), &HealthCheckService::healthCheckFinished);
        {
            GitHubPageView page(withTrail);
            page.show();
            page.findChild<RestoreFilesAction *>()->setConfirmation(
                [](QWidget *, RestoreFilesAction::Command, const QString &, const QStringList &) {
                    return true;
                });
            QTest::mouseClick(page.findChild<QPushButton *>("restoreFilesButton"), Qt::LeftButton);
        }
        QVERIFY(finished.wait(30000));
        QCOMPARE(m_state->machineStatus(), MachineStatusState::protected_);
        QCOMPARE(audit.trail().records().size(), 1);
    }

    // A lost sign-in on both surfaces that show the status: the sentence,
    // "Reconnect GitHub" starting the browser sign-in, Cancel, a failed
    // reconnect's message; nothing of it before setup has finished.
    void reconnectOffered_data() {
        QTest::addColumn<QString>("surface");
        QTest::newRow("status page") << "status";
        QTest::newRow("popover") << "popover";
        QTest::newRow("github page") << "github";
    }
    void reconnectOffered() {
        QFETCH(QString, surface);
        BrowserStub browser;
        std::unique_ptr<QWidget> view;
        if (surface == "popover")
            view = std::make_unique<MenuBarPopoverView>(context(), nullptr, nullptr);
        else if (surface == "github")
            view = std::make_unique<GitHubPageView>(context());
        else
            view = std::make_unique<StatusPageView>(context());
        view->show();
        QVERIFY(!shownIn(view.get(), "reconnectGitHub"));
        m_state->setCheckSignInRefused(true);
        QVERIFY(shownIn(view.get(), "signInLostText"));
        QVERIFY(labelText(view.get(), "signInLostText")
                    .startsWith("GitHub no longer accepts KeelMark's sign-in."));

        QTest::mouseClick(view->findChild<QPushButton *>("reconnectGitHubButton"), Qt::LeftButton);
        QCOMPARE(browser.opened.size(), 1);
        QCOMPARE(browser.opened.first().path(), QString("/login/oauth/authorize"));
        QVERIFY(!shownIn(view.get(), "reconnectGitHubButton"));
        QCOMPARE(labelText(view.get(), "reconnectProgressText"),
                 QString("Waiting for your browser…"));
        QTest::mouseClick(view->findChild<QPushButton *>("cancelReconnectButton"), Qt::LeftButton);
        QVERIFY(shownIn(view.get(), "reconnectGitHubButton"));
        QVERIFY(!shownIn(view.get(), "reconnectProgressText"));

        const QString refusal = "You signed in as @bob, but acme/ops is governed by @alice.";
        m_state->setGitHubSignInProblem(refusal);
        QVERIFY(shownIn(view.get(), "reconnectProblemText"));
        QCOMPARE(labelText(view.get(), "reconnectProblemText"), refusal);
        m_state->setSetupComplete(false);
        QVERIFY(!shownIn(view.get(), "reconnectGitHub"));
    }

    // --- Starting at login and updates ---

    // The switch shows what the desktop holds: a refusal leaves it as it
    // was and says why.
    void startAtLoginSwitch_data() {
        QTest::addColumn<bool>("wasOn");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<bool>("nowOn");
        QTest::newRow("turned on") << false << false << true;
        QTest::newRow("turned off") << true << false << false;
        QTest::newRow("refused") << false << true << false;
    }
    void startAtLoginSwitch() {
        QFETCH(bool, wasOn);
        QFETCH(bool, refuse);
        FakeShell shell;
        shell.on = wasOn;
        UiContext withShell = context();
        withShell.shell = &shell;
        SettingsPageView page(withShell);
        page.show();
        auto *box = page.findChild<QCheckBox *>("startAtLoginSwitch");
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->isChecked(), wasOn);
        shell.refuse = refuse;
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QCOMPARE(shell.loginChanges, 1);
        QTEST(box->isChecked(), "nowOn");
        QTEST(shell.on, "nowOn");
        QCOMPARE(shownIn(&page, "startAtLoginError"), refuse);
        if (refuse)
            QVERIFY(labelText(&page, "startAtLoginError").endsWith("read-only"));
    }

    // Tags as releases name them against the running version, no server.
    void versionComparison_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("verdict");
        using V = ReleaseVersion::Verdict;
        const auto row = [](const char *name, const char *tag, const char *current, V verdict) {
            QTest::newRow(name) << QString(tag) << QString(current) << int(verdict);
        };
        row("newer patch", "v1.0.1", "1.0.0", V::newer);
        row("newer without v", "2.0.0", "1.9.9", V::newer);
        row("numeric, not text", "v1.10.0", "1.9.0", V::newer);
        row("same", "v1.0.0", "1.0.0", V::notNewer);
        row("same, fewer parts", "v1.2", "1.2.0", V::notNewer);
        row("older", "v0.9.12", "1.0.0", V::notNewer);
        row("pre-release tag", "v1.1.0-beta.1", "1.0.0", V::notNewer);
        row("release of a running pre-release", "v1.1.0", "1.1.0-rc.2", V::newer);
        row("build metadata", "v1.0.0+42", "1.0.0", V::notNewer);
        row("not a version", "nightly", "1.0.0", V::unknown);
        row("empty tag", "", "1.0.0", V::unknown);
        row("overlong number", "v12345678901.0", "1.0.0", V::unknown);
    }
    void versionComparison() {
        QFETCH(QString, tag);
        QFETCH(QString, current);
        QTEST(int(ReleaseVersion::compare(tag, current)), "verdict");
    }

    // "Check for updates" against the emulator's releases of acme/keelmark
    // with version 1.2.0 running.
    void updateCheck_data() {
        QTest::addColumn<QStringList>("tags"); // oldest first; "pre:" marks a pre-release
        QTest::addColumn<QString>("repository");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<bool>("offersRelease");
        const QString repo = "acme/keelmark";
        const QString upToDate = "KeelMark is up to date.";
        QTest::newRow("newer") << QStringList{"v1.2.0", "v1.3.0"} << repo
                               << "KeelMark 1.3.0 is available." << true;
        QTest::newRow("same") << QStringList{"v1.2.0"} << repo << upToDate << false;
        QTest::newRow("older") << QStringList{"v1.1.9"} << repo << upToDate << false;
        QTest::newRow("newer only as pre-release")
            << QStringList{"v1.2.0", "pre:v1.3.0-rc.1"} << repo << upToDate << false;
        QTest::newRow("no releases") << QStringList{} << repo << upToDate << false;
        QTest::newRow("GitHub unreachable") << QStringList{} << "unreachable"
                                            << "Could not check for updates." << false;
        QTest::newRow("packages bring updates")
            << QStringList{"v9.0.0"} << ""
            << "Updates come with your system's packages." << false;
    }
    void updateCheck() {
        QFETCH(QStringList, tags);
        QFETCH(QString, repository);
        QFETCH(bool, offersRelease);
        QVERIFY(m_bench->signInDirect());
        m_bench->emulator.clearRequests();
        m_bench->emulator.createRepoDirect("acme", "keelmark", {.isPrivate = false});
        for (const QString &tag : tags) {
            const bool pre = tag.startsWith("pre:");
            m_bench->emulator.addRelease("acme", "keelmark", pre ? tag.mid(4) : tag,
                                         {.prerelease = pre});
        }
        // Nothing listens on port 1 of the loopback address.
        GitHubEndpoints offline = m_bench->endpoints();
        offline.apiBaseUrl = "http://127.0.0.1:1";
        GitHubService unreachable(offline, m_bench->tempLog());
        const bool reachable = repository != "unreachable";
        UpdateCheckDialog dialog(reachable ? m_bench->gitHub.get() : &unreachable,
                                 reachable ? repository : "acme/keelmark", "1.2.0");
        QList<QUrl> opened;
        dialog.setUrlOpener([&opened](const QUrl &url) { opened.append(url); });
        dialog.show();
        QSignalSpy answered(&dialog, &UpdateCheckDialog::answered);
        dialog.check();
        QVERIFY(!answered.isEmpty() || answered.wait(20000));
        QTEST(labelText(&dialog, "updateHeadline"), "headline");
        QCOMPARE(shownIn(&dialog, "viewReleaseButton"), offersRelease);
        QCOMPARE(shownIn(&dialog, "retryUpdateCheckButton"), !reachable);
        if (!reachable)
            QVERIFY(labelText(&dialog, "updateDetail").startsWith("GitHub could not be reached: "));
        if (offersRelease) {
            QTest::mouseClick(dialog.findChild<QPushButton *>("viewReleaseButton"), Qt::LeftButton);
            QCOMPARE(opened.size(), 1);
            QCOMPARE(opened.first().path(), QString("/acme/keelmark/releases/tag/v1.3.0"));
        }
        // Asked once, only when there is a repository, and without the
        // user's token: an update check tells GitHub nothing about them.
        const auto calls = m_bench->requests(GitHubEmulator::Host::Api);
        QCOMPARE(calls.size(), reachable && !repository.isEmpty() ? 1 : 0);
        if (!calls.isEmpty()) {
            QCOMPARE(calls.first().rawPath, QString("/repos/acme/keelmark/releases/latest"));
            for (const auto &header : calls.first().headers)
                QVERIFY(header.first != "authorization");
        }
    }

    // A dialog closed while GitHub is still answering must not be touched
    // when the answer lands.
    void updateDialogClosedWhileChecking() {
        m_bench->emulator.createRepoDirect("acme", "keelmark", {.isPrivate = false});
        m_bench->emulator.setLatency(200);
        {
            UpdateCheckDialog dialog(m_bench->gitHub.get(), "acme/keelmark", "1.2.0");
            dialog.show();
            dialog.check();
            QVERIFY(dialog.isChecking());
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_bench->requests(GitHubEmulator::Host::Api).size(), 1, 10000);
        QTest::qWait(400);
    }
};

QTEST_MAIN(TestDashboard)
#include "TestDashboard.moc"
