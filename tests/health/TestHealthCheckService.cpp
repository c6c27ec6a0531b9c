#include "DiagnosticLog.h"
#include "GovernanceFiles.h"
#include "GovernanceTestBed.h"
#include "HealthCheckService.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 0), Qt::UTC);
const QString kCodeowners = QStringLiteral(".github/CODEOWNERS");

QJsonObject someRules() {
    return QJsonObject{
        {"required_status_checks", QJsonValue::Null},
        {"enforce_admins", true},
        {"required_pull_request_reviews", QJsonObject{{"required_approving_review_count", 1},
                                                      {"require_code_owner_reviews", true},
                                                      {"dismiss_stale_reviews", true}}},
        {"restrictions", QJsonValue::Null}};
}

} // namespace

class TestHealthCheckService : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GovernanceTestBed> m_bed;
    std::unique_ptr<HealthCheckService> m_service;
    QTemporaryDir m_logDir;

    // The repository as the protection run leaves it, plus one collaborator.
    void provision() {
        GitHubEmulator &emulator = m_bed->emulator;
        QVERIFY(emulator.createRepoDirect(GovernanceTestBed::org, "ops"));
        for (const FileEntry &file :
             GovernanceFiles::compose(GovernanceTestBed::owner, GovernanceTestBed::org)) {
            emulator.writeFileDirect(GovernanceTestBed::org, "ops", file.path,
                                     file.content.toUtf8());
        }
        emulator.setProtection(GovernanceTestBed::org, "ops", someRules());
        emulator.addCollaborator(GovernanceTestBed::org, "ops", "bob", "write");
        emulator.clearRequests();
    }

    void check() { AsyncTest::waitFor(m_service->performHealthCheck(m_bed->appState.get())); }

    QStringList logLines() const {
        QFile file(DiagnosticLog::tempLogPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    bool hasMember(const QString &login) const {
        for (const TeamMember &member : m_bed->appState->teamMembers()) {
            if (member.gitHubUsername == login)
                return true;
        }
        return false;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_logDir.isValid());
        DiagnosticLog::setTempLogPathForTesting(m_logDir.filePath("keelmark-debug.log"));
    }

    void cleanupTestCase() { DiagnosticLog::setTempLogPathForTesting(QString()); }

    void init() {
        QFile::remove(DiagnosticLog::tempLogPath());
        m_bed = std::make_unique<GovernanceTestBed>();
        QString error;
        QVERIFY2(m_bed->setUp(&error), qPrintable(error));
        m_service = std::make_unique<HealthCheckService>(
            m_bed->gitHub.get(), std::chrono::seconds(60), [] { return kNow; });
    }

    void cleanup() {
        m_service.reset();
        m_bed.reset();
    }

    void provisionedRepositoryIsProtected() {
        provision();
        check();
        AppState &state = *m_bed->appState;
        QVERIFY(state.repoCreated());
        QVERIFY2(state.codeownersValid(), qPrintable(logLines().join(u'\n')));
        QVERIFY(state.branchProtectionEnabled());
        QCOMPARE(state.machineStatus(), MachineStatusState::protected_);
        QCOMPARE(state.lastHeartbeat(), std::optional<QDateTime>(kNow));
        QVERIFY(hasMember("bob"));

        const QStringList lines = logLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), QStringLiteral("[2026-03-01 09:15:00 +0000] performHealthCheck: "
                                             "org=acme, repo=ops, username=alice"));
        QCOMPARE(lines.at(1), QStringLiteral("[2026-03-01 09:15:00 +0000] CODEOWNERS check: "
                                             "found=true, looking for @alice"));
    }

    void drift_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("repoCreated");
        QTest::addColumn<bool>("codeownersValid");
        QTest::addColumn<bool>("protectionEnabled");
        QTest::addColumn<bool>("teamListed");
        QTest::addColumn<MachineStatusState>("status");

        const auto protectedState = MachineStatusState::protected_;
        const auto setupMode = MachineStatusState::setupMode;
        QTest::newRow("owner handle extended")
            << "extended" << true << false << true << true << setupMode;
        QTest::newRow("ownership file deleted")
            << "deleted" << true << false << true << true << setupMode;
        QTest::newRow("protection removed")
            << "unprotected" << true << true << false << true << setupMode;
        QTest::newRow("repository deleted")
            << "repoGone" << false << false << false << false << setupMode;
        QTest::newRow("collaborators failing")
            << "noTeam" << true << true << true << false << protectedState;
        QTest::newRow("GitHub unreachable")
            << "offline" << false << false << false << false << setupMode;
    }

    void drift() {
        QFETCH(QString, kind);
        QFETCH(bool, repoCreated);
        QFETCH(bool, codeownersValid);
        QFETCH(bool, protectionEnabled);
        QFETCH(bool, teamListed);
        QFETCH(MachineStatusState, status);

        provision();
        check(); // a good check first, so every change below is visible
        QCOMPARE(m_bed->appState->machineStatus(), MachineStatusState::protected_);

        GitHubEmulator &emulator = m_bed->emulator;
        const QString org = GovernanceTestBed::org;
        if (kind == "extended") {
            QString text = GovernanceFiles::compose("alice-evil", org).first().content;
            emulator.writeFileDirect(org, "ops", kCodeowners, text.toUtf8());
        } else if (kind == "deleted") {
            emulator.writeFileDirect(org, "ops", kCodeowners, std::nullopt);
        } else if (kind == "unprotected") {
            emulator.removeProtection(org, "ops");
        } else if (kind == "repoGone") {
            QVERIFY(emulator.deleteRepo(org, "ops"));
        } else if (kind == "noTeam") {
            emulator.injectFault(
                "GET", "/repos/acme/ops/collaborators",
                GitHubEmulator::Fault::fixed(500, R"({"message":"Server Error"})"));
        } else if (kind == "offline") {
            emulator.injectFault("*", "/**", GitHubEmulator::Fault::drop());
        }
        check();

        AppState &state = *m_bed->appState;
        QCOMPARE(state.repoCreated(), repoCreated);
        QCOMPARE(state.codeownersValid(), codeownersValid);
        QCOMPARE(state.branchProtectionEnabled(), protectionEnabled);
        QCOMPARE(hasMember("bob"), teamListed);
        if (!teamListed)
            QVERIFY(state.teamMembers().isEmpty());
        QCOMPARE(state.machineStatus(), status);
        if (kind == "deleted")
            QVERIFY(logLines().contains(
                "[2026-03-01 09:15:00 +0000] CODEOWNERS check failed: fileWriteFailed"));
        if (kind == "extended")
            QVERIFY(logLines().contains(
                "[2026-03-01 09:15:00 +0000] CODEOWNERS check: found=false, looking for @alice"));
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
        provision();
        check();
        if (!withOrg)
            m_bed->appState->setSelectedOrg(std::nullopt);
        m_bed->appState->setRepoName(repo);
        m_bed->emulator.clearRequests();
        QFile::remove(DiagnosticLog::tempLogPath());

        m_service = std::make_unique<HealthCheckService>(
            m_bed->gitHub.get(), std::chrono::seconds(60), [] { return kNow.addSecs(60); });
        QSignalSpy status(m_bed->appState.get(), &AppState::machineStatusChanged);
        check();
        QVERIFY(m_bed->emulator.requests().isEmpty());
        QCOMPARE(m_bed->appState->lastHeartbeat(), std::optional<QDateTime>(kNow));
        QCOMPARE(m_bed->appState->machineStatus(), MachineStatusState::protected_);
        QVERIFY(m_bed->appState->codeownersValid());
        QCOMPARE(status.count(), 0);
        const QString stamp = QStringLiteral("[2026-03-01 09:16:00 +0000] ");
        QCOMPARE(logLines(),
                 (QStringList{stamp + "performHealthCheck: org=" + (withOrg ? "acme" : "nil") +
                                  ", repo=" + repo + ", username=alice",
                              stamp + QString::fromUtf8("performHealthCheck: SKIPPED — org or "
                                                        "repoName is empty")}));
    }

    void subChecksRunConcurrently() {
        provision();
        m_bed->emulator.setLatency(150);
        m_bed->emulator.resetPeak();
        check();
        QCOMPARE(m_bed->emulator.peakInFlight(), 4);
        QCOMPARE(m_bed->appState->machineStatus(), MachineStatusState::protected_);
    }

    // A check that started first but answers last holds older facts.
    void staleResultsNeverOverwriteNewerOnes() {
        provision();
        GitHubEmulator &emulator = m_bed->emulator;
        emulator.injectFault("GET", "/repos/acme/ops/collaborators",
                             GitHubEmulator::Fault::latency(1500, 1));
        QSignalSpy finished(m_service.get(), &HealthCheckService::healthCheckFinished);
        auto early = m_service->performHealthCheck(m_bed->appState.get());

        // The early check has seen main protected; then protection goes.
        const QString protectionPath = "/repos/acme/ops/branches/main/protection";
        QTRY_VERIFY_WITH_TIMEOUT(!emulator.requests("GET", protectionPath).isEmpty() &&
                                     emulator.requests("GET", protectionPath).first().status == 200,
                                 30000);
        emulator.removeProtection(GovernanceTestBed::org, "ops");
        check();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(!m_bed->appState->branchProtectionEnabled());

        QSignalSpy protection(m_bed->appState.get(), &AppState::branchProtectionEnabledChanged);
        AsyncTest::waitFor(std::move(early));
        QCOMPARE(finished.count(), 2);
        QCOMPARE(finished.at(1).first().toBool(), false);
        QVERIFY(!m_bed->appState->branchProtectionEnabled());
        QCOMPARE(m_bed->appState->machineStatus(), MachineStatusState::setupMode);
        QCOMPARE(protection.count(), 0);
    }

    void heartbeatChecksAtOnceThenRepeats() {
        provision();
        m_service = std::make_unique<HealthCheckService>(
            m_bed->gitHub.get(), std::chrono::milliseconds(50), [] { return kNow; });
        QSignalSpy finished(m_service.get(), &HealthCheckService::healthCheckFinished);
        QVERIFY(!m_service->isHeartbeatRunning());
        m_service->startHeartbeat(m_bed->appState.get());
        // The first check is under way before control returns.
        QVERIFY(
            logLines().value(0).endsWith("performHealthCheck: org=acme, repo=ops, username=alice"));
        QVERIFY(m_service->isHeartbeatRunning());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 3, 30000);
        QCOMPARE(m_bed->appState->machineStatus(), MachineStatusState::protected_);

        // Checks still in flight outlive the service and end quietly.
        const qsizetype seen = finished.count();
        m_service.reset();
        QTRY_COMPARE_WITH_TIMEOUT(m_bed->emulator.inFlight(), 0, 30000);
        QVERIFY(AsyncTest::waitFor(m_bed->gitHub->repoExists(GovernanceTestBed::org, "ops")));
        QCOMPARE(finished.count(), seen);
    }

    void codeownersNamesOwner_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("names");

        const QString written = GovernanceFiles::compose("alice", "acme").first().content;
        QTest::newRow("file written for the owner") << written << "alice" << true;
        QTest::newRow("non-ASCII owner")
            << GovernanceFiles::compose(QString::fromUtf8("Zoë"), "acme").first().content
            << QString::fromUtf8("Zoë") << true;
        QTest::newRow("longer handle")
            << QString(written).replace("@alice", "@alice-evil") << "alice" << false;
        QTest::newRow("empty owner") << written << "" << false;
        QTest::newRow("handle at end of text") << "/docs/ @alice"
                                               << "alice" << true;
        QTest::newRow("handle before line feed") << "/a @alice\n/b @bob"
                                                 << "alice" << true;
        QTest::newRow("handle before CRLF") << "/a @alice\r\n"
                                            << "alice" << true;
        QTest::newRow("handle before tab") << "/a @alice\t@bob"
                                           << "alice" << true;
        QTest::newRow("second occurrence whole") << "/a @alice2 @alice"
                                                 << "alice" << true;
        QTest::newRow("e-mail address") << "/a bob@alice"
                                        << "alice" << false;
        QTest::newRow("case differs") << "/a @Alice"
                                      << "alice" << false;
        QTest::newRow("handle with punctuation") << "/a @alice,"
                                                 << "alice" << false;
        QTest::newRow("no handle") << "/a @bob"
                                   << "alice" << false;
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
