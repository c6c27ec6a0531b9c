#include "GitHubError.h"
#include "GovernanceFiles.h"
#include "GovernanceTestBed.h"
#include "ProtectionRun.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using Status = ProtectionStep::StepStatus;

namespace {

const QString kCommitMessage = QStringLiteral("Initial KeelMark governance configuration");
const QString kRepoPath = QStringLiteral("/repos/acme/ops");
const QString kProtectionPath = QStringLiteral("/repos/acme/ops/branches/main/protection");

QList<Status> statuses(const ProtectionRun &run) {
    QList<Status> result;
    for (const ProtectionStep &step : run.steps())
        result << step.status;
    return result;
}

QJsonObject expectedRules() {
    return QJsonDocument::fromJson(R"({
        "required_status_checks": null,
        "enforce_admins": true,
        "required_pull_request_reviews": {
            "required_approving_review_count": 1,
            "require_code_owner_reviews": true,
            "dismiss_stale_reviews": true
        },
        "restrictions": null,
        "required_linear_history": true,
        "allow_force_pushes": false,
        "allow_deletions": false
    })")
        .object();
}

} // namespace

class TestProtectionRun : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GovernanceTestBed> m_bed;

    // Starts the run and waits for its end.
    void runToEnd(ProtectionRun &run) {
        QSignalSpy finished(&run, &ProtectionRun::finished);
        run.start();
        QVERIFY(finished.count() == 1 || finished.wait(30000));
        QVERIFY(!run.isRunning());
    }

    void verifyGovernanceCommitOnMain(const QString &repo, const QString &expectedParent) {
        GitHubEmulator &emulator = m_bed->emulator;
        const QString head = emulator.mainHeadSha(GovernanceTestBed::org, repo);
        QCOMPARE(emulator.commitMessage(GovernanceTestBed::org, repo, head), kCommitMessage);
        QCOMPARE(emulator.commitParents(GovernanceTestBed::org, repo, head),
                 QStringList{expectedParent});
        const QList<FileEntry> files =
            GovernanceFiles::compose(GovernanceTestBed::owner, GovernanceTestBed::org);
        for (const FileEntry &file : files) {
            const auto stored = emulator.fileOnMain(GovernanceTestBed::org, repo, file.path);
            QVERIFY2(stored.has_value(), qPrintable(file.path));
            QCOMPARE(*stored, file.content.toUtf8());
        }
    }

