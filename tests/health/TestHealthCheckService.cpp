#include "GitHubTestBench.h"
#include "GovernanceFiles.h"
#include "HealthCheckService.h"

#include <QSignalSpy>
#include <QTest>

namespace {
const QDateTime kNow = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 0), Qt::UTC);
const QString kProtectionPath = QStringLiteral("/repos/acme/ops/branches/main/protection");
} // namespace

class TestHealthCheckService : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;
    std::unique_ptr<HealthCheckService> m_service;

    GitHubEmulator &emulator() { return m_bench->emulator; }
    AppState &state() { return *m_bench->appState; }

    void makeService(std::chrono::milliseconds interval, QDateTime now = kNow) {
        m_service = std::make_unique<HealthCheckService>(m_bench->gitHub.get(), m_bench->tempLog(),
                                                         interval, [now] { return now; });
    }

    void check() { AsyncTest::waitFor(m_service->performHealthCheck(&state())); }

    bool bobListed() {
        for (const TeamMember &member : state().teamMembers()) {
            if (member.gitHubUsername == "bob")
                return true;
        }
        return false;
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUpSignedIn(&error), qPrintable(error));
        QVERIFY(m_bench->provision(GovernanceFiles::compose("alice", "acme")));
        makeService(std::chrono::seconds(60));
    }

    void cleanup() {
        m_service.reset();
        m_bench.reset();
    }

    // A good check first (its sub-checks overlapping), so that every change
    // made after it is visible.
    void drift_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("facts"); // repository, CODEOWNERS, protection, team
        QTest::addColumn<MachineStatusState>("status");
        const auto ok = MachineStatusState::protected_;
        const auto setup = MachineStatusState::setupMode;
        const struct {
            const char *name, *kind, *facts;
            MachineStatusState status;
        } rows[] = {
            // clang-format off
            {"no drift", "", "1111", ok},
            {"owner handle extended", "extended", "1011", setup},
            {"protection removed", "unprotected", "1101", setup},
            {"repository deleted", "repoGone", "0000", setup},
            {"collaborators failing", "noTeam", "1110", ok},
            {"GitHub unreachable", "offline", "0000", setup},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.kind << row.facts << row.status;
    }

    void drift() {
        QFETCH(QString, kind);
        QFETCH(QString, facts);
        QFETCH(MachineStatusState, status);
        // The four sub-checks are in flight at the same time.
        emulator().setLatency(100);
        emulator().resetPeak();
        check();
        QCOMPARE(emulator().peakInFlight(), 4);
        emulator().setLatency(0);
        QCOMPARE(state().machineStatus(), MachineStatusState::protected_);
        QCOMPARE(state().lastHeartbeat(), std::optional<QDateTime>(kNow));

        const QString codeowners = QStringLiteral(".github/CODEOWNERS");
        if (kind == "extended")
            emulator().writeFileDirect(
                "acme", "ops", codeowners,
                GovernanceFiles::compose("alice-evil", "acme").first().content.toUtf8());
        else if (kind == "unprotected")
            emulator().removeProtection("acme", "ops");
        else if (kind == "repoGone")
            QVERIFY(emulator().deleteRepo("acme", "ops"));
        else if (kind == "noTeam")
            emulator().injectFault("GET", "/repos/acme/ops/collaborators",
                                   GitHubEmulator::Fault::fixed(500, R"({"message":"Error"})"));
        else if (kind == "offline")
            emulator().injectFault("*", "/**", GitHubEmulator::Fault::drop());
        check();

        QString seen;
        for (bool fact : {state().repoCreated(), state().codeownersValid(),
                          state().branchProtectionEnabled(), bobListed()})
            seen += fact ? u'1' : u'0';
        QCOMPARE(seen, facts);
        if (facts[3] == u'0')
            QVERIFY(state().teamMembers().isEmpty());
        QCOMPARE(state().machineStatus(), status);
    }

    void skippedCheckChangesNothing_data() {
        QTest::addColumn<bool>("withOrg");
        QTest::addColumn<QString>("repo");
        QTest::newRow("no organisation") << false << "ops";
        QTest::newRow("no repository name") << true << "";
    }

    void skippedCheckChangesNothing() {
        QFETCH(bool, withOrg);
        QFETCH(QString, repo);
        check();
        if (!withOrg)
            state().setSelectedOrg(std::nullopt);
        state().setRepoName(repo);
        emulator().clearRequests();
        makeService(std::chrono::seconds(60), kNow.addSecs(60));
        QSignalSpy status(&state(), &AppState::machineStatusChanged);
        check();
        QVERIFY(emulator().requests().isEmpty());
        QCOMPARE(state().lastHeartbeat(), std::optional<QDateTime>(kNow));
        QVERIFY(state().codeownersValid());
        QCOMPARE(status.count(), 0);
    }

    // A check that started first but answers last holds older facts.
    void staleResultsNeverOverwriteNewerOnes() {
        emulator().injectFault("GET", "/repos/acme/ops/collaborators",
                               GitHubEmulator::Fault::latency(1500, 1));
        QSignalSpy finished(m_service.get(), &HealthCheckService::healthCheckFinished);
        auto early = m_service->performHealthCheck(&state());

        // The early check has seen main protected; then protection goes.
        QTRY_VERIFY_WITH_TIMEOUT(emulator().requests("GET", kProtectionPath).value(0).status == 200,
                                 30000);
        emulator().removeProtection("acme", "ops");
        check();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), true);
        QVERIFY(!state().branchProtectionEnabled());

        QSignalSpy protection(&state(), &AppState::branchProtectionEnabledChanged);
        AsyncTest::waitFor(std::move(early));
        QCOMPARE(finished.count(), 2);
        QCOMPARE(finished[1][0].toBool(), false);
        QCOMPARE(state().machineStatus(), MachineStatusState::setupMode);
        QCOMPARE(protection.count(), 0);
    }

    void heartbeatChecksAtOnceThenRepeats() {
        // The first check does not wait for the (here very long) interval.
        QSignalSpy first(m_service.get(), &HealthCheckService::healthCheckFinished);
        m_service->startHeartbeat(&state());
        QVERIFY(m_service->isHeartbeatRunning());
        QTRY_COMPARE_WITH_TIMEOUT(first.count(), 1, 30000);

        makeService(std::chrono::milliseconds(50));
        QSignalSpy finished(m_service.get(), &HealthCheckService::healthCheckFinished);
        m_service->startHeartbeat(&state());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 3, 30000);
        QCOMPARE(state().machineStatus(), MachineStatusState::protected_);

        // Checks still in flight outlive the service and end quietly.
        const qsizetype seen = finished.count();
        m_service.reset();
        QTRY_COMPARE_WITH_TIMEOUT(emulator().inFlight(), 0, 30000);
        QVERIFY(AsyncTest::waitFor(m_bench->gitHub->repoExists("acme", "ops")));
        QCOMPARE(finished.count(), seen);
    }

    // "@" + owner as a whole handle, never a prefix of a longer one.
    void codeownersNamesOwner_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("names");
        QTest::newRow("empty owner")
            << GovernanceFiles::compose("", "acme").first().content << "" << false;
        const struct {
            const char *name, *text;
            bool names;
        } rows[] = {{"before CRLF", "/a @alice\r\n", true},
                    {"second occurrence whole", "/a @alice2 @alice", true},
                    {"e-mail address", "/a bob@alice", false},
                    {"handle with punctuation", "/a @alice,", false}};
        for (const auto &row : rows)
            QTest::newRow(row.name) << QString::fromUtf8(row.text) << "alice" << row.names;
    }

    void codeownersNamesOwner() {
        QFETCH(QString, text);
        QFETCH(QString, owner);
        QFETCH(bool, names);
        QCOMPARE(HealthCheckService::codeownersNamesOwner(text, owner), names);
    }
};

QTEST_GUILESS_MAIN(TestHealthCheckService)
#include "TestHealthCheckService.moc"
