#include "AuditRecorder.h"
#include "GitHubTestBench.h"
#include "GovernanceFiles.h"
#include "HealthCheckService.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <utility>

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

    int treeReads() {
        int reads = 0;
        for (const auto &request : emulator().requests())
            reads += request.path.contains("/git/trees/") ? 1 : 0;
        return reads;
    }

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
        state().setSetupComplete(true);
        makeService(std::chrono::seconds(60));
    }

    void cleanup() {
        m_service.reset();
        m_bench.reset();
    }

    // A good check first (its reads overlapping), then one change made in
    // the emulator; the second check must name it or go offline keeping the
    // facts of the first.
    void drift_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("facts"); // repository, CODEOWNERS, protection, team
        QTest::addColumn<MachineStatusState>("status");
        QTest::addColumn<QString>("words");
        const auto ok = MachineStatusState::protected_;
        const auto alert = MachineStatusState::tamperAlert;
        const auto offline = MachineStatusState::offline;
        const struct {
            const char *name, *kind, *facts;
            MachineStatusState status;
            const char *words;
        } rows[] = {
            // clang-format off
            {"no drift", "", "1111", ok, ""},
            {"administrators exempt", "weaken:enforce_admins", "1101", alert, "administrators exempt"},
            {"no approval required", "weaken:required_approving_review_count", "1101", alert, "no approving review required"},
            {"code owner review off", "weaken:require_code_owner_reviews", "1101", alert, "code owner review not required"},
            {"stale approvals kept", "weaken:dismiss_stale_reviews", "1101", alert, "stale approvals kept"},
            {"linear history off", "weaken:required_linear_history", "1101", alert, "linear history not required"},
            {"force pushes allowed", "weaken:allow_force_pushes", "1101", alert, "force pushes allowed"},
            {"deletion allowed", "weaken:allow_deletions", "1101", alert, "branch deletion allowed"},
            {"protection removed", "unprotected", "1101", alert, "Branch protection is off"},
            {"file pushed directly", "push", "1111", alert, ".claude/settings.json changed \u2014 pushed directly by @"},
            {"pushed after an unrelated commit", "push2", "1111", alert, ".claude/settings.json changed \u2014 pushed directly by @"},
            {"reviewed pull request", "reviewed", "1111", ok, ""},
            {"merged while protection off", "unreviewed", "1111", alert, "merged in #1 by @bob without @alice's approval"},
            {"owner handle extended", "extended", "1011", alert, "CODEOWNERS no longer names @alice"},
            {"repository deleted", "repoGone", "0000", alert, "Repository acme/ops not found"},
            {"collaborators failing", "noTeam", "1110", ok, ""},
            {"GitHub unreachable", "timeout", "1111", offline, "GitHub could not be reached"},
            {"GitHub 5xx", "500", "1111", offline, "server error"},
            {"rate limit spent", "rateLimit", "1111", offline, "rate limit is used up"},
            {"sign-in refused", "401", "1111", offline, "GitHub no longer accepts KeelMark's sign-in"},
            {"refresh refused", "refreshRefused", "1111", offline, "GitHub no longer accepts KeelMark's sign-in"},
            {"no token stored", "noToken", "1111", offline, "GitHub no longer accepts KeelMark's sign-in"},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name)
                << row.kind << row.facts << row.status << QString::fromUtf8(row.words);
    }

    void drift() {
        QFETCH(QString, kind);
        QFETCH(QString, facts);
        QFETCH(MachineStatusState, status);
        QFETCH(QString, words);
        // The five first-round reads are in flight at the same time.
        emulator().setLatency(100);
        emulator().resetPeak();
        check();
        QCOMPARE(emulator().peakInFlight(), 5);
        emulator().setLatency(0);
        QCOMPARE(state().machineStatus(), MachineStatusState::protected_);
        QCOMPARE(state().fileFindings(),
                 QStringList{QStringLiteral("Governance files match what you approved")});
        QCOMPARE(state().lastHeartbeat(), std::optional<QDateTime>(kNow));

        const QString codeowners = QStringLiteral(".github/CODEOWNERS");
        if (kind.startsWith("weaken:")) {
            QVERIFY(emulator().weakenProtection("acme", "ops", kind.mid(7)));
        } else if (kind == "reviewed" || kind == "unreviewed") {
            const bool reviewed = kind == "reviewed";
            if (!reviewed)
                emulator().removeProtection("acme", "ops");
            const auto outcome = emulator().pullRequestAs(
                "acme", "ops", "bob", {{".claude/settings.json", "{}"}},
                reviewed ? QStringList{"alice"} : QStringList{}, reviewed ? "alice" : "bob");
            QVERIFY2(outcome.mergeStatus == 200, qPrintable(outcome.message));
            emulator().setProtection("acme", "ops", GitHubTestBench::protectionRules());
        } else if (kind == "push" || kind == "push2") {
            // Several commits since the baseline: each one's files are read.
            if (kind == "push2")
                emulator().writeFileDirect("acme", "ops", "docs/notes.md", "notes\n");
            emulator().writeFileDirect("acme", "ops", ".claude/settings.json", "{}");
        } else if (kind == "extended") {
            emulator().writeFileDirect(
                "acme", "ops", codeowners,
                GovernanceFiles::compose("alice-evil", "acme").first().content.toUtf8());
        } else if (kind == "unprotected") {
            emulator().removeProtection("acme", "ops");
        } else if (kind == "repoGone") {
            QVERIFY(emulator().deleteRepo("acme", "ops"));
        } else if (kind == "noTeam") {
            emulator().injectFault("GET", "/repos/acme/ops/collaborators",
                                   GitHubEmulator::Fault::fixed(500, R"({"message":"Error"})"));
        } else if (kind == "timeout") {
            // A dropped connection can still carry a whole 304; a time-out
            // cannot.
            m_bench->gitHub->setTransferTimeout(std::chrono::milliseconds(300));
            emulator().injectFault("*", "/**", GitHubEmulator::Fault::latency(3000));
        } else if (kind == "500" || kind == "401") {
            emulator().injectFault(
                "GET", "/repos/acme/ops/**",
                GitHubEmulator::Fault::fixed(kind.toInt(), R"({"message":"x"})"));
        } else if (kind == "rateLimit") {
            emulator().injectFault("*", "/**", GitHubEmulator::Fault::rateLimit());
        } else if (kind == "refreshRefused") {
            QVERIFY(m_bench->restore(*m_bench->gitHub->oauthToken(), "ghr_revoked",
                                     "2001-01-01T00:00:00Z"));
        } else if (kind == "noToken") {
            m_bench->restore({});
        }
        makeService(std::chrono::seconds(60), kNow.addSecs(60));
        AuditRecorder audit(m_bench->stateDir.path());
        m_service->setAuditRecorder(&audit);
        check();

        // Only a change accepted through review moves the baseline and says so.
        const QList<AuditRecord> recorded = audit.trail().records();
        QCOMPARE(recorded.size(), kind == "reviewed" ? 1 : 0);
        if (kind == "reviewed")
            QVERIFY2(recorded[0].kind == "baseline" && recorded[0].message.contains("merged in #1"),
                     qPrintable(recorded[0].message));

        QString seen;
        for (bool fact : {state().repoCreated(), state().codeownersValid(),
                          state().branchProtectionEnabled(), bobListed()})
            seen += fact ? u'1' : u'0';
        QCOMPARE(seen, facts);
        QCOMPARE(state().machineStatus(), status);
        const QString reasons = state().statusReasons().join(u'\n');
        QVERIFY2(words.isEmpty() ? reasons.isEmpty() : reasons.contains(words),
                 qPrintable(reasons));
        // Offline keeps the time of the last good check; refusals say so.
        QCOMPARE(state().lastHeartbeat(),
                 std::optional<QDateTime>(
                     status == MachineStatusState::offline ? kNow : kNow.addSecs(60)));
        QCOMPARE(state().checkSignInRefused(),
                 kind == "401" || kind == "refreshRefused" || kind == "noToken");
    }

    // Nothing changed: one round trip, every read answered 304 (free of
    // rate limit). An unrelated commit costs one tree read, once.
    void steadyStateAndUnrelatedCommits() {
        check();
        emulator().clearRequests();
        const int used = emulator().rateLimitUsed("alice");
        check();
        QCOMPARE(emulator().rateLimitUsed("alice"), used);
        const auto steady = emulator().requests();
        QCOMPARE(steady.size(), 5);
        for (const auto &request : steady) {
            QVERIFY2(!request.header("if-none-match").isEmpty(), qPrintable(request.path));
            QCOMPARE(request.status, 304);
        }

        emulator().writeFileDirect("acme", "ops", "notes/unrelated.md", "hello");
        emulator().clearRequests();
        check();
        QCOMPARE(state().machineStatus(), MachineStatusState::protected_);
        QCOMPARE(treeReads(), 1);
        emulator().clearRequests();
        check();
        QCOMPARE(treeReads(), 0);
        QCOMPARE(state().machineStatus(), MachineStatusState::protected_);

        // The next change is traced from the commit last found clean, not
        // from the approved one.
        const QString clean = emulator().mainHeadSha("acme", "ops");
        emulator().writeFileDirect("acme", "ops", "CLAUDE.md", "rewritten");
        emulator().clearRequests();
        check();
        QCOMPARE(state().machineStatus(), MachineStatusState::tamperAlert);
        const auto compares = emulator().requests("GET", "/repos/acme/ops/compare/*");
        QCOMPARE(compares.size(), 1);
        QVERIFY2(compares[0].path.startsWith("/repos/acme/ops/compare/" + clean + "..."),
                 qPrintable(compares[0].path));
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
                               GitHubEmulator::Fault::latency(4000, 1));
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
        QCOMPARE(state().machineStatus(), MachineStatusState::tamperAlert);
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
        // Settled once nothing is in flight and nothing queued in the client
        // arrives either; a check torn down mid-way would leak its frame.
        qsizetype sent = -1;
        QTRY_VERIFY_WITH_TIMEOUT(std::exchange(sent, emulator().requests().size()) == sent &&
                                     emulator().inFlight() == 0,
                                 30000);
        QVERIFY(AsyncTest::waitFor(m_bench->gitHub->repoExists("acme", "ops")));
        QCOMPARE(finished.count(), seen);
    }

    // A refused sign-in pauses the beat instead of collecting the same 401
    // every interval; a check asked for still goes out, and the first one
    // GitHub answers lets the beat go on.
    void heartbeatWaitsWhileTheSignInIsRefused() {
        emulator().injectFault(
            "GET", "/repos/acme/ops/**",
            GitHubEmulator::Fault::fixed(401, R"({"message":"Bad credentials"})"));
        makeService(std::chrono::milliseconds(50));
        QSignalSpy finished(m_service.get(), &HealthCheckService::healthCheckFinished);
        m_service->startHeartbeat(&state());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QVERIFY(state().checkSignInRefused());
        QTest::qWait(100);
        emulator().clearRequests();
        QTest::qWait(400);
        QCOMPARE(emulator().requests().size(), 0);
        QCOMPARE(state().machineStatus(), MachineStatusState::offline);

        emulator().clearFaults();
        check();
        QVERIFY(!state().checkSignInRefused());
        QCOMPARE(state().machineStatus(), MachineStatusState::protected_);
        const qsizetype seen = finished.count();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > seen + 1, 30000);
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
