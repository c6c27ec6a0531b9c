#include "DashboardTestSupport.h"
#include "DiagnosticLog.h"
#include "GovernanceFiles.h"
#include "GovernanceTestBed.h"
#include "HealthCheckService.h"
#include "LocaleFormat.h"
#include "PageWidgets.h"
#include "StatusPageView.h"
#include "Style.h"
#include "TeamPageView.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// "Check Now" and "Refresh" run a real health check against the emulator;
// the pages follow what the check writes.
class TestDashboardHealthCheck : public QObject {
    Q_OBJECT

private:
    const QDateTime m_now = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 0), Qt::UTC);
    std::unique_ptr<GovernanceTestBed> m_bed;
    std::unique_ptr<HealthCheckService> m_health;
    QTemporaryDir m_logDir;

    UiContext context() const {
        return UiContext{m_bed->appState.get(), m_bed->gitHub.get(), m_health.get()};
    }

    void provision() {
        GitHubEmulator &emulator = m_bed->emulator;
        QVERIFY(emulator.createRepoDirect(GovernanceTestBed::org, "ops"));
        for (const FileEntry &file :
             GovernanceFiles::compose(GovernanceTestBed::owner, GovernanceTestBed::org))
            emulator.writeFileDirect(GovernanceTestBed::org, "ops", file.path,
                                     file.content.toUtf8());
        emulator.setProtection(GovernanceTestBed::org, "ops",
                               QJsonObject{{"enforce_admins", true}});
        emulator.addCollaborator(GovernanceTestBed::org, "ops", "bob", "write");
    }

    // Clicks and waits for the check it started to land.
    void clickAndWait(QWidget *page, const QString &button) {
        auto *target = page->findChild<QPushButton *>(button);
        QVERIFY(target);
        QSignalSpy finished(m_health.get(), &HealthCheckService::healthCheckFinished);
        QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(finished.wait(30000));
    }

    static QStringList logins(const QWidget *page) {
        QStringList result;
        for (QLabel *label : page->findChildren<QLabel *>("memberLogin"))
            result.append(label->text());
        return result;
    }

private slots:
    void initTestCase() {
        Style::initialize();
        QVERIFY(m_logDir.isValid());
        DiagnosticLog::setTempLogPathForTesting(m_logDir.filePath("keelmark-debug.log"));
    }

    void cleanupTestCase() { DiagnosticLog::setTempLogPathForTesting(QString()); }

    void init() {
        m_bed = std::make_unique<GovernanceTestBed>();
        QString error;
        QVERIFY2(m_bed->setUp(&error), qPrintable(error));
        m_health = std::make_unique<HealthCheckService>(
            m_bed->gitHub.get(), std::chrono::seconds(60), [this] { return m_now; });
    }

    void cleanup() {
        m_health.reset();
        m_bed.reset();
    }

    void checkNowShowsProtectedThenDrift() {
        provision();
        StatusPageView page(context());
        page.show();
        QCOMPARE(textOf(&page, "statusLabel"), QString("Setup incomplete"));
        QCOMPARE(textOf(&page, "lastCheckLabel"), QString("No health check run yet"));

        clickAndWait(&page, "checkNowButton");
        QCOMPARE(textOf(&page, "statusLabel"), QString("Protected"));
        QCOMPARE(textOf(&page, "lastCheckLabel"),
                 "Last check: " + LocaleFormat::standardTime(m_now));
        for (const char *name : {"gitHubRow", "codeownersRow", "branchProtectionRow"})
            QVERIFY2(page.findChild<StatusRow *>(name)->isOk(), name);
        QCOMPARE(page.findChild<StatusRow *>("codeownersRow")->value(), QString("Active (@alice)"));
        QVERIFY(!shownIn(labelNamed(&page, "noTeamMembers"), &page));
        QCOMPARE(textOf(&page, "staffCount"), QString("1 staff"));

        // Someone switches protection off behind the app's back.
        m_bed->emulator.removeProtection(GovernanceTestBed::org, "ops");
        clickAndWait(&page, "checkNowButton");
        QCOMPARE(textOf(&page, "statusLabel"), QString("Setup incomplete"));
        QCOMPARE(page.findChild<StatusRow *>("branchProtectionRow")->value(),
                 QString("Not enabled"));
        QVERIFY(page.findChild<StatusRow *>("gitHubRow")->isOk());
        QVERIFY(page.findChild<StatusRow *>("codeownersRow")->isOk());
    }

    void refreshFollowsTheCollaborators() {
        provision();
        TeamPageView page(context());
        page.show();
        QVERIFY(shownIn(page.findChild<QWidget *>("teamEmptyState"), &page));

        clickAndWait(&page, "refreshButton");
        QVERIFY(logins(&page).contains("bob"));
        QVERIFY(!shownIn(page.findChild<QWidget *>("teamEmptyState"), &page));

        m_bed->emulator.addCollaborator(GovernanceTestBed::org, "ops", "carol", "read");
        clickAndWait(&page, "refreshButton");
        QVERIFY(logins(&page).contains("carol"));
        QVERIFY(textOf(&page, "teamSummary").contains(QString("1 freelancer")));

        // A failed listing empties the page back to its explanation.
        m_bed->emulator.injectFault("GET", "/repos/acme/ops/collaborators",
                                    GitHubEmulator::Fault::fixed(500, "{}"));
        clickAndWait(&page, "refreshButton");
        QVERIFY(logins(&page).isEmpty());
        QVERIFY(shownIn(page.findChild<QWidget *>("teamEmptyState"), &page));
    }

    // A page torn down while its check is still out must not be touched
    // when the check lands.
    void pageGoneBeforeTheCheckLands() {
        provision();
        m_bed->emulator.setLatency(200);
        QSignalSpy finished(m_health.get(), &HealthCheckService::healthCheckFinished);
        {
            StatusPageView page(context());
            page.show();
            QTest::mouseClick(page.findChild<QPushButton *>("checkNowButton"), Qt::LeftButton);
        }
        QVERIFY(finished.wait(30000));
        QCOMPARE(m_bed->appState->machineStatus(), MachineStatusState::protected_);
    }
};

QTEST_MAIN(TestDashboardHealthCheck)
#include "TestDashboardHealthCheck.moc"
