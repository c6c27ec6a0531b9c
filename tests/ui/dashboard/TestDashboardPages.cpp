#include "AuditPageView.h"
#include "DashboardTestSupport.h"
#include "GitHubPageView.h"
#include "GitHubService.h"
#include "LocaleFormat.h"
#include "PageWidgets.h"
#include "SecurityPageView.h"
#include "SettingsPageView.h"
#include "StatusPageView.h"
#include "Style.h"
#include "TeamPageView.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(QList<MachineRole>)

namespace {

QList<TeamMember> membersWithRoles(const QList<MachineRole> &roles) {
    QList<TeamMember> members;
    for (int i = 0; i < roles.size(); ++i) {
        TeamMember member;
        member.gitHubUsername = QStringLiteral("user%1").arg(i);
        member.role = roles.at(i);
        members.append(member);
    }
    return members;
}

StatusRow *row(const QWidget *page, const QString &name) {
    return page->findChild<StatusRow *>(name);
}

QStringList memberLogins(const QWidget *page) {
    QStringList logins;
    for (QLabel *label : page->findChildren<QLabel *>("memberLogin"))
        logins.append(label->text());
    return logins;
}

} // namespace

// Receives the addresses the pages hand to the default browser.
class BrowserCapture : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

class TestDashboardPages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Style::initialize();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    // --- Status ---

    void statusBeforeAnyCheck() {
        DashboardState state;
        StatusPageView page(state.context());
        QCOMPARE(textOf(&page, "statusLabel"), QString("Setup incomplete"));
        QCOMPARE(textOf(&page, "lastCheckLabel"), QString("No health check run yet"));
        QCOMPARE(row(&page, "gitHubRow")->value(), QString("Not connected"));
        QCOMPARE(row(&page, "codeownersRow")->value(), QString("Not verified"));
        QCOMPARE(row(&page, "branchProtectionRow")->value(), QString("Not enabled"));
        QCOMPARE(row(&page, "helperRow")->value(), QString("Not installed (Phase 2)"));
        QCOMPARE(row(&page, "extensionRow")->value(), QString("Not installed (Phase 3)"));
        QCOMPARE(row(&page, "signatureRow")->value(), QString("Not available (Phase 2)"));
        for (StatusRow *statusRow : page.findChildren<StatusRow *>())
            QCOMPARE(statusRow->symbol()->symbolName(), QString("xmark.circle"));
        QVERIFY(shownIn(labelNamed(&page, "noTeamMembers"), &page));
        QVERIFY(!shownIn(page.findChild<QWidget *>("teamCounts"), &page));
    }

    void statusFollowsTheHealthCheckFields() {
        DashboardState state;
        AppState *s = state.appState.get();
        StatusPageView page(state.context());

        // An organisation but no repository yet: its name with a grey cross.
        s->setSelectedOrg(GitHubOrg{7, "acme", true});
        s->setRepoName("ops");
        StatusRow *gitHub = row(&page, "gitHubRow");
        QCOMPARE(gitHub->value(), QString("acme/ops"));
        QCOMPARE(gitHub->symbol()->symbolName(), QString("xmark.circle"));
        QCOMPARE(textColor(gitHub->valueLabel()), Style::color(Style::Color::secondaryLabel));

        s->setGitHubUsername("alice");
        s->setRepoCreated(true);
        s->setCodeownersValid(true);
        s->setBranchProtectionEnabled(true);
        s->setMachineStatus(MachineStatusState::protected_);
        QCOMPARE(gitHub->symbol()->symbolName(), QString("checkmark.circle.fill"));
        QCOMPARE(gitHub->symbol()->symbolColor(), Style::color(Style::Color::green));
        QCOMPARE(textColor(gitHub->valueLabel()), Style::color(Style::Color::label));
        QCOMPARE(row(&page, "codeownersRow")->value(), QString("Active (@alice)"));
        QCOMPARE(row(&page, "branchProtectionRow")->value(),
                 QString("Enabled (reviews required, CODEOWNERS enforced)"));
        QCOMPARE(textOf(&page, "statusLabel"), QString("Protected"));
        QCOMPARE(page.findChild<SymbolLabel *>("statusDot")->symbolColor(), s->statusColor());

        const QDateTime checked(QDate(2026, 3, 1), QTime(14, 5, 9));
        s->setLastHeartbeat(checked);
        QCOMPARE(textOf(&page, "lastCheckLabel"), QString("Last check: 2:05:09 PM"));

        s->setMachineStatus(MachineStatusState::tamperAlert);
        QCOMPARE(textOf(&page, "statusLabel"), QString("Alert — check dashboard"));
        s->setSelectedOrg(std::nullopt);
        QCOMPARE(gitHub->value(), QString("Not connected"));
    }

    void statusLocalSecurityFlags() {
        DashboardState state;
        StatusPageView page(state.context());
        state.appState->setHelperRunning(true);
        state.appState->setExtensionActive(true);
        state.appState->setSignatureValid(true);
        QCOMPARE(row(&page, "helperRow")->value(), QString("Running"));
        QCOMPARE(row(&page, "extensionRow")->value(), QString("Active"));
        QCOMPARE(row(&page, "signatureRow")->value(), QString("Valid"));
    }

    void statusTeamCounts_data() {
        QTest::addColumn<QList<MachineRole>>("roles");
        QTest::addColumn<QString>("admins");
        QTest::addColumn<QString>("staff");
        QTest::addColumn<QString>("freelancers"); // empty: label hidden

        using R = MachineRole;
        QTest::newRow("mixed") << QList<R>{R::ceo, R::staff, R::staff, R::freelancer} << "1 admin"
                               << "2 staff"
                               << "1 freelancer";
        QTest::newRow("freelancers only") << QList<R>{R::freelancer, R::freelancer} << "0 admin"
                                          << "0 staff"
                                          << "2 freelancer";
        QTest::newRow("managers count in no figure") << QList<R>{R::cto, R::cto} << "0 admin"
                                                     << "0 staff"
                                                     << "";
        QTest::newRow("admin and manager") << QList<R>{R::ceo, R::cto} << "1 admin"
                                           << "0 staff"
                                           << "";
    }

    void statusTeamCounts() {
        QFETCH(QList<MachineRole>, roles);
        QFETCH(QString, admins);
        QFETCH(QString, staff);
        QFETCH(QString, freelancers);

        DashboardState state;
        StatusPageView page(state.context());
        state.appState->setTeamMembers(membersWithRoles(roles));
        QVERIFY(!shownIn(labelNamed(&page, "noTeamMembers"), &page));
        QCOMPARE(textOf(&page, "adminCount"), admins);
        QCOMPARE(textOf(&page, "staffCount"), staff);
        QCOMPARE(shownIn(labelNamed(&page, "freelancerCount"), &page), !freelancers.isEmpty());
        if (!freelancers.isEmpty())
            QCOMPARE(textOf(&page, "freelancerCount"), freelancers);

        // A failed collaborator listing empties the list again.
        state.appState->setTeamMembers({});
        QVERIFY(shownIn(labelNamed(&page, "noTeamMembers"), &page));
        QVERIFY(!shownIn(page.findChild<QWidget *>("teamCounts"), &page));
    }

    // --- GitHub ---

    void gitHubConnectionBlock() {
        DashboardState state;
        AppState *s = state.appState.get();
        GitHubPageView page(state.context());

        // Nothing signed in: bare "@" everywhere, no organisation lines.
        QCOMPARE(textOf(&page, "accountValue"), QString("@"));
        QVERIFY(!shownIn(labelNamed(&page, "orgValue"), &page));
        QVERIFY(!shownIn(labelNamed(&page, "repoValue"), &page));
        const auto owners = page.findChildren<QLabel *>("codeownersOwner");
        QCOMPARE(owners.size(), GitHubPageView::governedPaths().size());
        for (QLabel *owner : owners)
            QCOMPARE(owner->text(), QString("@"));

        s->setGitHubUsername("alice");
        s->setSelectedOrg(GitHubOrg{7, "acme", true});
        s->setRepoName("ops");
        QCOMPARE(textOf(&page, "accountValue"), QString("@alice"));
        QVERIFY(shownIn(labelNamed(&page, "orgValue"), &page));
        QCOMPARE(textOf(&page, "orgValue"), QString("acme"));
        QCOMPARE(textOf(&page, "repoValue"), QString("acme/ops"));
        for (QLabel *owner : owners)
            QCOMPARE(owner->text(), QString("@alice"));
    }

    void gitHubProtectionReadOut() {
        DashboardState state;
        GitHubPageView page(state.context());
        auto *enabled = page.findChild<QWidget *>("protectionEnabled");
        QVERIFY(!shownIn(enabled, &page));
        QVERIFY(shownIn(labelNamed(&page, "protectionNotEnabled"), &page));
        QCOMPARE(textOf(&page, "protectionNotEnabled"), QString("Not enabled"));

        state.appState->setBranchProtectionEnabled(true);
        QVERIFY(shownIn(enabled, &page));
        QVERIFY(!shownIn(labelNamed(&page, "protectionNotEnabled"), &page));
        QStringList checks;
        for (QLabel *label : enabled->findChildren<QLabel *>()) {
            if (!label->text().isEmpty())
                checks.append(label->text());
        }
        QCOMPARE(checks,
                 QStringList({"Required reviews", "CODEOWNERS", "No force push", "No delete"}));
    }

    // --- Team ---

    void teamEmptyStateAndItsLink() {
        DashboardState state;
        GitHubEndpoints endpoints;
        endpoints.webBaseUrl = "https://github.example";
        GitHubService gitHub(endpoints);
        UiContext context = state.context();
        context.gitHub = &gitHub;
        TeamPageView page(context);

        auto *link = page.findChild<QPushButton *>("manageCollaboratorsLink");
        QVERIFY(shownIn(page.findChild<QWidget *>("teamEmptyState"), &page));
        QVERIFY(!shownIn(link, &page));

        state.appState->setSelectedOrg(GitHubOrg{7, "acme", true});
        state.appState->setRepoName("ops");
        QVERIFY(shownIn(link, &page));
        QCOMPARE(link->text(), QString("Manage collaborators on GitHub \u2192"));

        BrowserCapture browser;
        QDesktopServices::setUrlHandler("https", &browser, "open");
        page.show();
        QTest::mouseClick(link, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(browser.opened,
                 QList<QUrl>{QUrl("https://github.example/acme/ops/settings/access")});
    }

    void teamYouOnlyForAnExactMatch_data() {
        QTest::addColumn<QString>("member");
        QTest::addColumn<bool>("you");
        QTest::newRow("same login") << "alice" << true;
        QTest::newRow("other case") << "Alice" << false;
        QTest::newRow("longer login") << "alice2" << false;
        QTest::newRow("someone else") << "bob" << false;
    }

    void teamYouOnlyForAnExactMatch() {
        QFETCH(QString, member);
        QFETCH(bool, you);
        DashboardState state;
        state.appState->setGitHubUsername("alice");
        TeamPageView page(state.context());
        TeamMember teamMember;
        teamMember.gitHubUsername = member;
        teamMember.role = MachineRole::ceo;
        state.appState->setTeamMembers({teamMember});

        QCOMPARE(memberLogins(&page), QStringList{member});
        QCOMPARE(page.findChild<QLabel *>("memberYou") != nullptr, you);
        if (you)
            QCOMPARE(textOf(&page, "memberYou"), QString("(you)"));
    }

    void teamRowsBadgesAndMachines() {
        DashboardState state;
        TeamPageView page(state.context());
        TeamMember admin{"alice", MachineRole::ceo, {}, {}, false, QString("alice-mbp")};
        TeamMember manager{"carol", MachineRole::cto, {}, {}, false, {}};
        TeamMember freelancer{"dave", MachineRole::freelancer, {}, {}, false, {}};
        state.appState->setTeamMembers({admin, manager, freelancer});

        QVERIFY(!shownIn(page.findChild<QWidget *>("teamEmptyState"), &page));
        QCOMPARE(memberLogins(&page), QStringList({"alice", "carol", "dave"}));
        QStringList badges;
        for (QLabel *badge : page.findChildren<QLabel *>("memberBadge"))
            badges.append(badge->text());
        QCOMPARE(badges, QStringList({"Admin", "Manager", "Freelancer"}));
        const auto machines = page.findChildren<QLabel *>("memberMachine");
        QCOMPARE(machines.size(), 1);
        QCOMPARE(machines.first()->text(), QString("alice-mbp"));
        QCOMPARE(textOf(&page, "teamSummary"),
                 QString("3 members \u00B7 1 admin \u00B7 1 freelancer"));

        // A later check that finds nobody falls back to the empty state.
        state.appState->setTeamMembers({});
        QVERIFY(shownIn(page.findChild<QWidget *>("teamEmptyState"), &page));
        QVERIFY(memberLogins(&page).isEmpty());
        QVERIFY(!page.findChild<QLabel *>("teamSummary"));
    }

    void teamSummary_data() {
        QTest::addColumn<QList<MachineRole>>("roles");
        QTest::addColumn<QString>("summary");
        using R = MachineRole;
        QTest::newRow("one admin") << QList<R>{R::ceo} << "1 members \u00B7 1 admin";
        QTest::newRow("staff only") << QList<R>{R::staff, R::staff} << "2 members \u00B7 2 staff";
        QTest::newRow("managers only in the total") << QList<R>{R::cto, R::cto} << "2 members";
        QTest::newRow("all roles") << QList<R>{R::freelancer, R::staff, R::ceo, R::cto, R::staff}
                                   << "5 members \u00B7 1 admin \u00B7 2 staff \u00B7 1 freelancer";
    }

    void teamSummary() {
        QFETCH(QList<MachineRole>, roles);
        QFETCH(QString, summary);
        QCOMPARE(TeamPageView::summary(membersWithRoles(roles)), summary);
    }

    // --- Security ---

    void securityFlags() {
        DashboardState state;
        SecurityPageView page(state.context());
        QCOMPARE(row(&page, "helperStatusRow")->value(), QString("Not installed (Phase 2)"));
        QCOMPARE(row(&page, "watchdogRow")->value(), QString("Not active"));
        QCOMPARE(row(&page, "extensionStatusRow")->value(), QString("Not active"));
        QCOMPARE(row(&page, "signatureStatusRow")->value(), QString("Not verified"));
        QVERIFY(!shownIn(page.findChild<QWidget *>("protectedFiles"), &page));

        state.appState->setHelperRunning(true);
        state.appState->setExtensionActive(true);
        QCOMPARE(row(&page, "helperStatusRow")->value(), QString("Running as root"));
        QCOMPARE(row(&page, "watchdogRow")->value(), QString("every 5 min"));
        QCOMPARE(row(&page, "extensionStatusRow")->value(), QString("Active"));
        // The values on this page stay secondary even when ok.
        QCOMPARE(textColor(row(&page, "helperStatusRow")->valueLabel()),
                 Style::color(Style::Color::secondaryLabel));
        QVERIFY(shownIn(page.findChild<QWidget *>("protectedFiles"), &page));
        QStringList files;
        for (QLabel *file : page.findChildren<QLabel *>("protectedFile"))
            files.append(file->text());
        QCOMPARE(files, QStringList({"managed-settings.json", "CLAUDE.md", "load-core.sh",
                                     "keelmark.sig"}));

        state.appState->setExtensionActive(false);
        QVERIFY(!shownIn(page.findChild<QWidget *>("protectedFiles"), &page));
    }

    // --- Audit ---

    void auditEmptyState() {
        DashboardState state;
        AuditPageView page(state.context());
        QVERIFY(page.findChild<QWidget *>("auditEmptyState"));
        QVERIFY(page.findChildren<QWidget *>("auditEventRow").isEmpty());
        QStringList texts;
        for (QLabel *label : page.findChild<QWidget *>("auditEmptyState")->findChildren<QLabel *>())
            texts.append(label->text());
        QVERIFY(texts.contains("No events yet"));
        QVERIFY(texts.contains(
            "Events will appear here as the system monitors your governance configuration."));
    }

    void auditRowsKeepTheirOrder() {
        DashboardState state;
        const QDateTime later(QDate(2026, 3, 2), QTime(9, 15));
        const QDateTime earlier(QDate(2026, 3, 1), QTime(17, 40));
        AuditPageView page(state.context(), {{later, "drift", "Branch protection removed"},
                                             {earlier, "check", "<b>not bold</b>"}});
        QVERIFY(!page.findChild<QWidget *>("auditEmptyState"));
        const auto rows = page.findChildren<QWidget *>("auditEventRow");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(textOf(rows.at(0), "auditTimestamp"), QString("Mar 2, 2026, 9:15 AM"));
        QCOMPARE(textOf(rows.at(0), "auditKind"), QString("drift"));
        QCOMPARE(textOf(rows.at(1), "auditTimestamp"), QString("Mar 1, 2026, 5:40 PM"));
        QCOMPARE(textOf(rows.at(1), "auditMessage"), QString("<b>not bold</b>"));
        QCOMPARE(labelNamed(rows.at(1), "auditMessage")->textFormat(), Qt::PlainText);
    }

    void localeFormats_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("standardTime");
        QTest::addColumn<QString>("abbreviatedDate");
        QTest::addColumn<QString>("shortenedTime");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << "2:05:09 PM"
                               << "Mar 1, 2026"
                               << "2:05 PM";
        QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom) << "14:05:09"
                               << "1 Mar 2026"
                               << "14:05";
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << "14:05:09"
                               << "1. März 2026"
                               << "14:05";
        QTest::newRow("fr_FR") << QLocale(QLocale::French, QLocale::France) << "14:05:09"
                               << "1 mars 2026"
                               << "14:05";
        QTest::newRow("ja_JP") << QLocale(QLocale::Japanese, QLocale::Japan) << "14:05:09"
                               << "2026年3月1日"
                               << "14:05";
        // Seconds already in the short format: not added twice.
        QTest::newRow("C") << QLocale::c() << "14:05:09"
                           << "1 Mar 2026"
                           << "14:05:09";
        // No separator before the minutes: the long form without its zone.
        QTest::newRow("fr_CA") << QLocale(QLocale::French, QLocale::Canada) << "14 h 05 min 09 s"
                               << "1 mars 2026"
                               << "14 h 05";
    }

    void localeFormats() {
        QFETCH(QLocale, locale);
        QFETCH(QString, standardTime);
        QFETCH(QString, abbreviatedDate);
        QFETCH(QString, shortenedTime);
        const QDateTime time(QDate(2026, 3, 1), QTime(14, 5, 9));
        QCOMPARE(LocaleFormat::standardTime(time, locale), standardTime);
        QCOMPARE(LocaleFormat::abbreviatedDate(time, locale), abbreviatedDate);
        QCOMPARE(LocaleFormat::shortenedTime(time, locale), shortenedTime);
    }

    // --- Settings ---

    void settingsAccountLine() {
        DashboardState state;
        SettingsPageView page(state.context());
        QCOMPARE(textOf(&page, "connectedAccount"), QString("@"));
        state.appState->setGitHubUsername("alice");
        QCOMPARE(textOf(&page, "connectedAccount"), QString("@alice"));
        QCOMPARE(textOf(&page, "versionLabel"), QString("KeelMark v1.0.0"));
        QCOMPARE(textOf(&page, "dangerZoneTitle"), QString("Danger Zone"));
    }

    // Buttons without a behaviour yet must not touch the state or its file.
    void inertButtonsChangeNothing_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("disconnect github") << "github"
                                           << "disconnectGitHubButton"
                                           << "Disconnect GitHub";
        QTest::newRow("verify") << "security"
                                << "verifyNowButton"
                                << "Verify Now";
        QTest::newRow("re-sign") << "security"
                                 << "reSignFilesButton"
                                 << "Re-sign Files";
        QTest::newRow("export") << "audit"
                                << "exportButton"
                                << "Export";
        QTest::newRow("disconnect") << "settings"
                                    << "disconnectButton"
                                    << "Disconnect";
        QTest::newRow("transfer") << "settings"
                                  << "transferAuthorityButton"
                                  << "Transfer authority \u2192";
        QTest::newRow("updates") << "settings"
                                 << "checkForUpdatesButton"
                                 << "Check for updates";
        QTest::newRow("uninstall") << "settings"
                                   << "uninstallButton"
                                   << "Uninstall KeelMark";
    }

    void inertButtonsChangeNothing() {
        QFETCH(QString, page);
        QFETCH(QString, button);
        QFETCH(QString, text);
        DashboardState state;
        state.appState->setGitHubUsername("alice");
        state.appState->setSelectedOrg(GitHubOrg{7, "acme", true});
        const QByteArray fileBefore = state.stateFile();

        std::unique_ptr<QWidget> view;
        if (page == "github")
            view = std::make_unique<GitHubPageView>(state.context());
        else if (page == "security")
            view = std::make_unique<SecurityPageView>(state.context());
        else if (page == "audit")
            view = std::make_unique<AuditPageView>(state.context());
        else
            view = std::make_unique<SettingsPageView>(state.context());
        view->show();
        auto *target = view->findChild<QPushButton *>(button);
        QVERIFY(target);
        QCOMPARE(target->text(), text);

        ChangeCounter changes(state.appState.get());
        QTest::mouseClick(target, Qt::LeftButton);
        QCOMPARE(changes.count, 0);
        QCOMPARE(state.stateFile(), fileBefore);
    }
};

QTEST_MAIN(TestDashboardPages)
#include "TestDashboardPages.moc"