private slots:
    void init() {
        m_bed = std::make_unique<GovernanceTestBed>();
        QString error;
        QVERIFY2(m_bed->setUp(&error), qPrintable(error));
    }

    void cleanup() { m_bed.reset(); }

    void stepsStartPendingWithTheirLabels() {
        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        QStringList labels;
        for (const ProtectionStep &step : run.steps()) {
            labels << step.label;
            QCOMPARE(step.status, Status::pending);
            QVERIFY(!step.id.isNull());
        }
        QCOMPARE(labels, (QStringList{"Creating repository", "Writing governance files",
                                      "Enabling branch protection", "Verifying setup"}));
        QVERIFY(!run.allComplete());
        QVERIFY(!run.hasFailed());
    }

    void fullRunOnFreshOrganisation() {
        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        QSignalSpy allComplete(&run, &ProtectionRun::allCompleteChanged);
        runToEnd(run);

        QCOMPARE(statuses(run), QList<Status>(4, Status::completed));
        QVERIFY(run.allComplete());
        QVERIFY(!run.hasFailed());
        QCOMPARE(allComplete.count(), 1);
        QVERIFY(m_bed->appState->repoCreated());

        GitHubEmulator &emulator = m_bed->emulator;
        const auto creations = emulator.requests("POST", QStringLiteral("/orgs/acme/repos"));
        QCOMPARE(creations.size(), 1);
        const QJsonObject body = creations.first().json().toObject();
        QCOMPARE(body.value("name").toString(), QStringLiteral("ops"));
        QCOMPARE(body.value("private").toBool(), true);
        QCOMPARE(body.value("auto_init").toBool(), true);

        // Exactly one new commit, on top of the repository's initial commit.
        const QString head = emulator.mainHeadSha(GovernanceTestBed::org, "ops");
        const QStringList parents = emulator.commitParents(GovernanceTestBed::org, "ops", head);
        QCOMPARE(parents.size(), 1);
        QVERIFY(emulator.commitParents(GovernanceTestBed::org, "ops", parents.first()).isEmpty());
        verifyGovernanceCommitOnMain(QStringLiteral("ops"), parents.first());

        QCOMPARE(emulator.protectionOf(GovernanceTestBed::org, "ops"), expectedRules());
        // A fresh repository has nothing to switch off.
        QVERIFY(emulator.requests("DELETE", kProtectionPath).isEmpty());
    }

    void emptyRepoNameMeansOps() {
        m_bed->appState->setRepoName(QString());
        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        runToEnd(run);
        QVERIFY(run.allComplete());
        QVERIFY(m_bed->emulator.repoExists(GovernanceTestBed::org, "ops"));
        for (const QString &call : m_bed->apiCalls()) {
            if (call.contains(QStringLiteral("/repos/")))
                QVERIFY2(call.contains(kRepoPath), qPrintable(call));
        }
    }

    void noSelectedOrganisationDoesNothing() {
        m_bed->appState->setSelectedOrg(std::nullopt);
        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        runToEnd(run);
        QCOMPARE(statuses(run), QList<Status>(4, Status::pending));
        QVERIFY(!run.allComplete());
        QVERIFY(!run.hasFailed());
        QVERIFY(m_bed->apiCalls().isEmpty());
    }

    void rerunOnProtectedRepositoryUnprotectsCommitsAndProtects() {
        GitHubEmulator &emulator = m_bed->emulator;
        QVERIFY(emulator.createRepoDirect(GovernanceTestBed::org, "ops"));
        emulator.setProtection(GovernanceTestBed::org, "ops", expectedRules());
        const QString previousHead = emulator.mainHeadSha(GovernanceTestBed::org, "ops");

        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        runToEnd(run);
        QCOMPARE(statuses(run), QList<Status>(4, Status::completed));
        QVERIFY(run.allComplete());

        const QStringList calls = m_bed->apiCalls();
        const qsizetype disabled = calls.indexOf(QStringLiteral("DELETE ") + kProtectionPath);
        const qsizetype moved = calls.indexOf(QStringLiteral("PATCH ") + kRepoPath +
                                              QStringLiteral("/git/refs/heads/main"));
        const qsizetype enabled = calls.indexOf(QStringLiteral("PUT ") + kProtectionPath);
        QVERIFY2(disabled >= 0 && moved > disabled && enabled > moved,
                 qPrintable(calls.join('\n')));
        QVERIFY(emulator.requests("POST", QStringLiteral("/orgs/acme/repos")).isEmpty());
        verifyGovernanceCommitOnMain(QStringLiteral("ops"), previousHead);
        QCOMPARE(emulator.protectionOf(GovernanceTestBed::org, "ops"), expectedRules());
    }

    void failureAtEachStep_data() {
        QTest::addColumn<int>("failingStep");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status"); // 0: no answer within the transfer time-out
        QTest::addColumn<QString>("message");

        const auto described = [](GitHubError::Kind kind) {
            return GitHubError(kind).description();
        };
        QTest::newRow("creation refused") << 0 << QByteArray("POST") << "/orgs/acme/repos" << 500
                                          << described(GitHubError::fileWriteFailed);
        QTest::newRow("time-out in step 0")
            << 0 << QByteArray("GET") << kRepoPath << 0 << QString();
        QTest::newRow("tree refused") << 1 << QByteArray("POST") << kRepoPath + "/git/trees" << 500
                                      << described(GitHubError::fileWriteFailed);
        QTest::newRow("branch update refused")
            << 1 << QByteArray("PATCH") << kRepoPath + "/git/refs/heads/main" << 422
            << described(GitHubError::fileWriteFailed);
        QTest::newRow("protection refused") << 2 << QByteArray("PUT") << kProtectionPath << 422
                                            << described(GitHubError::branchProtectionFailed);
        QTest::newRow("repository gone at the end") << 3 << QByteArray("GET") << kRepoPath << 404
                                                    << described(GitHubError::repoCreationFailed);
    }

    void failureAtEachStep() {
        QFETCH(int, failingStep);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, message);

        GitHubEmulator &emulator = m_bed->emulator;
        if (status == 0)
            m_bed->gitHub->setTransferTimeout(std::chrono::milliseconds(200));
        const GitHubEmulator::Fault fault =
            status == 0 ? GitHubEmulator::Fault::latency(20000)
                        : GitHubEmulator::Fault::fixed(
                              status, R"({"message":"Injected","documentation_url":"x"})");
        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        if (failingStep == 3) {
            // The same GET answers step 0, so the fault arrives only once
            // step 2 is done.
            connect(&run, &ProtectionRun::stepsChanged, this, [&] {
                if (run.steps().at(2).status == Status::completed)
                    emulator.injectFault(method, path, fault);
            });
        } else {
            emulator.injectFault(method, path, fault);
        }
        runToEnd(run);
        disconnect(&run, &ProtectionRun::stepsChanged, this, nullptr);

        const QList<ProtectionStep> steps = run.steps();
        for (int i = 0; i < 4; ++i) {
            const Status expected = i < failingStep    ? Status::completed
                                    : i == failingStep ? Status::failed
                                                       : Status::pending;
            QCOMPARE(steps.at(i).status, expected);
        }
        if (message.isEmpty())
            QVERIFY(!steps.at(failingStep).message.isEmpty()); // Qt's own transport text
        else
            QCOMPARE(steps.at(failingStep).message, message);
        // GitHub's message is shown only where it tells the admin what to do.
        QVERIFY(steps.at(failingStep).detail.isEmpty());
        QVERIFY(run.hasFailed());
        QVERIFY(!run.allComplete());
        QVERIFY(!m_bed->appState->repoCreated());
        // Nothing after the failed step was attempted.
        if (failingStep < 2)
            QVERIFY(emulator.requests("PUT", kProtectionPath).isEmpty());

        // Retry: every row back to pending first, then the whole run again.
        emulator.clearFaults();
        m_bed->gitHub->setTransferTimeout(std::chrono::seconds(60));
        QList<QList<Status>> seen;
        connect(&run, &ProtectionRun::stepsChanged, this, [&] { seen << statuses(run); });
        QSignalSpy finished(&run, &ProtectionRun::finished);
        run.retry();
        QVERIFY(finished.count() == 1 || finished.wait(30000));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first(), QList<Status>(4, Status::pending));
        QCOMPARE(seen.at(1).first(), Status::inProgress);
        QCOMPARE(statuses(run), QList<Status>(4, Status::completed));
        for (const ProtectionStep &step : run.steps())
            QVERIFY(step.message.isEmpty());
        QVERIFY(!run.hasFailed());
        QVERIFY(run.allComplete());
        QVERIFY(m_bed->appState->repoCreated());
        QCOMPARE(emulator.protectionOf(GovernanceTestBed::org, "ops"), expectedRules());
    }

    void planWithoutProtectionExplainsWhy() {
        GitHubEmulator::OrgOptions options;
        options.refusesPrivateProtection = true;
        m_bed->emulator.setOrgOptions(GovernanceTestBed::org, options);

        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        runToEnd(run);
        const ProtectionStep step = run.steps().at(2);
        QCOMPARE(step.status, Status::failed);
        QCOMPARE(step.message, GitHubError(GitHubError::branchProtectionFailed).description());
        QVERIFY2(step.detail.contains(QStringLiteral("make this repository public")),
                 qPrintable(step.detail));
        QVERIFY(run.hasFailed());
        QVERIFY(!m_bed->appState->repoCreated());

        // Retry starts clean: the second caption line goes with the failure.
        m_bed->emulator.setOrgOptions(GovernanceTestBed::org, {});
        QSignalSpy finished(&run, &ProtectionRun::finished);
        run.retry();
        QVERIFY(finished.wait(30000));
        QVERIFY(run.allComplete());
        QVERIFY(run.steps().at(2).detail.isEmpty());
    }

    void startIsIgnoredWhileRunningAndAfterSuccess() {
        ProtectionRun run(m_bed->appState.get(), m_bed->gitHub.get());
        QSignalSpy finished(&run, &ProtectionRun::finished);
        run.start();
        QVERIFY(run.isRunning());
        run.start();
        run.retry();
        QVERIFY(finished.wait(30000));
        QVERIFY(run.allComplete());
        run.start();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(m_bed->emulator.requests("POST", QStringLiteral("/orgs/acme/repos")).size(), 1);
        QCOMPARE(m_bed->emulator.requests("PUT", kProtectionPath).size(), 1);
    }

    // The progress screen owns the run and may close while a request is in
    // flight; the late answer must not touch the destroyed run.
    void runDestroyedWhileRequestInFlight() {
        GitHubEmulator &emulator = m_bed->emulator;
        emulator.injectFault("POST", kRepoPath + "/git/trees", GitHubEmulator::Fault::latency(300));
        auto *run = new ProtectionRun(m_bed->appState.get(), m_bed->gitHub.get());
        run->start();
        QTRY_COMPARE_WITH_TIMEOUT(run->steps().at(1).status, Status::inProgress, 30000);
        delete run;

        // The file write itself still completes; nothing after it is started.
        QTRY_VERIFY_WITH_TIMEOUT(
            !emulator.requests("PATCH", kRepoPath + "/git/refs/heads/main").isEmpty() &&
                emulator.requests("PATCH", kRepoPath + "/git/refs/heads/main").first().status,
            30000);
        QVERIFY(AsyncTest::waitFor(m_bed->gitHub->repoExists(GovernanceTestBed::org, "ops")));
        QVERIFY(emulator.requests("PUT", kProtectionPath).isEmpty());
        QVERIFY(!m_bed->appState->repoCreated());
    }
};

QTEST_GUILESS_MAIN(TestProtectionRun)
#include "TestProtectionRun.moc"
